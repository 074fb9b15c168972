// The plain settings: each made from its description alone.
#include <string>

#include "protocol/settings.hpp"
#include "scpi/command_rows.hpp"
#include "scpi/setters.hpp"

namespace talmir880::scpi::setters {
namespace {

// Always sent: the device cannot be asked what it holds.
void put(Call& c, const protocol::Setting& s, std::size_t slot, double value) {
  c.device(s.encode(value), [slot, value](Settings& t) { t.plain[slot] = value; });
}

}  // namespace

void set_plain(Call& c) { put(c, *c.row->setting, c.row->slot, c.value.number); }

std::string ask_plain(Call& c) { return whole(c.settings().plain[c.row->slot]); }

void reset_plain(Call& c) {
  for (const protocol::Setting& s : protocol::kSettings) {
    if (protocol::is_plain(s)) put(c, s, protocol::plain_slot(s), s.start_up);
  }
}

}  // namespace talmir880::scpi::setters
