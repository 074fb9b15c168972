#pragma once

// What the page and the server say to each other over /ws. The server sends
// small JSON objects, whose fields are decided here and written by the Qt
// face (web/qt/page_json.hpp); the page sends one action a message, "NAME
// VALUE", which becomes one SCPI line from a fixed table, so that a page can
// ask for nothing a control of it does not offer.

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "device/device_session.hpp"
#include "device/generator_state.hpp"
#include "generator/generator.hpp"
#include "protocol/settings.hpp"

namespace talmir880::web {

// A message from the page longer than this is no action of ours.
inline constexpr std::size_t kMaxAction = 64;

// Everything the page shows, from the device's record and the settings.
struct PageState {
  Held held;
  std::optional<Pass> pass;
  PortState port = PortState::closed;
  Settings settings;
  bool control = false;       // this visitor may change settings
  bool password_set = false;  // a login is possible at all
};

// A message to the page: its fields, "type" among them, each a value JSON
// has (a count a whole number, a frequency a double).
using MessageValue = std::variant<bool, long long, double, std::string, std::vector<std::string>>;
struct MessageField {
  std::string key;
  MessageValue value;
};
using Message = std::vector<MessageField>;
// The value of a field; nothing when the message has no such field.
const MessageValue* field(const Message& message, std::string_view key);

// The state: for each described setting the page shows, a field named by
// its action with its value in the page's unit (a switch true or false,
// a value in the setting's own unit a whole number); then what the device
// does now, the pass, the port and the visitor's access.
Message state_message(const PageState& state,
                      std::span<const protocol::Setting> settings = protocol::kSettings);
// The page's own command errors, as SYSTem:ERRor? would answer them.
Message errors_message(const std::vector<std::string>& errors);
// Something the server did not do for the page, and why: a reason the page
// words in its language, and the same in English.
enum class Refusal {
  not_an_action,  // the detail: what the page sent
  read_only_log_in,
  read_only_this_machine,
  clients_full,
  backlog_full,
};
Message refused_message(Refusal refusal, std::string_view detail = {});
// The device became unreachable (the fault as cause() words it) or
// reachable again (an empty fault): an event of the device, which the page
// shows apart from its own commands' errors.
Message device_message(DeviceFault fault);

// An action of the page as the instrument runs it, and as a recorded
// session's script does it again: its SCPI line (a command of the page's
// own, or a setting's action: its header, the value, the page's unit);
// whether a script waits for it (*OPC?) before the next, as the page's
// user saw it done; and the same in statements of the Python class on
// `gen`. Nothing for an unknown action or a value that is no plain number
// (or 0 or 1 for a switch).
struct PageAction {
  std::string line;
  bool waits = true;
  std::vector<std::string> python;  // none where the value is no number
};
std::optional<PageAction> page_action(
    std::string_view message, std::span<const protocol::Setting> settings = protocol::kSettings);
// An action has run: its line, its errors (as SYSTem:ERRor? answers them)
// and how a script does it again.
Message ran_message(const PageAction& action, const std::vector<std::string>& errors);

// The unit the page writes a setting in, and how many of the setting's own
// units one of it is (1e6 for MHz of Hz).
std::string_view page_unit(const protocol::Setting& setting);
double page_scale(const protocol::Setting& setting);

// The port's state as the pages show it: open, closed, absent, gone.
const char* port_text(PortState port);
// An output as the pages' messages name it: on, off, unsure.
const char* switched_text(Switched output);

}  // namespace talmir880::web
