#pragma once

// What the server announces by DNS-SD, composed without Avahi: the services,
// their readable names and TXT records, and where each is announced.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace talmir880::mdns {

// An instance name is one DNS label; a TXT string has a one-byte length.
inline constexpr std::size_t kMaxNameBytes = 63;
inline constexpr std::size_t kMaxTxtBytes = 255;

// "MODEL NAME on HOST", or "MODEL on HOST" without a NAME, in at most 63
// bytes. Past that NAME loses its middle, whose ends tell ports apart
// ("/dev/serial/by-id/usb-…-if00-port0"), and HOST its end, each as much as
// the other needs; a cut never splits a UTF-8 character.
std::string service_name(std::string_view model, std::string_view name, std::string_view host);

// A host name's first label, as Avahi names the machine ("bench-pc" of
// "bench-pc.lab.example").
std::string_view host_label(std::string_view host_name);

// The product, as *IDN? gives it.
struct Product {
  std::string manufacturer;
  std::string model;
  std::string firmware;
};

// One generator of the server: its name in *IDN?'s serial field, its raw
// port, and whether its port is there to serve (else it is not announced).
struct Generator {
  std::string serial;
  int raw_port = 0;
  bool present = true;
};

// Where the server's faces listen; the addresses as the system writes them.
struct Faces {
  std::string raw_host = "127.0.0.1";
  bool vxi11 = false;  // registered with rpcbind
  std::string vxi11_host = "127.0.0.1";
  int web_port = 0;  // 0: no web page over plain HTTP
  std::string web_host = "127.0.0.1";
  int https_port = 0;  // 0: none over TLS
  std::string https_host = "127.0.0.1";
};

// A network interface of this machine, its addresses as the system writes them.
struct Interface {
  int index = 0;
  bool loopback = false;
  std::vector<std::string> addresses;
};

enum class Family { any, ipv4, ipv6 };

// Where a service is announced: on one interface, by its index, or on all.
struct Scope {
  std::optional<int> interface;  // empty: every interface
  Family family = Family::any;
  bool operator==(const Scope&) const = default;
};

// The scope of a face listening on `host`: loopback on the loopback
// interface only, an address on its own interface, the any-address on all;
// each over the family the socket takes. None when no interface has the
// address: nobody could reach what would be announced.
std::optional<Scope> scope_of(std::string_view host, const std::vector<Interface>& interfaces);

struct Service {
  std::string type;  // "_scpi-raw._tcp"
  int port = 0;
  std::vector<std::string> txt;
  Scope scope;
  bool operator==(const Service&) const = default;
};

// Services under one name, announced and withdrawn together.
struct Group {
  std::string name;
  std::vector<Service> services;
  bool operator==(const Group&) const = default;
};

// The TXT records of an LXI instrument's services: txtvers=1 first, the
// identity, path=/ for the web page's; a value cut to fit its string.
std::vector<std::string> txt_records(const Product& product, std::string_view serial,
                                     bool web_page);

// A group for each present generator, its _scpi-raw._tcp on its raw port;
// then one for the server's own faces: _vxi-11._tcp on 111, where clients
// ask rpcbind for it, _http._tcp and _lxi._tcp on the web port, _https._tcp
// on the TLS port (and _lxi._tcp there, without plain HTTP). With one
// generator the server's group carries its name and serial number, with
// several the model's alone. A face no interface can reach is left out.
std::vector<Group> announced(const Product& product, const std::vector<Generator>& generators,
                             const Faces& faces, std::string_view host,
                             const std::vector<Interface>& interfaces);

}  // namespace talmir880::mdns
