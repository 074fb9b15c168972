#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "scpi/generator.hpp"
#include "scpi/parser.hpp"

namespace talmir880::scpi {

// A row's parameter, read and checked before the row runs.
struct Value {
  double number = 0;  // a frequency in Hz, a level, a count, 0/1, a choice's index
  int step = 0;       // FREQ UP: +1, FREQ DOWN: -1
};

// What a row's function works with: the generator, the parameter, the line's
// answers, and what the line must wait for before it goes on.
class Call {
 public:
  Call(Generator& generator, ClientId client, std::string& answers)
      : generator(generator), client(client), answers(answers) {}

  const Settings& settings() const { return generator.settings(); }
  // The client's own: it lasts as long as the client has lines to run.
  Status& status() { return *generator.statuses().find(client); }
  // A device command. While a sweep pass runs or waits it is queued and the
  // line goes on; otherwise the line waits for the device's answer.
  void device(std::string command, Generator::Change change = {});
  // One made in its turn from the acknowledged settings; nothing to send
  // then makes it a kept value.
  void device(Generator::Make make, Generator::Change change = {});
  // A value kept without telling the device.
  void keep(Generator::Change change) { generator.keep(client, std::move(change)); }
  // The line goes on once everything queued so far is done.
  void wait_for_all() { wait = generator.last(); }

  Generator& generator;
  ClientId client;
  std::string& answers;
  Value value;
  Generator::Ticket wait = 0;
};

// Finds the row a unit's header names, IEEE 488.2 style: a header with a
// leading ':' starts at the root, one without continues at the node the
// previous header's last written mnemonic hung from ("FREQ:STAR 1;STOP 2"),
// a common command leaves that place alone, and a new line starts at the
// root. Optional nodes may be left out anywhere.
struct Row;

class HeaderPath {
 public:
  // The header of the row a unit names, as the table spells it
  // ("[SOURce]:FREQuency:STARt"). Throws Refused{-113}.
  std::string_view resolve(const ProgramUnit& unit);
  // Runs one unit: finds its row, reads its parameter against the row's kind
  // and limits, and calls the row's setting or query. Throws Refused: -113
  // for a header no row has, or a form the row does not have.
  void run(const ProgramUnit& unit, Call& call);

 private:
  const Row& find(const ProgramUnit& unit);

  // Short forms of the nodes a relative header starts below.
  std::vector<std::string> at_;
};

// A row as those who document the instrument read it: its header, whether
// it has a setting and a query form, what its parameter is and its limits.
struct RowSummary {
  std::string_view header;
  bool setting = false;
  bool query = false;
  std::string_view takes;  // nothing, frequency, frequency_or_step, level, count, boolean, mode
  double min = 0;
  double max = 0;
};
std::vector<RowSummary> row_summaries();

// Adds one answer to a line's answers, which are joined by ';'.
void add_answer(std::string& answers, const std::string& answer);

}  // namespace talmir880::scpi
