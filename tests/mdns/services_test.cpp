// What DNS-SD announces, composed without Avahi: names, TXT records, the
// groups of services and the interfaces they go out on.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "mdns/services.hpp"

namespace talmir880::mdns {
namespace {

// Whether s is whole UTF-8: no character cut short at either end.
bool whole_utf8(const std::string& s) {
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) return false;
    for (std::size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n;
  }
  return true;
}

TEST(ServiceName, ModelNameAndHostCutToOneLabel) {
  const struct {
    std::string name, host, expected;
  } cases[] = {
      {"COM3", "bench-pc", "TALMIR-880 COM3 on bench-pc"},
      {"", "bench-pc", "TALMIR-880 on bench-pc"},
      {"/dev/serial/by-id/usb-FTDI_A50285BI-port", "bench-pc",
       "TALMIR-880 /dev/serial/by-id/usb-FTDI_A50285BI-port on bench-pc"},
      // One byte over: the name keeps its start and its end.
      {"/dev/serial/by-id/usb-FTDI_A50285BI-port0", "bench-pc",
       "TALMIR-880 /dev/serial/by-id/u…TDI_A50285BI-port0 on bench-pc"},
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "bench-pc",
       "TALMIR-880 /dev/serial/by-id/u…50285BI-if00-port0 on bench-pc"},
      {"COM3", "signal-generators-bench-in-building-seven-room-twelve",
       "TALMIR-880 COM3 on signal-generators-bench-in-building-seven…"},
      // Both too long: half the room each.
      {"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
       "signal-generators-bench-in-building-seven",
       "TALMIR-880 /dev/serial…if00-port0 on signal-generators-ben…"},
      // Three bytes a character: a cut falls between them.
      {"COM3", "信号源实验室第三号机房测试台左侧工作站",
       "TALMIR-880 COM3 on 信号源实验室第三号机房测试…"},
      {"tcp:bench-pi.local:3333", "信号源实验室第三号机房测试台左侧工作站",
       "TALMIR-880 tcp:bench-pi.local:3333 on 信号源实验室第…"},
  };
  for (const auto& c : cases) {
    const std::string name = service_name("TALMIR-880", c.name, c.host);
    EXPECT_EQ(name, c.expected) << c.name << " on " << c.host;
    EXPECT_LE(name.size(), kMaxNameBytes) << name;
    EXPECT_TRUE(whole_utf8(name)) << name;
  }
  EXPECT_EQ(host_label("bench-pc.lab.example"), "bench-pc");
  EXPECT_EQ(host_label("bench-pc"), "bench-pc");
}

const std::vector<Interface> kInterfaces = {
    {1, true, {"127.0.0.1", "::1"}},
    {2, false, {"192.168.10.5", "fe80::5"}},
    {3, false, {"10.0.0.7"}},
};

TEST(ScopeOf, LoopbackStaysOnLoopbackAnAddressOnItsInterface) {
  const struct {
    std::string host;
    std::optional<Scope> expected;
  } cases[] = {
      {"127.0.0.1", Scope{1, Family::ipv4}},          {"127.0.0.2", Scope{1, Family::ipv4}},
      {"localhost", Scope{1, Family::ipv4}},          {"::1", Scope{1, Family::ipv6}},
      {"0.0.0.0", Scope{std::nullopt, Family::ipv4}}, {"::", Scope{std::nullopt, Family::any}},
      {"192.168.10.5", Scope{2, Family::ipv4}},       {"fe80::5", Scope{2, Family::ipv6}},
      {"10.0.0.7", Scope{3, Family::ipv4}},           {"192.168.99.1", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(scope_of(c.host, kInterfaces), c.expected) << c.host;
  EXPECT_EQ(scope_of("127.0.0.1", {kInterfaces[1]}), std::nullopt) << "no loopback interface";
}

const Product kProduct{"TALMIR", "TALMIR-880", "1.0.0"};

TEST(TxtRecords, VersionFirstThenTheIdentityAndThePageItsPath) {
  EXPECT_EQ(txt_records(kProduct, "COM3", false),
            (std::vector<std::string>{"txtvers=1", "Manufacturer=TALMIR", "Model=TALMIR-880",
                                      "SerialNumber=COM3", "FirmwareVersion=1.0.0"}));
  EXPECT_EQ(txt_records(kProduct, "", true),
            (std::vector<std::string>{"txtvers=1", "Manufacturer=TALMIR", "Model=TALMIR-880",
                                      "FirmwareVersion=1.0.0", "path=/"}));
  const std::string serial(300, 'x');
  const std::string record = txt_records(kProduct, serial, false)[3];
  EXPECT_EQ(record, "SerialNumber=" + serial.substr(0, kMaxTxtBytes - 13));
}

Service raw(int port, Scope scope, const std::string& serial) {
  return {"_scpi-raw._tcp", port, txt_records(kProduct, serial, false), scope};
}

TEST(Announced, AGroupPerPresentGeneratorAndOneForTheServer) {
  const Scope lo{1, Family::ipv4};
  const Scope all{std::nullopt, Family::ipv4};
  const Faces loopback{"127.0.0.1", true, "127.0.0.1", 8080, "127.0.0.1"};
  const Faces open_raw_only{"0.0.0.0", false, "127.0.0.1", 0, "127.0.0.1"};
  const Faces open_page_local{"0.0.0.0", false, "127.0.0.1", 8080, "127.0.0.1"};
  const Faces elsewhere{"192.168.99.1", true, "192.168.99.1", 0, "127.0.0.1"};
  const Faces tls_only{"127.0.0.1", false, "127.0.0.1", 0, "127.0.0.1", 8443, "127.0.0.1"};
  const Faces both{"127.0.0.1", false, "127.0.0.1", 8080, "127.0.0.1", 8443, "127.0.0.1"};
  const std::string one = "TALMIR-880 COM3 on bench";
  const std::vector<Service> server_one = {
      {"_vxi-11._tcp", 111, txt_records(kProduct, "COM3", false), lo},
      {"_http._tcp", 8080, txt_records(kProduct, "COM3", true), lo},
      {"_lxi._tcp", 8080, txt_records(kProduct, "COM3", true), lo}};
  const std::vector<Service> page_only = {{"_http._tcp", 8080, txt_records(kProduct, "", true), lo},
                                          {"_lxi._tcp", 8080, txt_records(kProduct, "", true), lo}};
  const struct {
    const char* what;
    std::vector<Generator> generators;
    Faces faces;
    std::vector<Group> expected;
  } cases[] = {
      {"one generator, every face",
       {{"COM3", 5025, true}},
       loopback,
       {{one, {raw(5025, lo, "COM3")}}, {one, server_one}}},
      {"its port gone: the server's faces stay",
       {{"COM3", 5025, false}},
       loopback,
       {{one, server_one}}},
      {"nobody named it",
       {{"0", 5025, true}},
       open_raw_only,
       {{"TALMIR-880 on bench", {raw(5025, all, "0")}}}},
      {"two, one absent; the page local while the raw sockets are open",
       {{"COM3", 5025, true}, {"COM4", 5026, false}},
       open_page_local,
       {{one, {raw(5025, all, "COM3")}}, {"TALMIR-880 on bench", page_only}}},
      {"listening where no interface is", {{"COM3", 5025, true}}, elsewhere, {}},
      {"the page over TLS alone: LXI's discovery finds it there",
       {{"COM3", 5025, false}},
       tls_only,
       {{one,
         {{"_https._tcp", 8443, txt_records(kProduct, "COM3", true), lo},
          {"_lxi._tcp", 8443, txt_records(kProduct, "COM3", true), lo}}}}},
      {"both: LXI's on plain HTTP, which answers the identification",
       {{"COM3", 5025, false}},
       both,
       {{one,
         {{"_http._tcp", 8080, txt_records(kProduct, "COM3", true), lo},
          {"_lxi._tcp", 8080, txt_records(kProduct, "COM3", true), lo},
          {"_https._tcp", 8443, txt_records(kProduct, "COM3", true), lo}}}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(announced(kProduct, c.generators, c.faces, "bench", kInterfaces), c.expected)
        << c.what;
  }
}

}  // namespace
}  // namespace talmir880::mdns
