#include "programs/talmir880-scpi/journal.hpp"

#include <cstdio>

#include "device/device_session.hpp"
#include "programs/common/command_line.hpp"

namespace talmir880::programs {

namespace {
const char* speaker = "talmir880-scpi";
std::string said_last;
}  // namespace

void speak_as(const char* program) { speaker = program; }

void say(const std::string& line) {
  std::fprintf(stderr, "%s: %s\n", speaker, line.c_str());
  said_last = line;
}

const std::string& last_said() { return said_last; }

void journal(const std::string& line) { say(log_time_stamp() + " " + line); }

void JournalEvents::reachability_changed(DeviceFault fault) {
  const bool now = fault == DeviceFault::none;
  reached_ = reached_ || now;
  if (now == reachable_) return;
  reachable_ = now;
  journal(device_ + ": " + (now ? std::string("device back") : std::string(cause(fault))));
}

void JournalEvents::switching_off(OffBecause why) {
  journal(device_ + ": " +
          (why == OffBecause::unattended
               ? "RF and modulation off: no command for " + std::to_string(off_after_s_) + " s"
               : off_said(why)));
}

void JournalEvents::command_written(std::string_view who, std::string_view command,
                                    std::string_view line) {
  journal(command_prefix_ + command_log_text(who, command, line));
}

}  // namespace talmir880::programs
