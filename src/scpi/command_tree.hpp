#pragma once

#include "scpi/parser.hpp"

namespace talmir880::scpi {

// Every command the instrument knows, whatever header names it.
enum class Command {
  frequency,        // [SOURce]:FREQuency[:CW|:FIXed]
  frequency_start,  // [SOURce]:FREQuency:STARt
  frequency_stop,   // [SOURce]:FREQuency:STOP
  frequency_mode,   // [SOURce]:FREQuency:MODE
  power,            // [SOURce]:POWer[:LEVel][:IMMediate][:AMPLitude]
  lf_frequency,     // [SOURce]:LFOutput:FREQuency
  sweep_points,     // [SOURce]:SWEep:POINts
  output,           // OUTPut[:STATe]
  modulation,       // OUTPut:MODulation[:STATe]
  initiate,         // INITiate[:IMMediate]
  continuous,       // INITiate:CONTinuous
  abort,            // ABORt
  system_error,     // SYSTem:ERRor[:NEXT]?
  system_version,   // SYSTem:VERSion?
  cls,
  ese,
  esr,
  idn,
  opc,
  rst,
  sav,
  sre,
  stb,
  tst,
  wai,
};

struct Node;

// Finds the command a unit's header names, IEEE 488.2 style: a header with
// a leading ':' starts at the root, one without continues at the node the
// previous header's last written mnemonic hung from ("FREQ:STAR 1;STOP 2"),
// a common command leaves that place alone, and a new line starts at the
// root. Optional nodes may be left out anywhere.
class HeaderPath {
 public:
  HeaderPath();
  // Throws Refused{-113} for a header the tree does not hold, or a query or
  // setting form the command does not have.
  Command resolve(const ProgramUnit& unit);

 private:
  const Node* at_;
};

}  // namespace talmir880::scpi
