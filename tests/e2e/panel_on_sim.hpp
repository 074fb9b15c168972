#pragma once

// The panel as a user has it, against talmir880-sim started by the test in a
// private XDG_RUNTIME_DIR. Widgets are found by their control's name.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QTcpSocket>

#include <signal.h>

#include "app/form1.hpp"
#include "app/qt/form_window.hpp"
#include "app/served_panel.hpp"
#include "link/qt/qt_countdown.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "scpi/qt/tcp_transport.hpp"
#include "support/pty_fixture.hpp"
#include "support/scripted_boxes.hpp"
#include "support/temp_runtime_dir.hpp"
#include "toolkit/qt/widget_bindings.hpp"

namespace talmir880::testing {

class Sim {
 public:
  explicit Sim(QStringList args) {
    args.prepend("9");
    args.prepend("--port");
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_, [this] {
      while (process_.canReadLine()) {
        lines_.push_back(process_.readLine().trimmed().toStdString());
      }
    });
    process_.start(TALMIR880_SIM_PATH, args);
    started_ = run_until([this] { return !lines_.empty(); });
  }
  ~Sim() { stop(); }
  Sim(const Sim&) = delete;
  Sim& operator=(const Sim&) = delete;

  bool started() const { return started_; }
  void stop() {
    if (process_.state() == QProcess::NotRunning) return;
    signal(SIGCONT);  // a stopped one would not hear SIGTERM
    process_.terminate();
    process_.waitForFinished(3000);
  }
  bool running() const { return process_.state() != QProcess::NotRunning; }
  // SIGSTOP: a device that stops answering, and takes nothing, until SIGCONT.
  bool signal(int sig) { return ::kill(static_cast<pid_t>(process_.processId()), sig) == 0; }

  const std::vector<std::string>& lines() const { return lines_; }
  std::size_t count(const std::string& prefix) const {
    std::size_t n = 0;
    for (const std::string& l : lines_) n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
  bool wait_for(const std::string& prefix, std::size_t times = 1, int ms = 5000) {
    return run_until([&] { return count(prefix) >= times; }, ms);
  }

 private:
  QProcess process_;
  std::vector<std::string> lines_;
  bool started_ = false;
};

// The panel's SCPI instrument on a loopback socket, as `talmir880 --listen`
// makes it, with the clocks it runs on.
struct Serving {
  Serving(Form1& form, QtSerialPort& port)
      : watchdog(kAcknowledgeTimeout, [this] { served.instrument().watchdog_ran_out(); }),
        stall(kSweepStallTimeout, [this] { served.instrument().stall_ran_out(); }),
        quiet([&port] { return pass_quiet_time(parse_settings(port.Settings()).baud); },
              [this] { served.instrument().quiet_ran_out(); }),
        reopen(kReopenInterval, [this] { served.instrument().reopen_ran_out(); }),
        served(form, {watchdog, stall, quiet, reopen}),
        server(served.instrument()) {
    std::string why;
    listening = server.listen("127.0.0.1", 0, why);
  }
  QtCountdown watchdog, stall, quiet, reopen;
  ServedPanel served;
  scpi::TcpTransport server;
  bool listening = false;
};

class PanelOnSim : public ::testing::Test {
 protected:
  void SetUp() override {
    // A modal box keeps the event loop running while it is open.
    boxes.while_open = [] { run_for(30); };
    window = std::make_unique<FormWindow>(form);
    form.Form_Load();
    window->show();
    // Every test again with the panel serving and a client connected and
    // idle: the panel's bytes must not change.
    if (serve || std::getenv("TALMIR880_E2E_LISTEN") != nullptr) {
      serving = std::make_unique<Serving>(form, port);
      ASSERT_TRUE(serving->listening);
      if (!serve) {
        idle_client.connectToHost(QHostAddress::LocalHost, serving->server.port());
        ASSERT_TRUE(
            run_until([this] { return idle_client.state() == QAbstractSocket::ConnectedState; }));
      }
    }
  }
  void TearDown() override {
    idle_client.abort();
    serving.reset();
    window.reset();
    sim.reset();
  }

  void start_sim(QStringList args = {}) {
    sim = std::make_unique<Sim>(std::move(args));
    ASSERT_TRUE(sim->started());
  }

  template <typename W>
  W& widget(const char* name) {
    W* w = window->findChild<W*>(name);
    EXPECT_NE(w, nullptr) << name;
    return *w;
  }
  void click(const char* name) { widget<QPushButton>(name).click(); }
  void keys(std::initializer_list<const char*> names) {
    for (const char* n : names) click(n);
  }
  void pick(const char* name, int index) {
    auto& combo = widget<QComboBox>(name);
    combo.setCurrentIndex(index);
    emit combo.activated(index);
  }
  void type(const char* name, const char* text) {
    auto& edit = widget<QLineEdit>(name);
    edit.setText(QString::fromUtf8(text));
    emit edit.textEdited(edit.text());
  }
  std::string text_of(const char* name) { return widget<QLabel>(name).text().toStdString(); }
  std::vector<std::string> shown() const {
    std::vector<std::string> out;
    for (const Message& m : boxes.shown) out.push_back(m.text);
    return out;
  }
  // The open button, with the simulator's port selected at start-up.
  void open_port() {
    click("Command_uart_port_open");
    ASSERT_TRUE(port.PortOpen()) << (shown().empty() ? "" : shown().back());
  }
  // Everything on the way settles: writes flushed, replies handled.
  void settle(int ms = 150) { run_for(ms); }

  TempRuntimeDir runtime_{"talmir880-e2e"};
  QtSerialPort port;
  ScriptedBoxes boxes;
  Form1 form{port, boxes};
  std::unique_ptr<FormWindow> window;
  std::unique_ptr<Sim> sim;
  // Set by a fixture whose tests drive the panel's instrument themselves.
  bool serve = false;
  std::unique_ptr<Serving> serving;
  QTcpSocket idle_client;
};

}  // namespace talmir880::testing
