// The panel's start-up as main() does it, with the CPU time of the main
// thread spent in each step up to the first painted frame, then it quits:
//
//   talmir880-startup-phases     (needs a display; see startup_phases.sh)
//
// Prints one line: "libraries MS QApplication MS FormWindow MS Form_Load MS
// show MS paint MS main MS process MS". The main thread's time is its own
// (CLOCK_THREAD_CPUTIME_ID), so other threads and the machine's load weigh
// less on it than on the wall clock; "process" is all threads, from exec.
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <ctime>

#include "app/form1.hpp"
#include "app/qt/font_config_reader.hpp"
#include "app/qt/form_window.hpp"
#include "device/qt/qt_delivery.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "toolkit/qt/qt_message_boxes.hpp"

namespace {

double thread_cpu_ms() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double process_cpu_ms() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto ms = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
  };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

double last = 0;
void step(const char* name) {
  const double now = thread_cpu_ms();
  std::printf("%s %.2f ", name, now - last);
  last = now;
}

// The first paint of the window is handled in the UpdateRequest that follows
// its exposure; the next turn of the loop comes once it is on the screen.
class FirstPaint : public QObject {
 public:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest && !seen_) {
      seen_ = true;
      QTimer::singleShot(0, [] {
        step("paint");
        std::printf("main %.2f process %.2f\n", thread_cpu_ms(), process_cpu_ms());
        QCoreApplication::quit();
      });
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  bool seen_ = false;
};

}  // namespace

int main(int argc, char* argv[]) {
  // Loading and linking the libraries, before main() runs.
  step("libraries");
  talmir880::FontConfigReader font_config;
  QApplication app(argc, argv);
  const talmir880::QtDelivery delivery;
  font_config.wait();
  step("QApplication");
  talmir880::QtSerialPort port;
  talmir880::QtMessageBoxes boxes;
  talmir880::Form1 form(port, boxes);
  talmir880::FormWindow window(form);
  step("FormWindow");
  form.Form_Load();
  step("Form_Load");
  FirstPaint first_paint;
  window.installEventFilter(&first_paint);
  window.show();
  step("show");
  return app.exec();
}
