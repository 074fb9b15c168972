// The real panel (Form1, its Qt face, QSerialPort, the port-name rule),
// offscreen, driving continuous sweeps against a simulator already linked as
// COM9. It reports what a user cannot see: passes completed, CPU per pass,
// characters followed, memory, and every message the panel showed.
//
//   talmir880-sweep-harness [--passes N] [--points P] [--cycles C] [--changes]
//
// Each cycle runs CONT for N passes, then STOP SWEEP; with --changes an RF
// entry and a level change go out (and are acknowledged) between cycles.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "app/form1.hpp"
#include "app/qt/form_window.hpp"
#include "device/qt/qt_delivery.hpp"
#include "link/qt/qt_serial_port.hpp"

namespace talmir880 {
namespace {

// Counts what crosses the port on its way between the panel and QSerialPort.
class CountingPort : public SerialPort, private PortEvents {
 public:
  CountingPort() { inner_.hear(this); }
  void set_CommPort(int n) override { inner_.set_CommPort(n); }
  void set_Settings(const std::string& s) override { inner_.set_Settings(s); }
  bool PortOpen() const override { return inner_.PortOpen(); }
  void set_PortOpen(bool open) override { inner_.set_PortOpen(open); }
  void Output(std::string_view data) override {
    if (data.rfind("$W", 0) == 0) ++sweeps_sent;
    inner_.Output(data);
  }
  std::string Input() override {
    std::string in = inner_.Input();
    chars_received += in.size();
    acknowledgements += std::count(in.begin(), in.end(), 'R');  // one R per reply
    return in;
  }

  long sweeps_sent = 0;
  long acknowledgements = 0;
  unsigned long long chars_received = 0;

 private:
  void OnComm() override { raise_OnComm(); }

  QtSerialPort inner_;
};

// Boxes that are counted and printed instead of waiting for a person.
class CountingBoxes : public MessageBoxes {
 public:
  Answer show(const Message& m) override {
    std::printf("MESSAGE \"%s\"\n", m.text.c_str());
    shown.push_back(m.text);
    return Answer::Ok;
  }
  std::vector<std::string> shown;
};

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long resident_kib() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Times the process (or its main thread) went to sleep waiting for
// something: its wake-ups.
long wakeups(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_nvcsw;
}

long peak_kib() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// Lets events run until done() or the deadline; false on the deadline.
// done() is looked at after every event the panel handles, and the only
// timer of the harness's own is the deadline, so waiting adds no wake-ups to
// those being measured (processEvents with a time limit would spin).
bool wait_until(const std::function<bool()>& done, int deadline_ms) {
  QTimer deadline;
  deadline.setSingleShot(true);
  deadline.start(deadline_ms);
  while (!done()) {
    if (!deadline.isActive()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

struct Options {
  long passes = 10;
  int points = 9999;
  int cycles = 1;
  bool changes = false;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
    if (!std::strcmp(argv[i], "--passes")) {
      o.passes = std::atol(next());
    } else if (!std::strcmp(argv[i], "--points")) {
      o.points = std::atoi(next());
    } else if (!std::strcmp(argv[i], "--cycles")) {
      o.cycles = std::atoi(next());
    } else if (!std::strcmp(argv[i], "--changes")) {
      o.changes = true;
    } else {
      std::fprintf(stderr, "usage: %s [--passes N] [--points P] [--cycles C] [--changes]\n",
                   argv[0]);
      std::exit(2);
    }
  }
  return o;
}

int run(const Options& o) {
  CountingPort port;
  CountingBoxes boxes;
  Form1 form(port, boxes);
  FormWindow window(form);
  form.Form_Load();
  window.show();

  form.Command_uart_port_open.click();
  if (!port.PortOpen()) {
    std::fprintf(stderr, "no simulator on COM9\n");
    return 1;
  }
  form.Text_sample.type(std::to_string(o.points));
  const double chars_per_pass = 4.0 * o.points;
  // Generous: a 9999-point pass takes 6.9 s at 57600 baud.
  const int pass_deadline_ms = static_cast<int>(chars_per_pass * 10 / 57600 * 1000 * 3) + 2000;

  long passes_done = 0;
  double cpu_total = 0, seconds_total = 0;
  long wakeups_total = 0, main_wakeups_total = 0;
  unsigned long long chars_total = 0;
  long rss_after_first = 0;
  const long peak_start = peak_kib();
  bool complete = true;

  for (int cycle = 0; cycle < o.cycles && complete; ++cycle) {
    if (o.changes && cycle > 0) {
      const long acks = port.acknowledgements;
      form.run([&] {
        form.Text_send.set_Text("RF " + std::to_string(100 + cycle) + "MHz");
        form.tuning.Send_entry();
      });
      form.run([&] { form.Combo1.pick(cycle % 4); });
      wait_until([&] { return port.acknowledgements >= acks + 2; }, 2000);
    }
    const long first_sweep = port.sweeps_sent;
    const unsigned long long chars_before = port.chars_received;
    const double cpu_before = cpu_seconds();
    const long wakeups_before = wakeups();
    const long main_wakeups_before = wakeups(RUSAGE_THREAD);
    QElapsedTimer clock;
    clock.start();
    form.run([&] { form.Command_cont.click(); });
    // N passes are complete when the (N+1)th sweep command goes out.
    for (long p = 1; p <= o.passes; ++p) {
      if (!wait_until([&] { return port.sweeps_sent - first_sweep > p; }, pass_deadline_ms)) {
        complete = false;
        break;
      }
      ++passes_done;
      if (passes_done == 10) rss_after_first = resident_kib();
    }
    cpu_total += cpu_seconds() - cpu_before;
    wakeups_total += wakeups() - wakeups_before;
    main_wakeups_total += wakeups(RUSAGE_THREAD) - main_wakeups_before;
    seconds_total += static_cast<double>(clock.elapsed()) / 1000;
    chars_total += port.chars_received - chars_before;
    form.run([&] { form.Command_stop.click(); });
    complete =
        complete && wait_until([&] { return form.Command_signal.Enabled(); }, pass_deadline_ms);
  }

  std::printf("passes completed      %ld of %ld\n", passes_done, o.passes * o.cycles);
  std::printf("every pass completed  %s\n", complete ? "yes" : "NO");
  std::printf("commands acknowledged %ld\n", port.acknowledgements);
  std::printf("CPU seconds per pass  %.4f\n", passes_done ? cpu_total / passes_done : 0.0);
  std::printf("CPU share of one core %.2f %%\n",
              seconds_total ? 100 * cpu_total / seconds_total : 0.0);
  std::printf("characters per second %.0f\n", seconds_total ? chars_total / seconds_total : 0.0);
  std::printf("wake-ups per second   %.0f, of the main thread %.0f\n",
              seconds_total ? wakeups_total / seconds_total : 0.0,
              seconds_total ? main_wakeups_total / seconds_total : 0.0);
  std::printf("resident after 10 passes %ld KiB, at the end %ld KiB\n", rss_after_first,
              resident_kib());
  std::printf("peak resident at start %ld KiB, at the end %ld KiB\n", peak_start, peak_kib());
  std::printf("messages shown        %zu\n", boxes.shown.size());
  return complete && boxes.shown.empty() ? 0 : 1;
}

}  // namespace
}  // namespace talmir880

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  return talmir880::run(talmir880::parse(argc, argv));
}
