#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/qt/port_names.hpp"

namespace talmir880 {
namespace {

struct Before {
  const char* first;
  const char* second;
};

// Each row: the first name comes strictly before the second.
// clang-format off
const Before kNaturalOrder[] = {
    {"ttyS2", "ttyS10"},      // by value, not character by character
    {"ttyS9", "ttyS10"},
    {"ttyS0", "ttyS1"},
    {"ttyS100", "ttyS1000"},
    {"ttyS1", "ttyS01"},      // equal values: fewer leading zeros first
    {"ttyS01", "ttyS2"},      // a leading zero does not make a number larger
    {"ttyS00009", "ttyS10"},
    {"ttyS", "ttyS0"},        // a prefix comes first
    {"ttyUSB1", "ttyUSB1a"},
    {"ttyUSB1a", "ttyUSB2"},  // the number decides before the letter after it
    {"ttyACM0", "ttyUSB0"},   // letters compare as letters
    {"ttyAMA0", "ttyS0"},
    {"rfcomm9", "rfcomm10"},
    {"a99b2", "a99b10"},      // every digit run counts
};
// clang-format on

TEST(PortOrder, NaturalOrderComparesDigitRunsByValue) {
  for (const Before& row : kNaturalOrder) {
    EXPECT_TRUE(natural_less(row.first, row.second)) << row.first << " < " << row.second;
    EXPECT_FALSE(natural_less(row.second, row.first)) << row.second << " !< " << row.first;
  }
}

TEST(PortOrder, NaturalOrderIsIrreflexive) {
  for (const char* name : {"", "ttyS0", "ttyS10", "ttyUSB3", "007"}) {
    EXPECT_FALSE(natural_less(name, name)) << name;
  }
}

TEST(PortOrder, UsbSerialNames) {
  EXPECT_TRUE(is_usb_serial_name("ttyUSB0"));
  EXPECT_TRUE(is_usb_serial_name("ttyACM12"));
  EXPECT_FALSE(is_usb_serial_name("ttyS0"));
  EXPECT_FALSE(is_usb_serial_name("ttyAMA0"));
  EXPECT_FALSE(is_usb_serial_name("usbttyUSB0"));
}

struct Ordering {
  std::vector<std::string> listed;
  std::vector<std::string> numbered;  // COM1, COM2, ...
};

const Ordering kOrderings[] = {
    {{}, {}},
    {{"ttyS0"}, {"ttyS0"}},
    {{"ttyS10", "ttyS2", "ttyS1", "ttyS0"}, {"ttyS0", "ttyS1", "ttyS2", "ttyS10"}},
    {{"ttyS0", "ttyS1", "ttyUSB0"}, {"ttyUSB0", "ttyS0", "ttyS1"}},
    {{"ttyS0", "ttyACM0", "ttyUSB1", "ttyUSB0"}, {"ttyACM0", "ttyUSB0", "ttyUSB1", "ttyS0"}},
    {{"ttyUSB10", "ttyS3", "ttyUSB2", "ttyAMA0", "ttyS12"},
     {"ttyUSB2", "ttyUSB10", "ttyAMA0", "ttyS3", "ttyS12"}},
    {{"ttyACM1", "ttyS31", "ttyS4", "ttyACM0"}, {"ttyACM0", "ttyACM1", "ttyS4", "ttyS31"}},
};

TEST(PortOrder, UsbAdaptersFirstThenTheRestEachInNaturalOrder) {
  for (const Ordering& row : kOrderings) {
    EXPECT_EQ(order_serial_ports(row.listed), row.numbered) << ::testing::PrintToString(row.listed);
  }
}

}  // namespace
}  // namespace talmir880
