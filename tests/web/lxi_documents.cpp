// Writes identification documents of each kind the server makes into a
// folder, for xmllint to hold against the LXI schema (lxi_schema_test.sh).
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "web/qt/lxi_document.hpp"

using namespace talmir880::web;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: lxi_documents FOLDER\n";
    return 2;
  }
  const talmir880::scpi::Identity idn = talmir880::scpi::identity("COM3");
  const NetworkInfo lan{"eth0",        "192.168.1.5", "255.255.255.0", "02:00:00:00:00:05",
                        "192.168.1.1", true,          false,           false};
  const NetworkInfo v6{
      "eth0", "fd00::5", "ffff:ffff:ffff:ffff::", "02:00:00:00:00:05", "fd00::1", false,
      false,  true};
  const NetworkInfo lo{"lo",      "127.0.0.1", "255.0.0.0", "00:00:00:00:00:00",
                       "0.0.0.0", false,       false,       false};
  const std::string url = "http://192.168.1.5:8080/lxi/identification";
  struct Document {
    const char* name;
    Identification id;
  };
  std::vector<Document> documents = {
      {"one-generator",
       {idn,
        "bench-pc",
        url,
        {{{socket_resource("192.168.1.5", 5025)}, lan}, {{instr_resource("192.168.1.5")}, lan}},
        lan,
        {}}},
      {"server-of-two",
       {talmir880::scpi::identity(),
        "bench-pc",
        url,
        {{{socket_resource("192.168.1.5", 5025), socket_resource("192.168.1.5", 5026)}, lan},
         {{instr_resource("192.168.1.5", "inst0"), instr_resource("192.168.1.5", "inst1")}, lan}},
        lan,
        {},
        "2 RF signal generators"}},
      {"ipv6", {idn, "bench-pc", url, {{{socket_resource("fd00::5", 5025)}, v6}}, v6, {}}},
      {"this-machine-only", {idn, "bench<pc>", url, {}, lan, {"SOCKET", "INSTR"}}},
      {"loopback", {idn, "bench-pc", url, {{{instr_resource("127.0.0.1")}, lo}}, lo, {}}},
      {"over-tls",
       {idn,
        "bench-pc",
        "https://192.168.1.5:8443/lxi/identification",
        {{{socket_resource("192.168.1.5", 5025)}, lan}},
        lan,
        {},
        "RF signal generator",
        "https://192.168.1.5:8443/",
        "5E:0A:6B:3C:11:94:D2:7F:80:21:C4:E9:3A:55:B0:67:18:F2:4D:9C:A3:06:E1:7B:52:C8:0D:39:AF:64:"
        "91:2E"}},
  };
  for (const Document& d : documents) {
    std::ofstream out(std::string(argv[1]) + "/" + d.name + ".xml");
    const QByteArray xml = identification_xml(d.id);
    out.write(xml.constData(), xml.size());
    if (!out) return 1;
  }
  return 0;
}
