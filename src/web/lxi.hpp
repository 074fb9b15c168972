#pragma once

// The LXI identification document (/lxi/identification), in the
// instrument-identification schema 1.0, with what *IDN? answers.

#include <string>
#include <vector>

#include "scpi/identity.hpp"

namespace talmir880::web {

inline constexpr const char* kLxiNamespace =
    "http://www.lxistandard.org/InstrumentIdentification/1.0";

struct Identification {
  scpi::Identity identity;
  std::string host_name;
  std::string address;  // the IP address the visitor reached
  std::string url;      // where the document itself is
  // The VISA resource strings, one per way in.
  std::vector<std::string> resources;
  std::string description = "RF signal generator";
};

std::string identification_xml(const Identification& id);

// The VISA resource string of the raw socket, and of VXI-11's INSTR: the
// device name left out for a server of one generator, VISA's default
// inst0 being that one.
std::string socket_resource(const std::string& address, int port);
std::string instr_resource(const std::string& address, const std::string& device = {});

// Text with &, <, > and quotes escaped.
std::string xml_text(const std::string& text);

}  // namespace talmir880::web
