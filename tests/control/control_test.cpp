// The generator's attributes for a control system, and what its clients
// read and write through the face: made from the description, and true.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>

#include "control/attributes.hpp"
#include "control/device_face.hpp"
#include "control/orb_endpoint.hpp"
#include "control/snapshot.hpp"
#include "scpi/instrument_fixture.hpp"
#include "support/deliver.hpp"
#include "support/test_only_setting.hpp"

namespace talmir880::control {
namespace {

const Attribute& named(const std::vector<Attribute>& attributes, const std::string& name) {
  const auto it = std::find_if(attributes.begin(), attributes.end(),
                               [&](const Attribute& a) { return a.name == name; });
  EXPECT_NE(it, attributes.end()) << name;
  return *it;
}

TEST(ControlAttributes, WritesBecomeTheSettingsLinesOrAreRefusedWithWhy) {
  const std::vector<Attribute> attributes = attributes_of();
  struct Case {
    const char* attribute;
    double value;
    const char* line;  // "" when refused
    const char* why;
  };
  const Case cases[] = {
      {"frequency", 123.45e6, "FREQ 123450000", ""},
      {"frequency", 1, "", "frequency takes 20 to 9999999990 Hz"},
      {"powerLevel", -6, "POW -6", ""},
      {"powerLevel", -5, "", "powerLevel takes only the device's levels: -3, -6, -9, -12 dBm"},
      {"rfOutput", 1, "OUTP 1", ""},
      {"modulationOutput", 0, "OUTP:MOD 0", ""},
      {"rfOutput", 2, "", "rfOutput takes 0 (off) or 1 (on)"},
      {"sweepPoints", 500, "SWE:POIN 500", ""},
      {"sweepPoints", 4.5, "", "sweepPoints takes whole numbers 5 to 9999"},
      {"sweepMode", 2, "FREQ:MODE SWE", ""},
      {"sweepMode", 3, "", "sweepMode takes a choice from 0 to 2"},
      {"continuousSweep", 1, "INIT:CONT 1", ""},
      {"sweepProgress", 50, "", "sweepProgress is read only"},
  };
  for (const Case& c : cases) {
    std::string why;
    const std::optional<std::string> line =
        write_line(named(attributes, c.attribute), c.value, why);
    EXPECT_EQ(line.value_or(""), c.line) << c.attribute << " " << c.value;
    EXPECT_EQ(line ? "" : why, c.why) << c.attribute << " " << c.value;
  }
}

TEST(ControlAttributes, ADescribedSettingGetsItsAttributeWithNoCodeOfItsOwn) {
  const std::array settings{protocol::kRfOutput, testing::kTestOnlyOffset};
  const std::vector<Attribute> attributes = attributes_of(settings);
  const Attribute& offset = named(attributes, "rfOffset");
  EXPECT_EQ(offset.label, "Offset");
  EXPECT_EQ(offset.unit, "Hz");
  EXPECT_EQ(offset.min, 1e3);
  EXPECT_EQ(offset.max, 2e6);
  EXPECT_TRUE(offset.memorized);
  // Switches are never memorized: a restart switches nothing on.
  EXPECT_FALSE(named(attributes, "rfOutput").memorized);
  std::string why;
  EXPECT_EQ(write_line(offset, 5e3, why), "FREQ:OFFS 5000");
}

TEST(ControlSnapshot, TheStateSaysOnlyWhatTheDeviceAcknowledged) {
  struct Case {
    PortState port;
    DeviceFault fault;
    bool pass;
    Switched rf;
    Switched modulation;
    State state;
    const char* status;
  };
  const Case cases[] = {
      {PortState::open, DeviceFault::none, false, Switched::off, Switched::off, State::off,
       "The RF output is off."},
      {PortState::open, DeviceFault::none, false, Switched::on, Switched::off, State::on,
       "The RF output is on at 100000000 Hz."},
      {PortState::open, DeviceFault::none, false, Switched::on, Switched::unsure, State::unknown,
       "The modulation is not confirmed: it may be on."},
      // Silent with an output unsure: that it may be on comes first.
      {PortState::open, DeviceFault::no_acknowledge, false, Switched::unsure, Switched::off,
       State::unknown, "The RF output is not confirmed: it may be on."},
      {PortState::open, DeviceFault::no_acknowledge, false, Switched::off, Switched::off,
       State::fault, "The generator on COM9 cannot be used: no acknowledge."},
      {PortState::gone, DeviceFault::device_gone, false, Switched::unsure, Switched::unsure,
       State::fault, "The generator on COM9 cannot be used: device gone."},
      {PortState::absent, DeviceFault::none, false, Switched::unsure, Switched::unsure,
       State::fault, "The generator on COM9 cannot be used: port would not open."},
      {PortState::open, DeviceFault::none, true, Switched::on, Switched::off, State::moving,
       "A sweep pass runs: 500 points from 100000000 Hz."},
  };
  const std::vector<Attribute> attributes = attributes_of();
  for (const Case& c : cases) {
    Observed o;
    o.port = c.port;
    o.fault = c.fault;
    o.port_name = "COM9";
    o.held.rf = c.rf;
    o.held.rf_hz = 100e6;
    o.held.modulation = c.modulation;
    if (c.pass) o.pass = Pass{Face::remote, 100e6, 1e6, 500, 1000, 2000};
    const Snapshot s = snapshot_of(o, attributes);
    EXPECT_EQ(s.state, c.state) << c.status;
    EXPECT_EQ(s.status, c.status);
    const std::size_t rf =
        static_cast<std::size_t>(&named(attributes, "rfOutput") - attributes.data());
    EXPECT_EQ(s.qualities[rf] == Quality::invalid, c.rf == Switched::unsure) << c.status;
    EXPECT_EQ(s.values.back(), c.pass ? 50 : 0) << "sweepProgress";
  }
}

class ControlFaceTest : public testing::InstrumentTest {
 protected:
  // The core takes what was posted as soon as it is woken.
  DeviceFace face{instrument, "COM9", [this] { face.take_posted(); }};
};

// The face's client runs the line, CHANGING until the device's R, and the
// line's errors are the client's own.
TEST_F(ControlFaceTest, AWriteIsChangingUntilTheDeviceTookIt) {
  switch_on();
  const std::size_t frequency = 0;
  EXPECT_FALSE(face.run("FREQ 250000000", frequency, std::chrono::milliseconds(0)).finished);
  testing::deliver();
  EXPECT_EQ(port.written.back(), "$F025000000");
  EXPECT_EQ(face.snapshot().qualities[frequency], Quality::changing);
  acknowledge_all();
  EXPECT_EQ(face.snapshot().qualities[frequency], Quality::valid);
  EXPECT_EQ(face.snapshot().values[frequency], 250e6);
}

TEST(ControlOrb, LoopbackUnlessAnEndpointIsNamedAndSaidWhenItReachesFurther) {
  struct Case {
    std::vector<std::string> arguments;
    const char* environment;
    const char* endpoint;  // what omniORB is given
    const char* said;      // "" when loopback only
  };
  const Case cases[] = {
      {{"t", "1"}, "", "giop:tcp:127.0.0.1:", ""},
      {{"t", "1", "-ORBendPoint", "giop:tcp:127.0.0.1:5000"}, "", "giop:tcp:127.0.0.1:5000", ""},
      {{"t", "1", "-ORBendPoint", "giop:tcp:[::1]:5000"}, "", "giop:tcp:[::1]:5000", ""},
      {{"t", "1", "-ORBendPoint", "giop:tcp::5000"},
       "",
       "giop:tcp::5000",
       "every address of this machine"},
      {{"t", "1", "-ORBendPoint", "giop:tcp:192.168.1.5:5000"},
       "",
       "giop:tcp:192.168.1.5:5000",
       "192.168.1.5"},
      {{"t", "1", "-ORBendPoint", "giop:tcp:localhost:5000"},
       "",
       "giop:tcp:localhost:5000",
       "events bind beyond localhost"},
      {{"t", "1"}, "giop:tcp:10.0.0.2:", "", "10.0.0.2"},
  };
  for (const Case& c : cases) {
    const OrbArguments orb = bound_orb(c.arguments, c.environment);
    const auto option = std::find(orb.arguments.begin(), orb.arguments.end(), "-ORBendPoint");
    if (*c.endpoint == '\0') {
      EXPECT_EQ(option, orb.arguments.end()) << c.environment;
    } else {
      ASSERT_NE(option, orb.arguments.end()) << c.endpoint;
      EXPECT_EQ(*std::next(option), c.endpoint);
      EXPECT_EQ(orb.arguments[1], "1");
    }
    if (*c.said == '\0') {
      EXPECT_EQ(orb.beyond_loopback, "") << c.endpoint;
    } else {
      EXPECT_NE(orb.beyond_loopback.find(c.said), std::string::npos) << orb.beyond_loopback;
      EXPECT_NE(orb.beyond_loopback.find("no password"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace talmir880::control
