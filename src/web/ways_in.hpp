#pragma once

// What a visitor is offered of a server's generators: each way in (the raw
// socket, VXI-11) as the resource strings it can use, for the LXI
// identifications and the list page.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device/generator_state.hpp"
#include "scpi/identity.hpp"
#include "web/list_page.hpp"
#include "web/lxi.hpp"
#include "web/reach.hpp"

namespace talmir880::web {

// One generator as the pages name it.
struct ServedGenerator {
  scpi::Identity identity;
  int raw_port = 0;  // 0: no raw socket
  PortState port = PortState::closed;
  Switched rf = Switched::unsure;
};

// What a visitor is offered of the raw sockets and of VXI-11.
struct Offers {
  Offer raw;
  Offer instr;
};
// `vxi11`: where VXI-11 listens, if it runs.
Offers offers(const Listening& raw, const std::optional<Listening>& vxi11,
              const std::string& reached, bool local);

// The identification of generator `one`, or, without one, the server's
// own (the model, every generator's ways in). The caller adds the host
// name and the document's URL.
Identification identification(std::span<const ServedGenerator> generators,
                              std::optional<std::size_t> one, const Offers& offered,
                              const HostNetwork& network, const std::string& reached);

// The list page's rows, one a generator.
std::vector<ListedGenerator> listed(std::span<const ServedGenerator> generators,
                                    const Offers& offered);

}  // namespace talmir880::web
