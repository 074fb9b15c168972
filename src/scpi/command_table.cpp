#include "scpi/command_table.hpp"

#include "scpi/command_rows.hpp"

namespace talmir880::scpi {

void add_answer(std::string& answers, const std::string& answer) {
  if (!answers.empty()) answers += ';';
  answers += answer;
}

void Call::device(std::string command, Generator::Change change) {
  device([command = std::move(command)](const Settings&) { return command; }, std::move(change));
}

void Call::device(Generator::Make make, Generator::Change change) {
  const bool overlapped = generator.pass_ahead();
  const Generator::Ticket ticket = generator.send(client, std::move(make), std::move(change));
  if (!overlapped) wait = ticket;
}

void Call::switch_off() {
  const bool overlapped = generator.pass_ahead();
  const Generator::Ticket ticket = generator.queue_switch_off(client);
  if (!overlapped) wait = ticket;
}

std::vector<RowSummary> row_summaries() {
  std::vector<RowSummary> out;
  for (const Row& row : rows()) {
    out.push_back({row.header, row.set != nullptr, row.ask != nullptr, name_of(row.parameter.takes),
                   row.parameter.min, row.parameter.max});
  }
  return out;
}

}  // namespace talmir880::scpi
