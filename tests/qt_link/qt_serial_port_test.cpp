#include "link/qt/qt_serial_port.hpp"

#include <sys/stat.h>
#include <termios.h>

#include <QSerialPortInfo>
#include <string>

#include "app/form1.hpp"
#include "support/pty_fixture.hpp"
#include "support/scripted_boxes.hpp"

namespace talmir880 {
namespace {

using testing::Pty;
using testing::run_until;

const std::string kPanelTitleText = "TALMIR-880控制软件";

// The panel's core with the real port behind it, its COM3 leading to a
// pseudo-terminal the test plays the device on.
class QtSerialPortTest : public testing::PortsFolderTest {
 protected:
  static constexpr int kPort = 3;

  void SetUp() override {
    PortsFolderTest::SetUp();
    ASSERT_TRUE(device.ok());
    link(kPort, device);
    form.Form_Load();
    // Never the machine's own COM1 by accident: it may be the console.
    port.set_CommPort(kPort);
  }

  void open_port(int n = kPort) {
    form.COM_Combo.pick(n - 1);
    form.Command_uart_port_open.click();
  }
  void english() { form.Combo3.pick(2); }
  const std::string& port_state() const { return form.Label_COM_state.Caption(); }

  // What the device receives, waiting until `size` bytes are there.
  static std::string device_reads(const Pty& from, std::size_t size) {
    std::string got;
    run_until([&] {
      got += from.take();
      return got.size() >= size;
    });
    return got;
  }

  // A port number neither the folder nor the system has.
  static int unused_port() {
    int n = static_cast<int>(QSerialPortInfo::availablePorts().size()) + 1;
    return n == kPort ? n + 1 : n;
  }
  // The same, when COM_Combo lists it; 0 on a machine with many ports.
  static int unused_listed_port() { return unused_port() <= 10 ? unused_port() : 0; }

  Pty device;
  QtSerialPort port;
  talmir880::testing::ScriptedBoxes boxes;
  Form1 form{port, boxes};
};

TEST_F(QtSerialPortTest, TheOpenButtonOpensTheLinkedPort) {
  open_port();
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_TRUE(port.PortOpen());
  EXPECT_EQ(port_state(), "串口打开");
  EXPECT_EQ(port.CommPort(), kPort);
  EXPECT_EQ(port.device(), device.slave_path());
  EXPECT_EQ(port.Settings(), "57600,n,8,1");
}

TEST_F(QtSerialPortTest, TheLineIsSetAsTheSettingsSayWithNoFlowControl) {
  form.BAU_Combo.pick(5);
  open_port();
  ASSERT_TRUE(port.PortOpen());
  termios line{};
  ASSERT_EQ(tcgetattr(device.master(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B9600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(line.c_iflag & (IXON | IXOFF), 0u);
  form.Command_uart_port_closed.click();

  port.set_Settings("57600,n,8,2");
  port.set_PortOpen(true);
  ASSERT_EQ(tcgetattr(device.master(), &line), 0);
  EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B57600));
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB), static_cast<tcflag_t>(CSTOPB));
}

// A pseudo-terminal keeps to 8 data bits and no parity, and QSerialPort reads
// the line back, so asking for more fails as an adapter fails a speed it lacks.
TEST_F(QtSerialPortTest, ALineTheDriverRefusesFailsTheOpen) {
  for (const char* settings : {"57600,e,8,1", "9600,n,7,1"}) {
    port.set_Settings(settings);
    try {
      port.set_PortOpen(true);
      ADD_FAILURE() << "opened with " << settings;
      port.set_PortOpen(false);
    } catch (const PortError& e) {
      EXPECT_NE(std::string(e.what()).find(device.slave_path()), std::string::npos) << e.what();
    }
    EXPECT_FALSE(port.PortOpen()) << settings;
  }
  port.set_Settings("57600,n,8,1");
  port.set_PortOpen(true);
  EXPECT_TRUE(port.PortOpen()) << "a refused open leaves the device free";
}

TEST_F(QtSerialPortTest, OutputWritesTheBytesAsGiven) {
  open_port();
  ASSERT_TRUE(port.PortOpen());
  const std::string command = "$F001000000";
  port.Output(command);
  EXPECT_EQ(device_reads(device, command.size()), command);

  const std::string odd_bytes("\x00\xff\r\n$", 5);
  port.Output(odd_bytes);
  EXPECT_EQ(device_reads(device, odd_bytes.size()), odd_bytes);
}

TEST_F(QtSerialPortTest, DeviceBytesReachTheReceiveHandler) {
  open_port();
  ASSERT_TRUE(port.PortOpen());
  device.send("0123");
  ASSERT_TRUE(run_until([&] { return form.link.receive_data.size() == 4; }));
  EXPECT_EQ(form.link.receive_data.text(), "0123");
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(QtSerialPortTest, InputHandsOverEveryByteOnceAsOneCharEach) {
  QtSerialPort own;
  struct Reader final : PortEvents {
    explicit Reader(SerialPort& port) : port(port) {}
    void OnComm() override {
      ++events;
      got += port.Input();
    }
    SerialPort& port;
    std::string got;
    int events = 0;
  } reader{own};
  own.hear(&reader);
  const std::string& got = reader.got;
  const int& events = reader.events;
  own.set_CommPort(kPort);
  own.set_PortOpen(true);
  const std::string sent("R\x00\x80\xffok", 6);
  device.send(sent);
  ASSERT_TRUE(run_until([&] { return got.size() >= sent.size(); }));
  EXPECT_EQ(got, sent);
  EXPECT_GE(events, 1);
  EXPECT_EQ(own.Input(), "");
}

TEST_F(QtSerialPortTest, AMissingPortShowsThePortErrorAndLeavesTheLabel) {
  const int n = unused_listed_port();
  if (n == 0) GTEST_SKIP() << "every port in the list exists on this machine";
  english();
  const std::string before = port_state();
  open_port(n);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "    COM PORT ERROR!");
  EXPECT_EQ(boxes.shown[0].title, kPanelTitleText);
  EXPECT_EQ(port_state(), before);
  EXPECT_FALSE(port.PortOpen());
}

TEST_F(QtSerialPortTest, AMissingPortSaysWhichOne) {
  const int n = unused_port();
  QtSerialPort own;
  own.set_CommPort(n);
  try {
    own.set_PortOpen(true);
    FAIL() << "opened COM" << n;
  } catch (const PortError& e) {
    EXPECT_EQ(std::string(e.what()), "no serial port COM" + std::to_string(n));
  }
  EXPECT_FALSE(own.PortOpen());
}

TEST_F(QtSerialPortTest, TheOpenButtonIgnoresAnUntrustedFolder) {
  const int n = unused_listed_port();
  if (n == 0) GTEST_SKIP() << "every port in the list exists on this machine";
  link(n, device);
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  open_port(n);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, "    串口错误！");
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(port_state(), "串口关闭");
}

TEST_F(QtSerialPortTest, APortHeldByAnotherProgramDoesNotOpen) {
  open_port();
  ASSERT_TRUE(port.PortOpen());
  QtSerialPort other;
  other.set_CommPort(kPort);
  try {
    other.set_PortOpen(true);
    FAIL() << "opened a port that is in use";
  } catch (const PortError& e) {
    EXPECT_NE(std::string(e.what()).find(device.slave_path()), std::string::npos) << e.what();
  }
  EXPECT_FALSE(other.PortOpen());

  // The holder is not disturbed, and once it lets go the other may have it.
  port.Output("$P3");
  EXPECT_EQ(device_reads(device, 3), "$P3");
  form.Command_uart_port_closed.click();
  other.set_PortOpen(true);
  EXPECT_TRUE(other.PortOpen());
}

TEST_F(QtSerialPortTest, SettingsThePortCannotTakeAreRefused) {
  const char* refused[] = {"",
                           "57600",
                           "57600,x,8,1",
                           "0,n,8,1",
                           "-9600,n,8,1",
                           "57600,n,9,1",
                           "57600,n,4,1",
                           "57600,n,8,3",
                           "fast,n,8,1",
                           "57600,n,8,1,1"};
  for (const char* settings : refused) {
    EXPECT_THROW(port.set_Settings(settings), PortError) << settings;
  }
  EXPECT_EQ(port.Settings(), "9600,n,8,1") << "a refused string changes nothing";
  EXPECT_THROW(port.set_CommPort(0), PortError);
  EXPECT_THROW(port.set_CommPort(256), PortError);
  port.set_CommPort(255);
  EXPECT_EQ(port.CommPort(), 255);
}

TEST_F(QtSerialPortTest, PortNumberAndSettingsStayPutWhileOpen) {
  open_port();
  ASSERT_TRUE(port.PortOpen());
  EXPECT_THROW(port.set_CommPort(1), PortError);
  EXPECT_THROW(port.set_Settings("9600,n,8,1"), PortError);
  EXPECT_EQ(port.CommPort(), kPort);
  EXPECT_EQ(port.Settings(), "57600,n,8,1");
}

TEST_F(QtSerialPortTest, AClosedPortRefusesOutputAndReadsNothing) {
  EXPECT_THROW(port.Output("$P3"), PortError);
  EXPECT_EQ(port.Input(), "");
  port.set_PortOpen(false);
  EXPECT_FALSE(port.PortOpen());
}

TEST_F(QtSerialPortTest, CloseThenOpenAgain) {
  open_port();
  form.Command_uart_port_closed.click();
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(port_state(), "串口关闭");
  open_port();
  EXPECT_TRUE(port.PortOpen());
  EXPECT_EQ(port_state(), "串口打开");
  EXPECT_TRUE(boxes.shown.empty());
}

// A stream of small writes, as a sweep sends its points: never a byte lost,
// repeated or out of order.
TEST_F(QtSerialPortTest, EveryPointOfAStreamArrivesOnceAndInOrder) {
  std::string sent;
  struct Reader final : PortEvents {
    explicit Reader(SerialPort& port) : port(port) {}
    void OnComm() override { got += port.Input(); }
    SerialPort& port;
    std::string got;
  } reader{port};
  port.hear(&reader);
  const std::string& got = reader.got;
  port.set_PortOpen(true);
  ASSERT_TRUE(port.PortOpen());
  for (int i = 0; i < 300; ++i) {
    const std::string text = std::to_string(i);
    const std::string point = std::string(4 - text.size(), '0') + text;
    sent += point;
    device.send(point);
    if (i % 3 == 0) testing::run_for(1);
  }
  ASSERT_TRUE(run_until([&] { return got.size() >= sent.size(); }));
  EXPECT_EQ(got, sent);
  EXPECT_EQ(port.Input(), "");
}

}  // namespace
}  // namespace talmir880
