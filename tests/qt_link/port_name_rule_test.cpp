#include <sys/stat.h>

#include <QSerialPortInfo>
#include <optional>
#include <string>
#include <vector>

#include "link/qt/port_names.hpp"
#include "support/pty_fixture.hpp"

namespace talmir880 {
namespace {

using testing::PortsFolderTest;
using testing::Pty;

class PortNameRule : public PortsFolderTest {
 protected:
  // The first port number the system itself has no device for.
  static int past_system_ports() {
    return static_cast<int>(QSerialPortInfo::availablePorts().size()) + 1;
  }
};

TEST_F(PortNameRule, TheFolderLinkComesFirst) {
  Pty device;
  ASSERT_TRUE(device.ok());
  link(1, device);
  link(10, device);
  EXPECT_EQ(serial_port_location(1), device.slave_path()) << "ahead of any system port";
  EXPECT_EQ(serial_port_location(10), device.slave_path());
}

TEST_F(PortNameRule, AnUntrustedFolderIsIgnored) {
  Pty device;
  ASSERT_TRUE(device.ok());
  const int n = past_system_ports();
  link(n, device);
  ASSERT_EQ(serial_port_location(n), device.slave_path());
  ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
  EXPECT_EQ(serial_port_location(n), std::nullopt);
  ASSERT_EQ(chmod(folder_.c_str(), 0720), 0);
  EXPECT_EQ(serial_port_location(n), std::nullopt) << "group-writable is no better";
}

TEST_F(PortNameRule, WithoutALinkTheSystemListNumbersThePorts) {
  const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
  std::vector<std::string> names;
  for (const QSerialPortInfo& port : ports) names.push_back(port.portName().toStdString());
  const std::vector<std::string> numbered = order_serial_ports(names);
  for (std::size_t i = 0; i < numbered.size() && i < 10; ++i) {
    std::optional<std::string> expected;
    for (const QSerialPortInfo& port : ports) {
      if (port.portName().toStdString() == numbered[i]) {
        expected = port.systemLocation().toStdString();
      }
    }
    EXPECT_EQ(serial_port_location(static_cast<int>(i) + 1), expected) << numbered[i];
  }
  EXPECT_EQ(serial_port_location(past_system_ports()), std::nullopt);
}

TEST_F(PortNameRule, ALinkToNothingFallsThroughToTheSystemList) {
  const int n = past_system_ports();
  ASSERT_EQ(::symlink("/dev/talmir880-no-such-device", port_link_path(n).c_str()), 0);
  EXPECT_EQ(serial_port_location(n), std::nullopt);
}

TEST_F(PortNameRule, PortNumbersStartAtOne) {
  EXPECT_EQ(serial_port_location(0), std::nullopt);
  EXPECT_EQ(serial_port_location(-1), std::nullopt);
}

}  // namespace
}  // namespace talmir880
