// The IEEE 488.2 common commands and SYSTem.
#include <cmath>

#include "protocol/commands.hpp"
#include "scpi/generator.hpp"
#include "scpi/parameters.hpp"

#ifndef TALMIR880_VERSION
#error "the build passes the program's version as TALMIR880_VERSION"
#endif

namespace talmir880::scpi {
namespace {

// A register mask: 0 to 255.
int mask(const ProgramUnit& unit) {
  expect_parameters(unit, 1);
  const double value = std::round(number(unit.parameters.front(), Quantity::count, 0, 255));
  if (!(value >= 0 && value <= 255)) throw Refused{kDataOutOfRange};
  return static_cast<int>(value);
}

}  // namespace

Step Generator::run_common(Command command, const ProgramUnit& unit, std::string& answers) {
  if (command == Command::ese && !unit.query) {
    status_.set_event_enable(mask(unit));
    return Step::done;
  }
  if (command == Command::sre && !unit.query) {
    status_.set_service_enable(mask(unit));
    return Step::done;
  }
  if (command == Command::sav) {
    expect_parameters(unit, 1);
    // One memory: the device's flash.
    if (std::round(number(unit.parameters.front(), Quantity::count, 0, 0)) != 0) {
      throw Refused{kDataOutOfRange};
    }
    return device(protocol::save(settings_.sweep_mode ? protocol::SaveMode::sweep
                                                      : protocol::SaveMode::single_point),
                  [] {});
  }
  expect_parameters(unit, 0);
  switch (command) {
    case Command::cls:
      status_.clear();
      opc_pending_ = false;
      return Step::done;
    case Command::ese:
      add_answer(answers, std::to_string(status_.event_enable()));
      return Step::done;
    case Command::esr:
      add_answer(answers, std::to_string(status_.read_event_status()));
      return Step::done;
    case Command::idn:
      add_answer(answers, std::string("TALMIR,TALMIR-880,0,") + TALMIR880_VERSION);
      return Step::done;
    case Command::opc:
      if (unit.query) {
        if (session_.pass_running()) return Step::held;
        add_answer(answers, "1");
      } else if (session_.pass_running()) {
        opc_pending_ = true;
      } else {
        status_.operation_complete();
      }
      return Step::done;
    case Command::rst:
      // The device is told only that the output is off; the rest is the
      // panel's start-up assumption again.
      return device(std::string(protocol::kRfOff), [this] {
        settings_ = Settings{};
        settings_.output_on = false;
        continuous_ = false;
        initiated_ = false;
      });
    case Command::sre:
      add_answer(answers, std::to_string(status_.service_enable()));
      return Step::done;
    case Command::stb:
      add_answer(answers, std::to_string(status_.status_byte(!answers.empty())));
      return Step::done;
    case Command::system_error:
      add_answer(answers, status_.next_error());
      return Step::done;
    case Command::system_version:
      // The SCPI standard this command set follows.
      add_answer(answers, "1999.0");
      return Step::done;
    case Command::tst:
      add_answer(answers, "0");
      return Step::done;
    case Command::wai:
      return session_.pass_running() ? Step::held : Step::done;
    default:
      throw Refused{kUndefinedHeader};
  }
}

}  // namespace talmir880::scpi
