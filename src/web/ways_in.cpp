#include "web/ways_in.hpp"

namespace talmir880::web {

Offers offers(const Listening& raw, const std::optional<Listening>& vxi11,
              const std::string& reached, bool local) {
  Offers out;
  out.raw = offer(raw, reached, local);
  if (vxi11) out.instr = offer(*vxi11, reached, local);
  return out;
}

Identification identification(std::span<const ServedGenerator> generators,
                              std::optional<std::size_t> one, const Offers& offered,
                              const HostNetwork& network, const std::string& reached) {
  // The server's own document names the model, no one generator (its
  // serial field "0", as an unnamed one's), and every way in to each.
  Identification id;
  id.identity = one ? generators[*one].identity : scpi::identity();
  id.reached = network_info(reached, network.interfaces, network.gateways);
  if (!one) id.description = std::to_string(generators.size()) + " RF signal generators";
  const auto way = [&](const Offer& offer, const char* name, auto resource) {
    if (offer.this_machine_only) id.this_machine_only.push_back(name);
    if (offer.host.empty()) return;
    WayIn in{{}, network_info(offer.host, network.interfaces, network.gateways)};
    for (std::size_t i = 0; i < generators.size(); ++i) {
      if (one && *one != i) continue;
      const std::string r = resource(offer.host, i);
      if (!r.empty()) in.resources.push_back(r);
    }
    if (!in.resources.empty()) id.ways.push_back(std::move(in));
  };
  way(offered.raw, "SOCKET", [&](const std::string& host, std::size_t i) {
    const int port = generators[i].raw_port;
    return port > 0 ? socket_resource(host, port) : std::string();
  });
  way(offered.instr, "INSTR", [&](const std::string& host, std::size_t i) {
    return instr_resource(host, generators.size() == 1 ? "" : "inst" + std::to_string(i));
  });
  return id;
}

std::vector<ListedGenerator> listed(std::span<const ServedGenerator> generators,
                                    const Offers& offered) {
  std::vector<ListedGenerator> out;
  for (std::size_t i = 0; i < generators.size(); ++i) {
    const ServedGenerator& s = generators[i];
    ListedGenerator g{s.identity.serial, {}, {}, s.port, s.rf};
    if (!offered.raw.host.empty() && s.raw_port > 0) {
      g.socket_resource = socket_resource(offered.raw.host, s.raw_port);
    }
    if (!offered.instr.host.empty()) {
      g.instr_resource = instr_resource(offered.instr.host, "inst" + std::to_string(i));
    }
    g.socket_this_machine_only = offered.raw.this_machine_only && s.raw_port > 0;
    g.instr_this_machine_only = offered.instr.this_machine_only;
    out.push_back(std::move(g));
  }
  return out;
}

}  // namespace talmir880::web
