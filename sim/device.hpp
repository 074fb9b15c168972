#pragma once

// The TALMIR-880 as its firmware reads the wire: commands have no terminator,
// so each one is known only by "$", its letter and its fixed field widths.
// Device takes received bytes in chunks of any size and answers with actions;
// it does no I/O and keeps no time, so a caller decides how replies go out.
// The plain settings' commands (the level's "$P") are taken from the
// settings' description, as the programs make them.

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/settings.hpp"

namespace talmir880::sim {

struct Settings {
  std::int64_t rf_hz = 0;
  bool rf_on = false;
  std::int64_t mod_hz = 0;
  bool mod_on = false;
  // Each plain setting's value by its name ("level": -12 dBm), as its
  // description writes it.
  std::map<std::string, double, std::less<>> plain;
};

enum class SaveMode { single_point, sweep };

struct SavedSettings {
  Settings settings;
  SaveMode mode = SaveMode::single_point;
};

struct SweepRequest {
  std::int64_t start_hz = 0;
  std::int64_t step_hz = 0;
  int points = 0;
};

struct Action {
  enum class Kind { reply, log, sweep };
  Kind kind = Kind::log;
  std::string text;  // reply bytes or log line
  SweepRequest sweep{};
};

inline constexpr std::string_view kAck = "*R*";

class Device {
 public:
  // Takes the plain settings of `description`, each as the prefix of its
  // `device` command and the digits its encoder writes after it.
  explicit Device(std::span<const protocol::Setting> description = protocol::kSettings);

  std::vector<Action> feed(std::string_view bytes);
  // Logs a run of junk still waiting for the next "$" (the caller's input
  // went quiet, or it is closing down).
  std::vector<Action> flush();
  bool junk_pending() const { return junk_len_ > 0; }

  const Settings& settings() const { return settings_; }
  const std::optional<SavedSettings>& saved() const { return saved_; }
  // Commands seen so far, well-formed or malformed; junk does not count.
  int commands() const { return commands_; }

 private:
  enum class Phase { outside, letter, fields };

  struct Layout {
    char letter;
    std::array<int, 3> widths;
    int fields;
    int signed_field;  // the field that may open with "-", or -1
    int plain = -1;    // the plain setting it sets, in plain_, or -1
  };

  const Layout* layout_for(char letter) const;
  void set_plain(const protocol::Setting& setting, std::vector<Action>& out);

  void take(char c, std::vector<Action>& out);
  void start_command(std::vector<Action>& out);
  void malformed(std::vector<Action>& out);
  void execute(std::vector<Action>& out);
  void log_junk(std::vector<Action>& out);

  std::vector<protocol::Setting> plain_;
  std::vector<Layout> layouts_;
  Phase phase_ = Phase::outside;
  std::string command_;
  std::vector<std::int64_t> values_;
  int digits_ = 0;  // digits read in the current field
  bool negative_ = false;
  std::string junk_;
  std::size_t junk_len_ = 0;

  Settings settings_;
  std::optional<SavedSettings> saved_;
  int commands_ = 0;
};

// The 4 characters the device sends for sweep point `index`: the index
// modulo 10000 as digits, so a reader looking for an "R" never finds one.
std::string sweep_point_text(int index);

// Printable ASCII as is; quotes, backslashes and other bytes escaped C-style.
std::string escape(std::string_view bytes);

}  // namespace talmir880::sim
