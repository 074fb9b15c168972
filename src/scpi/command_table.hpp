#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "generator/generator.hpp"
#include "scpi/header_path.hpp"
#include "scpi/parameters.hpp"
#include "scpi/parser.hpp"

namespace talmir880::scpi {

struct Row;

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
  // RF off, then modulation off, as two device commands.
  void switch_off();
  // A value kept without telling the device.
  void keep(Generator::Change change) { generator.keep(client, std::move(change)); }
  // The line goes on once everything queued so far is done.
  void wait_for_all() { wait = generator.last(); }

  Generator& generator;
  ClientId client;
  std::string& answers;
  const Row* row = nullptr;  // the row that runs
  Value value;
  Generator::Ticket wait = 0;
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
