#include <QSerialPortInfo>
#include <string>

#include "app/form1.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "support/pty_fixture.hpp"
#include "support/scripted_boxes.hpp"

namespace talmir880 {
namespace {

using testing::cpu_ms;
using testing::Pty;
using testing::run_for;
using testing::run_until;

// The device end goes away while the port is open, as when a USB adapter is
// pulled or the simulator quits.
class LostDevice : public testing::PortsFolderTest {
 protected:
  static constexpr int kPort = 4;

  void SetUp() override {
    PortsFolderTest::SetUp();
    ASSERT_TRUE(device.ok());
    link(kPort, device);
    form.Form_Load();
    form.Combo3.pick(2);
    // The receive handler runs once per OnComm; count them.
    counter.window = port.hearer();
    port.hear(&counter);
    // A real message box keeps the event loop turning while it is open.
    boxes.while_open = [] { run_for(50); };
    form.COM_Combo.pick(kPort - 1);
    form.Command_uart_port_open.click();
    ASSERT_TRUE(port.PortOpen());
  }

  int shown(const std::string& text) const {
    int count = 0;
    for (const Message& m : boxes.shown) count += m.text == text;
    return count;
  }

  Pty device;
  QtSerialPort port;
  talmir880::testing::ScriptedBoxes boxes;
  Form1 form{port, boxes};
  struct Counter final : PortEvents {
    void OnComm() override {
      ++events;
      window->OnComm();
    }
    PortEvents* window = nullptr;
    int events = 0;
  } counter;
  const int& events = counter.events;
};

TEST_F(LostDevice, IsReportedOnceAndTheProcessGoesIdle) {
  device.vanish();
  ASSERT_TRUE(run_until([&] { return !boxes.shown.empty(); }));

  // Idle, the loop costs well under a millisecond here; a dead handle that is
  // still watched keeps a core busy.
  const double before = cpu_ms();
  run_for(300);
  const double used = cpu_ms() - before;
  EXPECT_LT(used, 50.0) << "the dead handle is still being watched";

  EXPECT_EQ(events, 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Receive data error!");
  EXPECT_EQ(boxes.shown[0].title, "TALMIR-880");
  EXPECT_TRUE(port.PortOpen()) << "only the user closes the port";
  EXPECT_TRUE(port.lost());
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT OPEN");
}

TEST_F(LostDevice, ADeviceThatHangsUpInTheMiddleOfAStreamIsReportedOnce) {
  // Points in a row, each once the last is told.
  std::string sent;
  for (int i = 0; i < 50; ++i) {
    sent += "0000";
    device.send("0000");
    ASSERT_TRUE(run_until([&] { return form.link.receive_data.size() == sent.size(); }));
  }
  sent += "0001";
  device.send("0001");
  device.vanish();
  ASSERT_TRUE(run_until([&] { return !boxes.shown.empty(); }));
  run_for(100);

  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "Receive data error!");
  EXPECT_TRUE(port.lost());
  // What was told before the fault was sent, in order; the system may drop
  // what the device sent just before it hung up.
  EXPECT_EQ(form.link.receive_data.text(), sent.substr(0, form.link.receive_data.size()));
}

TEST_F(LostDevice, LaterReadsAreEmptyAndWritesFail) {
  device.vanish();
  ASSERT_TRUE(run_until([&] { return events == 1; }));
  EXPECT_EQ(port.Input(), "");
  EXPECT_THROW(port.Output("$P3"), PortError);

  form.run([&] { port.Output("$P3"); });
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].text, "Send data error!");
}

TEST_F(LostDevice, TheFaultIsThrownOnceByInput) {
  port.hear(nullptr);
  device.vanish();
  ASSERT_TRUE(run_until([&] { return port.lost(); }));
  run_for(50);
  try {
    port.Input();
    FAIL() << "the loss went untold";
  } catch (const PortError& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find(device.slave_path()), std::string::npos) << what;
    EXPECT_NE(what.find("hung up"), std::string::npos) << what;
  }
  EXPECT_EQ(port.Input(), "");
}

TEST_F(LostDevice, TheUserClosesQuietlyAndOpensAgainOnceTheDeviceIsBack) {
  device.vanish();
  ASSERT_TRUE(run_until([&] { return !boxes.shown.empty(); }));

  form.Command_uart_port_closed.click();
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT CLOSED");
  EXPECT_EQ(boxes.shown.size(), 1u);

  Pty back;
  ASSERT_TRUE(back.ok());
  link(kPort, back);
  form.Command_uart_port_open.click();
  EXPECT_TRUE(port.PortOpen());
  EXPECT_FALSE(port.lost());
  EXPECT_EQ(form.Label_COM_state.Caption(), "PORT OPEN");
  EXPECT_EQ(shown("    COM PORT ERROR!"), 0);

  port.Output("$P3");
  std::string got;
  ASSERT_TRUE(run_until([&] {
    got += back.take();
    return got.size() >= 3;
  }));
  EXPECT_EQ(got, "$P3");
  back.send("R");
  run_for(50);
  EXPECT_EQ(boxes.shown.size(), 1u) << "a reply on the new device is no fault";
}

}  // namespace
}  // namespace talmir880
