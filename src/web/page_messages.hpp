#pragma once

// What the page and the server say to each other over /ws. The server sends
// small JSON objects; the page sends one action a message, "NAME VALUE",
// which becomes one SCPI line from a fixed table, so that a page can ask
// for nothing a control of it does not offer.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_session.hpp"
#include "device/generator_state.hpp"
#include "protocol/settings.hpp"
#include "scpi/generator.hpp"

namespace talmir880::web {

// A message from the page longer than this is no action of ours.
inline constexpr std::size_t kMaxAction = 64;

// Everything the page shows, from the device's record and the settings.
struct PageState {
  Held held;
  std::optional<Pass> pass;
  PortState port = PortState::closed;
  scpi::Settings settings;
  bool control = false;       // this visitor may change settings
  bool password_set = false;  // a login is possible at all
};

std::string state_message(const PageState& state);
// The page's own command errors, as SYSTem:ERRor? would answer them.
std::string errors_message(const std::vector<std::string>& errors);
// Something the server did not do for the page, and why: a reason the page
// words in its language, and the same in English.
enum class Refusal {
  not_an_action,  // the detail: what the page sent
  read_only_log_in,
  read_only_this_machine,
  clients_full,
  backlog_full,
};
std::string refused_message(Refusal refusal, std::string_view detail = {});
// The device became unreachable (the fault as cause() words it) or
// reachable again (an empty fault): an event of the device, which the page
// shows apart from its own commands' errors.
std::string device_message(DeviceFault fault);

// The SCPI line for an action of the page: a command of its own, or a
// setting's action (its header, the value, the page's unit); nothing for an
// unknown action or a value that is no plain number (or 0 or 1 for a switch).
std::optional<std::string> command_line(
    std::string_view action, std::span<const protocol::Setting> settings = protocol::kSettings);

// The port's state as the pages show it: open, closed, absent, gone.
const char* port_text(PortState port);
// An output as the pages' messages name it: on, off, unsure.
const char* switched_text(Switched output);

// Text as a JSON string, quotes included.
std::string json_string(std::string_view text);

}  // namespace talmir880::web
