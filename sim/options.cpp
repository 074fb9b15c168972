#include "options.hpp"

#include <charconv>
#include <functional>

namespace talmir880::sim {
namespace {

template <typename T>
std::optional<T> number(const std::string& text, T low, T high) {
  T value{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, value);
  // Written so that a NaN is out of range too.
  if (ec != std::errc() || ptr != end || !(value >= low && value <= high)) return std::nullopt;
  return value;
}

// Stores a value in range into `field` (a number or an optional one) and says
// whether it was in range.
using Setter = std::function<bool(const std::string&)>;

template <typename T, typename Field>
Setter store(Field& field, T low, T high) {
  return [&field, low, high](const std::string& text) {
    auto n = number<T>(text, low, high);
    if (n) field = *n;
    return n.has_value();
  };
}

}  // namespace

ParsedOptions parse_options(const std::vector<std::string>& args) {
  Options o;
  struct ValueFlag {
    const char* name;
    const char* range;
    Setter set;
  };
  const ValueFlag value_flags[] = {
      {"--port", "1..10", store(o.port, 1, 10)},
      {"--baud", "0..4000000", store(o.pacer.baud, 0, 4'000'000)},
      {"--dwell-ms", "0..60000", store(o.pacer.dwell_ms, 0, 60'000)},
      {"--latency-ms", "0..1000", store(o.pacer.latency_ms, 0, 1'000)},
      {"--split-ack", "0..60000", store(o.pacer.split_ack_ms, 0, 60'000)},
      {"--noise", "0..1000000", store(o.pacer.noise_per_second, 0.0, 1e6)},
      {"--vanish-after", "1..1000000", store(o.vanish_after, 1, 1'000'000)},
  };
  const std::pair<const char*, bool*> switches[] = {{"--silent", &o.pacer.silent},
                                                    {"--lowercase", &o.pacer.lowercase},
                                                    {"--quiet", &o.quiet},
                                                    {"--help", &o.help},
                                                    {"-h", &o.help}};

  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> value;
    if (auto eq = name.find('='); eq != std::string::npos && name.starts_with("--")) {
      value = name.substr(eq + 1);
      name.resize(eq);
    }
    bool known = false;
    for (const auto& [flag, target] : switches) {
      if (name != flag) continue;
      if (value) return {std::nullopt, name + " takes no value"};
      *target = known = true;
    }
    for (const ValueFlag& flag : value_flags) {
      if (name != flag.name) continue;
      known = true;
      if (!value) {
        if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
        value = args[++i];
      }
      if (!flag.set(*value)) {
        return {std::nullopt, name + ": \"" + *value + "\" is not a number in " + flag.range};
      }
    }
    if (!known) return {std::nullopt, "unknown option " + args[i]};
  }
  return {o, {}};
}

std::string usage() {
  return R"(Usage: talmir880-sim [options]
Plays the TALMIR-880 signal generator on a pseudo-terminal and links it as
COM<n> in the ports folder ($XDG_RUNTIME_DIR/talmir880, or /tmp/talmir880-<uid>),
where the panel finds it. Prints one line per command received.

  --port N          link as COM<N>, 1..10 (default 9)
  --baud B          the line's speed both ways, 10 bits per character (8N1)
                    (default 57600): a command is taken when its last
                    character has arrived, commands written together queue,
                    and each acknowledgement or sweep point reaches the reader
                    when its last character has gone out (an 11-character
                    command and its acknowledgement: 2.4 ms at 57600);
                    0: no pacing, everything as fast as it is read
  --dwell-ms MS     extra time per sweep point (default 0)
  --latency-ms MS   hand paced output over in batches at least MS
                    milliseconds apart, as a USB serial adapter's latency
                    timer does (16 is common); the first write after a quiet
                    spell goes at once (default 0: each write when it is due;
                    no effect with --baud 0 and no dwell)
  --silent          never acknowledge
  --lowercase       acknowledge with "*r*" instead of "*R*"
  --split-ack MS    send the acknowledgement in two writes: "*", then MS
                    milliseconds later "R*" (each paced as --baud says)
  --noise RATE      also send RATE random characters per second (never R or r)
  --vanish-after N  once the Nth command has arrived (not acknowledged), close
                    the pseudo-terminal, remove the link, print VANISHED, exit 0
  --quiet           do not print the per-command lines
  --help            show this text

The link and its lock file COM<n>.lock are removed when the simulator ends.
Exit status: 0 on SIGINT/SIGTERM/SIGHUP or after vanishing, 1 when COM<N> is
held by another running simulator or the port cannot be set up, 2 on a bad
option.
)";
}

}  // namespace talmir880::sim
