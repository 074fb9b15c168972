// Headers, compound lines and parameters, read without an instrument.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "generator/status.hpp"
#include "protocol/settings.hpp"
#include "scpi/command_table.hpp"
#include "scpi/parameters.hpp"
#include "scpi/parser.hpp"

namespace talmir880::scpi {
namespace {

// The commands a line's units name, in order; an error code where a unit is
// refused, after which the line is not read further.
struct Named {
  std::optional<std::string_view> header;
  int error = 0;
  bool operator==(const Named&) const = default;
};
Named named(std::string_view header) { return {header, 0}; }
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
      {"FREQ 1", named("[SOURce]:FREQuency[:CW]")},
      {"freq 1", named("[SOURce]:FREQuency[:CW]")},
      {"Frequency 1", named("[SOURce]:FREQuency[:CW]")},
      {":SOUR:FREQ:CW 1", named("[SOURce]:FREQuency[:CW]")},
      {"source:frequency:fixed 1", named("[SOURce]:FREQuency:FIXed")},
      {"FREQ:FIX?", named("[SOURce]:FREQuency:FIXed")},
      {"FREQU 1", refused(kUndefinedHeader)},
      {"FRE 1", refused(kUndefinedHeader)},
      {"FREQ:CW:CW 1", refused(kUndefinedHeader)},
      {"FREQ:STAR 1", named("[SOURce]:FREQuency:STARt")},
      {"SOUR:FREQ:STOP?", named("[SOURce]:FREQuency:STOP")},
      {"FREQ:MODE SWE", named("[SOURce]:FREQuency:MODE")},
      {"POW -3", named("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]")},
      {"SOURCE:POWER:LEVEL:IMMEDIATE:AMPLITUDE -3",
       named("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]")},
      {"POW:AMPL -3", named("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]")},
      {"pow:lev:imm?", named("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]")},
      {"LFO:FREQ 1", named("[SOURce]:LFOutput:FREQuency")},
      {"SOUR:LFOutput:FREQuency?", named("[SOURce]:LFOutput:FREQuency")},
      {"LFO 1", refused(kUndefinedHeader)},
      {"SWE:POIN 5", named("[SOURce]:SWEep:POINts")},
      {"OUTP ON", named("OUTPut[:STATe]")},
      {"OUTPUT:STATE?", named("OUTPut[:STATe]")},
      {"OUTP:MOD OFF", named("OUTPut:MODulation[:STATe]")},
      {"OUTP:MOD:STAT?", named("OUTPut:MODulation[:STATe]")},
      {"INIT", named("INITiate[:IMMediate]")},
      {"INIT:IMM", named("INITiate[:IMMediate]")},
      {"INIT:CONT ON", named("INITiate:CONTinuous")},
      {"ABOR", named("ABORt")},
      {"SYST:ERR?", named("SYSTem:ERRor[:NEXT]")},
      {"SYSTEM:ERROR:NEXT?", named("SYSTem:ERRor[:NEXT]")},
      {"SYST:VERS?", named("SYSTem:VERSion")},
      {"*idn?", named("*IDN")},
      {"*OPC", named("*OPC")},
      {"*OPC?", named("*OPC")},
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
      {"FREQ:STAR 1;STOP 2", {named("[SOURce]:FREQuency:STARt"), named("[SOURce]:FREQuency:STOP")}},
      {"FREQ:STAR 1;*OPC;STOP 2",
       {named("[SOURce]:FREQuency:STARt"), named("*OPC"), named("[SOURce]:FREQuency:STOP")}},
      {"FREQ 1;POW -3",
       {named("[SOURce]:FREQuency[:CW]"), named("[SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]")}},
      {"FREQ 1;OUTP ON", {named("[SOURce]:FREQuency[:CW]"), refused(kUndefinedHeader)}},
      {"FREQ 1;:OUTP ON", {named("[SOURce]:FREQuency[:CW]"), named("OUTPut[:STATe]")}},
      {"OUTP:MOD ON;STAT?", {named("OUTPut:MODulation[:STATe]"), named("OUTPut[:STATe]")}},
      {"OUTP ON;MOD ON", {named("OUTPut[:STATe]"), refused(kUndefinedHeader)}},
      {"SYST:ERR?;VERS?", {named("SYSTem:ERRor[:NEXT]"), named("SYSTem:VERSion")}},
      {"INIT:CONT ON;IMM", {named("INITiate:CONTinuous"), named("INITiate[:IMMediate]")}},
      {"FREQ:STAR 1;STOP 2;:SWE:POIN 5;:INIT",
       {named("[SOURce]:FREQuency:STARt"), named("[SOURce]:FREQuency:STOP"),
        named("[SOURce]:SWEep:POINts"), named("INITiate[:IMMediate]")}},
      // Blank units and a trailing ';' are nothing.
      {"*CLS;; ;", {named("*CLS")}},
      // A ';' inside a string does not split.
      {"FREQ:MODE 'a;b';*CLS", {named("[SOURce]:FREQuency:MODE"), named("*CLS")}},
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

// The unit a quantity's setting has in the description: its suffix.
std::string_view unit_of(Quantity quantity) {
  switch (quantity) {
    case Quantity::frequency:
      return protocol::kRfFrequency.unit;
    case Quantity::level:
      return protocol::kLevel.unit;
    case Quantity::count:
      break;
  }
  return protocol::kSweepPoints.unit;
}

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
      EXPECT_EQ(number(unit.parameters.at(0), c.quantity, unit_of(c.quantity), 10, 20), c.value)
          << c.parameter;
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
