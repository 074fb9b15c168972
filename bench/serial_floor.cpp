// The floor under the panel's sweep CPU: a bare QSerialPort on COM9 that
// writes the sweep command CONT writes with the panel's start-up fields,
// reads everything with readAll on every readyRead, and writes it again as
// soon as a pass's characters are in, as a continuous sweep does. Whatever
// the panel spends above this is its own; this is what reading the stream
// through Qt costs at all. It reports in the sweep harness's words, from the
// first write to the end of the last pass, for bench/sweep_cpu.py.
//
//   talmir880-serial-floor [--passes N] [--points P]
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "platform/ports_folder.hpp"
#include "protocol/commands.hpp"

namespace {

using namespace talmir880;

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long wakeups() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_nvcsw;
}

struct Options {
  long passes = 10;
  int points = 9999;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    auto next = [&] { return i + 1 < argc ? argv[++i] : "0"; };
    if (!std::strcmp(argv[i], "--passes")) {
      o.passes = std::atol(next());
    } else if (!std::strcmp(argv[i], "--points")) {
      o.points = std::atoi(next());
    } else {
      std::fprintf(stderr, "usage: %s [--passes N] [--points P]\n", argv[0]);
      std::exit(2);
    }
  }
  return o;
}

int run(const Options& o) {
  const std::optional<std::string> device = resolve_port_link(9);
  if (!device) {
    std::fprintf(stderr, "no simulator on COM9\n");
    return 1;
  }
  QSerialPort port(QString::fromStdString(*device));
  const std::string_view baud = protocol::baud_of(protocol::kStartUpSpeed);
  if (!port.open(QIODevice::ReadWrite) || !port.setBaudRate(std::atoi(std::string(baud).c_str())) ||
      !port.setParity(QSerialPort::NoParity) || !port.setDataBits(QSerialPort::Data8) ||
      !port.setStopBits(QSerialPort::OneStop) || !port.setFlowControl(QSerialPort::NoFlowControl)) {
    std::fprintf(stderr, "%s: %s\n", device->c_str(), port.errorString().toLocal8Bit().constData());
    return 1;
  }

  // The command SIGNAL builds from the fields the panel starts with.
  const protocol::StartUp& s = protocol::kStartUp;
  const double step = (s.sweep_end_hz - s.sweep_start_hz) / o.points;
  const std::string command = protocol::sweep(s.sweep_start_hz, step, o.points);
  const unsigned long long chars_per_pass = protocol::kCharsPerSweepPoint * o.points;
  // As generous as the harness's.
  const int pass_deadline_ms = static_cast<int>(chars_per_pass * 10.0 / 57600 * 1000 * 3) + 2000;

  long passes_done = 0;
  unsigned long long in_pass = 0, chars_total = 0;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(1); });
  auto send = [&] {
    in_pass = 0;
    port.write(command.data(), static_cast<qint64>(command.size()));
    deadline.start(pass_deadline_ms);
  };
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    const QByteArray bytes = port.readAll();
    in_pass += static_cast<unsigned long long>(bytes.size());
    chars_total += static_cast<unsigned long long>(bytes.size());
    if (in_pass < chars_per_pass) return;
    if (++passes_done == o.passes) {
      QCoreApplication::exit(0);
    } else {
      send();
    }
  });
  QObject::connect(&port, &QSerialPort::errorOccurred, [](QSerialPort::SerialPortError e) {
    if (e != QSerialPort::NoError) QCoreApplication::exit(1);
  });

  const double cpu_before = cpu_seconds();
  const long wakeups_before = wakeups();
  QElapsedTimer clock;
  clock.start();
  send();
  const bool complete = QCoreApplication::exec() == 0;
  const double cpu = cpu_seconds() - cpu_before;
  const double seconds = static_cast<double>(clock.elapsed()) / 1000;
  const long woke = wakeups() - wakeups_before;

  std::printf("passes completed      %ld of %ld\n", passes_done, o.passes);
  std::printf("every pass completed  %s\n", complete ? "yes" : "NO");
  std::printf("CPU seconds per pass  %.4f\n", passes_done ? cpu / passes_done : 0.0);
  std::printf("CPU share of one core %.2f %%\n", seconds ? 100 * cpu / seconds : 0.0);
  std::printf("characters per second %.0f\n", seconds ? chars_total / seconds : 0.0);
  std::printf("wake-ups per second   %.0f\n", seconds ? woke / seconds : 0.0);
  return complete ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  return run(parse(argc, argv));
}
