#pragma once

// The server's lines on standard error: what it says at start, and what it
// writes with the local time for a journal read later, among them what the
// instruments do by themselves.

#include <string>
#include <string_view>
#include <utility>

#include "scpi/instrument.hpp"

namespace talmir880::programs {

// Each line begins with the program's name: talmir880-scpi unless told.
void speak_as(const char* program);
void say(const std::string& line);
// The last line said, for a caller that reports why a start failed.
const std::string& last_said();
void journal(const std::string& line);

// One generator's own events in the journal: the device lost and back (once
// each way), and switch-offs of the instrument's own.
class JournalEvents : public scpi::InstrumentEvents {
 public:
  JournalEvents(std::string device, bool reachable, int off_after_s)
      : device_(std::move(device)), reachable_(reachable), off_after_s_(off_after_s) {}

  void reachability_changed(DeviceFault fault) override;
  void switching_off(OffBecause why) override;
  // Each command in the journal, after the port's name when `by_port`.
  void log_commands(bool by_port) { command_prefix_ = by_port ? device_ + ": " : ""; }
  void command_written(std::string_view who, std::string_view command,
                       std::string_view line) override;

  bool reachable() const { return reachable_; }
  // Whether the device has been reached since the start.
  bool reached() const { return reached_; }

 private:
  std::string device_;
  bool reachable_;
  bool reached_ = false;
  int off_after_s_;
  std::string command_prefix_;
};

}  // namespace talmir880::programs
