#include "platform/port_location.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace talmir880::platform {
namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// The panel lists COM1 to COM10.
constexpr int kListed = 10;

struct Named {
  std::string_view text;
  // What each system takes it for: a COM number, a device path, or nothing.
  std::optional<SerialChoice> posix;
  std::optional<SerialChoice> windows;
};

bool same(const std::optional<SerialChoice>& a, const std::optional<SerialChoice>& b) {
  return a.has_value() == b.has_value() &&
         (!a || (a->comm_port == b->comm_port && a->device == b->device));
}

TEST(SerialPortNamed, EachSystemTakesItsOwnFormsAndNoReservedName) {
  const SerialChoice com3{3, {}};
  const SerialChoice com10{10, {}};
  const SerialChoice com12{12, {}};
  const std::vector<Named> cases = {
      {"COM3", com3, com3},
      {"com3", com3, com3},
      {"3", com3, com3},
      {"COM10", com10, com10},
      {"COM12", std::nullopt, com12},  // beyond the panel's list: Windows' own port
      {"\\\\.\\COM12", std::nullopt, com12},
      {"COM256", std::nullopt, SerialChoice{256, {}}},
      {"/dev/ttyUSB0", SerialChoice{0, "/dev/ttyUSB0"}, std::nullopt},
      {"COM0", std::nullopt, std::nullopt},
      {"COM257", std::nullopt, std::nullopt},
      {"COM1:", std::nullopt, std::nullopt},
      {"CON", std::nullopt, std::nullopt},
      {"NUL", std::nullopt, std::nullopt},
      {"LPT1", std::nullopt, std::nullopt},
      {"\\\\.\\CON", std::nullopt, std::nullopt},
      {"COM-1", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Named& c : cases) {
    EXPECT_TRUE(same(serial_port_named(c.text, kListed), kWindows ? c.windows : c.posix)) << c.text;
  }
}

TEST(SerialPortNamed, TheFormsNameWhatIsTaken) {
  EXPECT_EQ(serial_port_forms(kListed), kWindows ? "COM1 to COM256, \\\\.\\COMn, 1 to 256"
                                                 : "COM1 to COM10, 1 to 10, a device path");
}

#ifdef _WIN32
TEST(NamedPort, OnWindowsPortNIsComN) {
  EXPECT_EQ(named_port(3), "COM3");
  EXPECT_EQ(named_port(12), "COM12");
  EXPECT_EQ(named_port(0), std::nullopt);
}
#endif

}  // namespace
}  // namespace talmir880::platform
