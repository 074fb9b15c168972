// The simulator's reading of the wire, fed the same bytes whole, one byte at
// a time and in pieces of random sizes; a plain second reading of the command
// layouts (the plain settings' from their description) says which commands
// it must carry out.
// Input: one byte seeds the piece sizes, the rest is the line.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "device.hpp"
#include "protocol/settings.hpp"

namespace {

using talmir880::fuzzing::check;
using talmir880::fuzzing::is_digit;
using talmir880::fuzzing::shown;
namespace sim = talmir880::sim;

struct Parsed {
  std::vector<std::string> commands;  // well-formed, in order
  int malformed = 0;
};

// A plain setting of the description whose command opens with this letter.
const talmir880::protocol::Setting* plain_setting(char letter) {
  for (const talmir880::protocol::Setting& s : talmir880::protocol::kSettings) {
    if (talmir880::protocol::is_plain(s) && s.device.size() == 2 && s.device[1] == letter)
      return &s;
  }
  return nullptr;
}

// Fields per letter: widths, and which field may open with "-". A plain
// setting's one field is as wide as its encoder writes it.
bool layout(char letter, std::vector<int>& widths, int& signed_field) {
  signed_field = -1;
  switch (letter) {
    case 'F':
      widths = {9};
      return true;
    case 'M':
      widths = {7};
      return true;
    case 'S':
      widths = {1};
      return true;
    case 'W':
      widths = {9, 8, 4};
      signed_field = 1;
      return true;
    default:
      break;
  }
  const talmir880::protocol::Setting* s = plain_setting(letter);
  if (s == nullptr) return false;
  widths = {static_cast<int>(s->encode(s->start_up).size() - s->device.size())};
  return true;
}

// Whether a plain setting's encoder writes exactly `command` for a value
// it takes: one of its levels, or its digits within its limits.
bool encodes(const talmir880::protocol::Setting& s, std::string_view command) {
  if (s.kind == talmir880::protocol::SettingKind::level) {
    for (const int level : s.levels) {
      if (s.encode(level) == command) return true;
    }
    return false;
  }
  const double value = std::stod(std::string(command.substr(s.device.size())));
  return value >= s.min && value <= s.max && s.encode(value) == command;
}

Parsed reference_parse(std::string_view line) {
  Parsed out;
  std::size_t i = line.find('$');
  while (i != std::string_view::npos) {
    std::size_t at = i + 1;
    bool complete = true;
    bool ok = true;
    std::vector<int> widths;
    int signed_field = -1;
    if (at >= line.size()) break;  // cut off by the end: still waiting
    if (!layout(line[at], widths, signed_field)) {
      ok = false;
      if (line[at] != '$') ++at;
    } else {
      ++at;
      for (std::size_t f = 0; f < widths.size() && ok && complete; ++f) {
        if (static_cast<int>(f) == signed_field && at < line.size() && line[at] == '-') ++at;
        for (int d = 0; d < widths[f]; ++d, ++at) {
          if (at >= line.size()) {
            complete = false;
            break;
          }
          if (!is_digit(line[at])) {
            ok = false;
            if (line[at] != '$') ++at;
            break;
          }
        }
      }
    }
    if (!complete) break;
    if (ok) {
      const char letter = line[i + 1];
      const talmir880::protocol::Setting* plain = plain_setting(letter);
      if (plain != nullptr) {
        ok = encodes(*plain, line.substr(i, at - i));
      } else if (letter == 'S' && line[at - 1] > '1') {
        ok = false;
      }
    }
    if (ok) {
      out.commands.emplace_back(line.substr(i, at - i));
    } else {
      ++out.malformed;
    }
    i = line.find('$', at);
  }
  return out;
}

std::vector<std::string> describe(const std::vector<sim::Action>& actions) {
  std::vector<std::string> out;
  for (const sim::Action& a : actions) {
    switch (a.kind) {
      case sim::Action::Kind::log:
        out.push_back("log " + a.text);
        break;
      case sim::Action::Kind::reply:
        out.push_back("reply " + a.text);
        break;
      case sim::Action::Kind::sweep:
        out.push_back("sweep " + std::to_string(a.sweep.start_hz) + " " +
                      std::to_string(a.sweep.step_hz) + " " + std::to_string(a.sweep.points));
        break;
    }
  }
  return out;
}

struct Run {
  std::vector<sim::Action> actions;
  sim::Device device;
};

void feed_in_pieces(Run& run, std::string_view line, const std::vector<std::size_t>& pieces) {
  std::size_t at = 0;
  for (std::size_t k = 0; at < line.size(); ++k) {
    const std::size_t n = pieces.empty() ? line.size() : pieces[k % pieces.size()];
    for (sim::Action& a : run.device.feed(line.substr(at, n))) run.actions.push_back(a);
    at += n;
  }
  for (sim::Action& a : run.device.flush()) run.actions.push_back(a);
}

bool printable(std::string_view text) {
  for (char c : text) {
    if (c < 0x20 || c > 0x7e) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::uint32_t seed = data[0] * 2654435761u + 1;
  const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string what = "line " + shown(line);

  std::vector<std::size_t> random_pieces;
  for (std::size_t total = 0; total < line.size();) {
    seed = seed * 1664525u + 1013904223u;
    const std::size_t n = 1 + (seed >> 16) % 13;
    random_pieces.push_back(n);
    total += n;
  }

  Run whole, bytewise, random;
  feed_in_pieces(whole, line, {});
  feed_in_pieces(bytewise, line, {1});
  feed_in_pieces(random, line, random_pieces);
  const std::vector<std::string> told = describe(whole.actions);
  check(describe(bytewise.actions) == told, "byte-by-byte feeding changed the actions", what);
  check(describe(random.actions) == told, "feeding in pieces changed the actions", what);
  check(bytewise.device.commands() == whole.device.commands() &&
            random.device.commands() == whole.device.commands(),
        "the chunking changed the command count", what);

  // Every acknowledgement and sweep follows the log line of a well-formed
  // command; the carried-out commands are exactly the reference ones.
  const Parsed expected = reference_parse(line);
  std::vector<std::string> carried_out;
  int malformed = 0;
  for (std::size_t k = 0; k < whole.actions.size(); ++k) {
    const sim::Action& a = whole.actions[k];
    if (a.kind == sim::Action::Kind::log) {
      check(printable(a.text), "a log line holds unprintable bytes", what + ": " + shown(a.text));
      if (a.text.rfind("MALFORMED ", 0) == 0) {
        ++malformed;
      } else if (a.text.rfind("JUNK ", 0) != 0) {
        carried_out.push_back(a.text.substr(0, a.text.find(' ')));
      }
      continue;
    }
    check(k > 0 && whole.actions[k - 1].kind == sim::Action::Kind::log,
          "a reply or sweep does not follow the log of its command", what);
    const std::string& log = whole.actions[k - 1].text;
    const std::string command = log.substr(0, log.find(' '));
    check(!command.empty() && command[0] == '$', "a reply or sweep follows no command", what);
    if (a.kind == sim::Action::Kind::reply) {
      check(a.text == sim::kAck, "a reply other than the acknowledgement", what);
      check(command[1] != 'W', "a sweep command was acknowledged", what);
    } else {
      check(command[1] == 'W', "a sweep from another command", what + ": " + command);
    }
    bool known = false;
    for (const std::string& c : expected.commands) known = known || c == command;
    check(known, "acknowledged a malformed command", what + ": " + shown(command));
  }
  std::string listed;
  for (const std::string& c : carried_out) listed += c + " ";
  check(carried_out == expected.commands, "the carried-out commands differ from the layouts",
        what + " carried out " + listed);
  check(malformed == expected.malformed, "the count of malformed commands differs",
        what + ": " + std::to_string(malformed) + " vs " + std::to_string(expected.malformed));
  check(whole.device.commands() == malformed + static_cast<int>(carried_out.size()),
        "commands() does not count every command once", what);
  return 0;
}
