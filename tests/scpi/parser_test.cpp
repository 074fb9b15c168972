// Headers, compound lines and parameters, read without an instrument.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "scpi/command_tree.hpp"
#include "scpi/parameters.hpp"
#include "scpi/parser.hpp"
#include "scpi/status.hpp"

namespace talmir880::scpi {
namespace {

// The commands a line's units name, in order; an error code where a unit is
// refused, after which the line is not read further.
struct Named {
  std::optional<Command> command;
  int error = 0;
  bool operator==(const Named&) const = default;
};
Named named(Command c) { return {c, 0}; }
Named refused(int code) { return {std::nullopt, code}; }

std::vector<Named> read_line(const std::string& line) {
  std::vector<Named> out;
  HeaderPath path;
  for (std::string_view text : split_units(line)) {
    try {
      out.push_back(named(path.resolve(parse_unit(text))));
    } catch (const Refused& r) {
      out.push_back(refused(r.code));
      break;
    }
  }
  return out;
}

struct HeaderCase {
  const char* line;
  Named expected;
};

TEST(ScpiHeaders, ShortAndLongFormsOptionalNodesAnyCase) {
  const HeaderCase cases[] = {
      {"FREQ 1", named(Command::frequency)},
      {"freq 1", named(Command::frequency)},
      {"Frequency 1", named(Command::frequency)},
      {":SOUR:FREQ:CW 1", named(Command::frequency)},
      {"source:frequency:fixed 1", named(Command::frequency)},
      {"FREQ:FIX?", named(Command::frequency)},
      {"FREQU 1", refused(kUndefinedHeader)},
      {"FRE 1", refused(kUndefinedHeader)},
      {"FREQ:CW:CW 1", refused(kUndefinedHeader)},
      {"FREQ:STAR 1", named(Command::frequency_start)},
      {"SOUR:FREQ:STOP?", named(Command::frequency_stop)},
      {"FREQ:MODE SWE", named(Command::frequency_mode)},
      {"POW -3", named(Command::power)},
      {"SOURCE:POWER:LEVEL:IMMEDIATE:AMPLITUDE -3", named(Command::power)},
      {"POW:AMPL -3", named(Command::power)},
      {"pow:lev:imm?", named(Command::power)},
      {"LFO:FREQ 1", named(Command::lf_frequency)},
      {"SOUR:LFOutput:FREQuency?", named(Command::lf_frequency)},
      {"LFO 1", refused(kUndefinedHeader)},
      {"SWE:POIN 5", named(Command::sweep_points)},
      {"OUTP ON", named(Command::output)},
      {"OUTPUT:STATE?", named(Command::output)},
      {"OUTP:MOD OFF", named(Command::modulation)},
      {"OUTP:MOD:STAT?", named(Command::modulation)},
      {"INIT", named(Command::initiate)},
      {"INIT:IMM", named(Command::initiate)},
      {"INIT:CONT ON", named(Command::continuous)},
      {"ABOR", named(Command::abort)},
      {"SYST:ERR?", named(Command::system_error)},
      {"SYSTEM:ERROR:NEXT?", named(Command::system_error)},
      {"SYST:VERS?", named(Command::system_version)},
      {"*idn?", named(Command::idn)},
      {"*OPC", named(Command::opc)},
      {"*OPC?", named(Command::opc)},
      {"*XYZ", refused(kUndefinedHeader)},
      // A form the command lacks is as unknown as a wrong name.
      {"*RST?", refused(kUndefinedHeader)},
      {"*IDN", refused(kUndefinedHeader)},
      {"INIT?", refused(kUndefinedHeader)},
      {"SYST:ERR 1", refused(kUndefinedHeader)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_line(c.line), std::vector<Named>{c.expected}) << c.line;
  }
}

struct LineCase {
  const char* line;
  std::vector<Named> expected;
};

TEST(ScpiHeaders, AHeaderWithoutColonContinuesAtThePreviousNode) {
  const LineCase cases[] = {
      {"FREQ:STAR 1;STOP 2", {named(Command::frequency_start), named(Command::frequency_stop)}},
      {"FREQ:STAR 1;*OPC;STOP 2",
       {named(Command::frequency_start), named(Command::opc), named(Command::frequency_stop)}},
      {"FREQ 1;POW -3", {named(Command::frequency), named(Command::power)}},
      {"FREQ 1;OUTP ON", {named(Command::frequency), refused(kUndefinedHeader)}},
      {"FREQ 1;:OUTP ON", {named(Command::frequency), named(Command::output)}},
      {"OUTP:MOD ON;STAT?", {named(Command::modulation), named(Command::output)}},
      {"OUTP ON;MOD ON", {named(Command::output), refused(kUndefinedHeader)}},
      {"SYST:ERR?;VERS?", {named(Command::system_error), named(Command::system_version)}},
      {"INIT:CONT ON;IMM", {named(Command::continuous), named(Command::initiate)}},
      {"FREQ:STAR 1;STOP 2;:SWE:POIN 5;:INIT",
       {named(Command::frequency_start), named(Command::frequency_stop),
        named(Command::sweep_points), named(Command::initiate)}},
      // Blank units and a trailing ';' are nothing.
      {"*CLS;; ;", {named(Command::cls)}},
      // A ';' inside a string does not split.
      {"FREQ:MODE 'a;b';*CLS", {named(Command::frequency_mode), named(Command::cls)}},
  };
  for (const auto& c : cases) EXPECT_EQ(read_line(c.line), c.expected) << c.line;
}

struct SyntaxCase {
  const char* unit;
  int error;
};

TEST(ScpiHeaders, MalformedUnitsAreSyntaxErrors) {
  const SyntaxCase cases[] = {
      {"FREQ,1", kSyntaxError},       {"FREQ 1,", kSyntaxError},     {"FREQ 1 2", kSyntaxError},
      {"FREQ::STAR 1", kSyntaxError}, {"*", kSyntaxError},           {":", kSyntaxError},
      {"1FREQ", kSyntaxError},        {"FREQ 'abc", kSyntaxError},   {"FREQ (1)", kSyntaxError},
      {"FREQ?1", kSyntaxError},       {"FREQ #H10", kDataTypeError},
  };
  for (const auto& c : cases) {
    try {
      parse_unit(c.unit);
      ADD_FAILURE() << c.unit << " was read";
    } catch (const Refused& r) {
      EXPECT_EQ(r.code, c.error) << c.unit;
    }
  }
}

struct NumberCase {
  const char* parameter;
  Quantity quantity;
  double value;  // when error is 0
  int error;
};

TEST(ScpiParameters, NumbersWithUnitsMinimumAndMaximum) {
  const double inf = INFINITY;
  const NumberCase cases[] = {
      {"100 MHZ", Quantity::frequency, 100e6, 0},
      {"100MHz", Quantity::frequency, 100e6, 0},
      {"1e8", Quantity::frequency, 100e6, 0},
      {"1E+8 hz", Quantity::frequency, 100e6, 0},
      {"12.5 khz", Quantity::frequency, 12.5e3, 0},
      {"2.45 GHz", Quantity::frequency, 2.45e9, 0},
      {".5 KHZ", Quantity::frequency, 500, 0},
      {"+5.", Quantity::frequency, 5, 0},
      {"MIN", Quantity::frequency, 10, 0},
      {"maximum", Quantity::frequency, 20, 0},
      {"-6 dBm", Quantity::level, -6, 0},
      {"-6", Quantity::level, -6, 0},
      {"500", Quantity::count, 500, 0},
      {"1e999", Quantity::frequency, inf, 0},
      {"1e-999", Quantity::frequency, 0, 0},
      {"100 MAHZ", Quantity::frequency, 0, kInvalidSuffix},
      {"100 DBM", Quantity::frequency, 0, kInvalidSuffix},
      {"-3 HZ", Quantity::level, 0, kInvalidSuffix},
      {"5 HZ", Quantity::count, 0, kInvalidSuffix},
      {"1e", Quantity::frequency, 0, kInvalidSuffix},
      {"MINI", Quantity::frequency, 0, kIllegalParameterValue},
      {"ON", Quantity::frequency, 0, kIllegalParameterValue},
      {"'100'", Quantity::frequency, 0, kDataTypeError},
  };
  for (const auto& c : cases) {
    const ProgramUnit unit = parse_unit(std::string("X ") + c.parameter);
    try {
      EXPECT_EQ(number(unit.parameters.at(0), c.quantity, 10, 20), c.value) << c.parameter;
      EXPECT_EQ(c.error, 0) << c.parameter;
    } catch (const Refused& r) {
      EXPECT_EQ(r.code, c.error) << c.parameter;
    }
  }
}

struct ChoiceCase {
  const char* parameter;
  int value;  // boolean or index; -1 when refused
  int error;
};

TEST(ScpiParameters, BooleansAndModes) {
  const ChoiceCase booleans[] = {
      {"ON", 1, 0},
      {"off", 0, 0},
      {"1", 1, 0},
      {"0", 0, 0},
      {"0.4", 0, 0},
      {"2", 1, 0},
      {"1 HZ", -1, kInvalidSuffix},
      {"YES", -1, kIllegalParameterValue},
      {"'ON'", -1, kDataTypeError},
  };
  for (const auto& c : booleans) {
    try {
      EXPECT_EQ(boolean(parse_unit(std::string("X ") + c.parameter).parameters.at(0)), c.value == 1)
          << c.parameter;
      EXPECT_EQ(c.error, 0) << c.parameter;
    } catch (const Refused& r) {
      EXPECT_EQ(r.code, c.error) << c.parameter;
    }
  }
  const ChoiceCase modes[] = {
      {"CW", 0, 0},
      {"fix", 1, 0},
      {"FIXED", 1, 0},
      {"swe", 2, 0},
      {"SWEEP", 2, 0},
      {"SWEE", -1, kIllegalParameterValue},
      {"1", -1, kDataTypeError},
  };
  for (const auto& c : modes) {
    try {
      const Parameter p = parse_unit(std::string("X ") + c.parameter).parameters.at(0);
      EXPECT_EQ(choice(p, {"CW", "FIXed", "SWEep"}), static_cast<std::size_t>(c.value))
          << c.parameter;
      EXPECT_EQ(c.error, 0) << c.parameter;
    } catch (const Refused& r) {
      EXPECT_EQ(r.code, c.error) << c.parameter;
    }
  }
}

}  // namespace
}  // namespace talmir880::scpi
