#pragma once

// What the LXI identification document (/lxi/identification) says: what
// *IDN? answers and one interface per way in. web/qt/lxi_document.hpp
// writes it as XML.

#include <string>
#include <vector>

#include "scpi/identity.hpp"
#include "web/reach.hpp"

namespace talmir880::web {

inline constexpr const char* kLxiNamespace =
    "http://www.lxistandard.org/InstrumentIdentification/1.0";

// Our extension's elements.
inline constexpr const char* kOwnNamespace = "urn:talmir880:lxi";

// The LXI version whose identification schema the document follows.
inline constexpr const char* kLxiVersion = "1.4";

// One way in (the raw socket, VXI-11) as a visitor can use it: its VISA
// resource strings (one per generator) and the interface they name.
struct WayIn {
  std::vector<std::string> resources;
  NetworkInfo network;
};

struct Identification {
  scpi::Identity identity;
  std::string host_name;
  std::string url;  // where the document itself is
  // One Interface each; none usable from where the visitor is: the
  // document names the interface it reached, with no resource string.
  std::vector<WayIn> ways;
  NetworkInfo reached;
  // The ways in only this machine reaches ("SOCKET", "INSTR"), for the
  // page to say so: an extension of ours, which other readers skip.
  std::vector<std::string> this_machine_only;
  std::string description = "RF signal generator";
  std::string homepage{};  // the page over TLS, when it is served so; "" otherwise
  // The TLS certificate's SHA-256 fingerprint, for users to compare with
  // what their browser shows: an extension of ours.
  std::string fingerprint{};
};

// The VISA resource string of the raw socket, and of VXI-11's INSTR: the
// device name left out for a server of one generator, VISA's default
// inst0 being that one.
std::string socket_resource(const std::string& address, int port);
std::string instr_resource(const std::string& address, const std::string& device = {});

}  // namespace talmir880::web
