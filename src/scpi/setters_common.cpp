// The IEEE 488.2 common commands that do more than read or write a register.
#include <string>

#include "protocol/commands.hpp"
#include "scpi/identity.hpp"
#include "scpi/setters.hpp"

namespace talmir880::scpi::setters {

void reset(Call& c) {
  c.generator.abort(c.client);
  // The output, the modulation and the plain settings become what the
  // device acknowledges of the switch-off and the start-up values below;
  // the rest is start-up again.
  c.keep([](Settings& t) {
    Settings fresh;
    fresh.output_on = t.output_on;
    fresh.modulation_on = t.modulation_on;
    fresh.plain = t.plain;
    t = fresh;
  });
  c.switch_off();
  reset_plain(c);
}

void save(Call& c) {
  // One memory: the device's flash, with the mode it starts in.
  c.device([](const Settings& a) {
    return protocol::save(a.sweep_mode ? protocol::SaveMode::sweep
                                       : protocol::SaveMode::single_point);
  });
}

void operation_complete(Call& c) {
  // By id: the client may have gone by the time everything is done.
  StatusBoard& statuses = c.generator.statuses();
  c.generator.when_done(c.generator.last(),
                        [&statuses, client = c.client, cleared = c.status().clears()] {
                          Status* status = statuses.find(client);
                          if (status != nullptr && status->clears() == cleared) {
                            status->operation_complete();
                          }
                        });
}

std::string ask_operation_complete(Call& c) {
  c.wait_for_all();
  return "1";
}

void wait(Call& c) { c.wait_for_all(); }

std::string ask_self_test(Call& c) { return c.generator.reachable(c.client) ? "0" : "1"; }
std::string ask_identity(Call& c) { return identity_text(identity(c.generator.serial())); }

}  // namespace talmir880::scpi::setters
