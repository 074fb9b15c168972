// What the network faces refuse before a line runs: web requests, and
// peers outside --allow.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/allow_list.hpp"
#include "net/peer_guard.hpp"

namespace talmir880::net {
namespace {

TEST(WebLine, ScpiPassesAndHttpIsRefused) {
  const struct {
    const char* line;
    WebLine kind;
  } cases[] = {
      {"*IDN?", WebLine::none},
      {":SOUR:FREQ 1", WebLine::none},
      {"SOUR:FREQ 1", WebLine::none},
      {"FREQ:MODE SWE", WebLine::none},
      {"OUTP ON", WebLine::none},
      {"SYST:ERR?", WebLine::none},
      {"FREQ 1 MHZ;:OUTP ON;*OPC?", WebLine::none},
      {"SYST:ERR?;:FREQ?", WebLine::none},
      {"STAT:OPER:ENAB 1", WebLine::none},
      {"OUTP:STAT ON", WebLine::none},
      {"", WebLine::none},
      {"host", WebLine::none},
      {"HOST:NAME x", WebLine::none},    // a colon followed by a mnemonic
      {"FREQ: 1", WebLine::none},        // malformed SCPI, not a header name
      {"FREQ 1 HTTP", WebLine::none},    // no version
      {"*RST HTTP/1.1", WebLine::none},  // no target, and * is no method letter
      {"POST / HTTP/1.1", WebLine::request_line},
      {"GET /index.html HTTP/1.0", WebLine::request_line},
      {"get / http/1.1", WebLine::request_line},
      {"OPTIONS * HTTP/2", WebLine::request_line},
      {"M-SEARCH * HTTP/1.1", WebLine::request_line},
      {"Host: 127.0.0.1:5025", WebLine::header_line},
      {"host: x", WebLine::header_line},
      {"HOST:\tx", WebLine::header_line},
      {"Host:", WebLine::header_line},
      {"Origin: null", WebLine::header_line},
      {"User-Agent: curl/7.88.1", WebLine::header_line},
      {"content-type: text/plain", WebLine::header_line},
      {"Content-Length: 9", WebLine::header_line},
      {"Accept: */*", WebLine::header_line},
      {"Sec-Fetch-Mode: navigate", WebLine::header_line},
      {"Upgrade-Insecure-Requests: 1", WebLine::header_line},
      {"Connection: keep-alive", WebLine::header_line},
  };
  for (const auto& c : cases) EXPECT_EQ(web_line(c.line), c.kind) << c.line;
}

TEST(AllowList, RangesParseAndMatch) {
  const struct {
    const char* range;
    const char* peer;
    bool inside;
  } cases[] = {
      {"10.99.0.2", "10.99.0.2", true},
      {"10.99.0.2", "10.99.0.3", false},
      {"10.99.0.2/32", "10.99.0.2", true},
      {"192.168.1.0/24", "192.168.1.200", true},
      {"192.168.1.0/24", "192.168.2.1", false},
      {"192.168.1.77/24", "192.168.1.1", true},  // host bits are ignored
      {"172.16.0.0/12", "172.31.255.255", true},
      {"172.16.0.0/12", "172.32.0.0", false},
      {"0.0.0.0/0", "8.8.8.8", true},
      {"0.0.0.0/0", "2001:db8::1", false},    // an IPv4 range holds no IPv6 peer
      {"10.0.0.1", "::ffff:10.0.0.1", true},  // a mapped peer on a dual-stack socket
      {"::ffff:10.0.0.0/104", "10.1.2.3", true},
      {"2001:db8::1", "2001:db8::1", true},
      {"2001:db8::1", "2001:db8::2", false},
      {"2001:db8::/32", "2001:db8:ffff::7", true},
      {"2001:db8::/32", "2001:db9::", false},
      {"fe80::/10", "febf::1", true},
      {"fe80::/10", "fec0::1", false},
      {"::/0", "::ffff:1.2.3.4", true},
      {"1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7:8", true},
      {"::1.2.3.4", "::102:304", true},
  };
  for (const auto& c : cases) {
    const std::optional<AddressRange> range = parse_address_range(c.range);
    const std::optional<Address> peer = parse_address(c.peer);
    ASSERT_TRUE(range && peer) << c.range << " " << c.peer;
    EXPECT_EQ(range->contains(*peer), c.inside) << c.range << " " << c.peer;
  }
}

TEST(AllowList, LoopbackAlwaysAndEveryoneWithoutEntries) {
  const AllowList open;
  const AllowList narrow({*parse_address_range("10.99.0.2")});
  for (const char* peer : {"127.0.0.1", "127.8.9.10", "::1", "::ffff:127.0.0.1"}) {
    EXPECT_TRUE(narrow.allows(*parse_address(peer))) << peer;
  }
  EXPECT_TRUE(narrow.allows(*parse_address("10.99.0.2")));
  EXPECT_FALSE(narrow.allows(*parse_address("10.99.0.3")));
  EXPECT_FALSE(narrow.allows(*parse_address("::2")));
  EXPECT_TRUE(open.allows(*parse_address("10.99.0.3")));
}

TEST(AllowList, AddressesReadBackAsLogged) {
  for (const char* text : {"10.99.0.3", "0.0.0.0", "255.255.255.255", "::1", "::", "2001:db8::1",
                           "fe80::1:0:0:2", "1:0:0:2::", "1:2:3:4:5:6:7:8", "1::3:0:0:6:0"}) {
    const std::optional<Address> address = parse_address(text);
    ASSERT_TRUE(address) << text;
    EXPECT_EQ(address_text(*address), text);
  }
  EXPECT_EQ(address_text(*parse_address("::FFFF:10.0.0.1")), "10.0.0.1");
  EXPECT_EQ(address_text(*parse_address("2001:0db8:0:0:0:0:0:0001")), "2001:db8::1");
}

TEST(PeerGuard, RefusesOutsidersAndSaysSoOnceAMinutePerPeer) {
  std::vector<std::string> log;
  PeerGuard guard(AllowList({*parse_address_range("10.99.0.2")}),
                  [&log](const std::string& line) { log.push_back(line); });
  const PeerGuard::Clock::time_point start{};
  const Address inside = *parse_address("10.99.0.2");
  const Address outside = *parse_address("10.99.0.3");
  const Address other = *parse_address("2001:db8::9");
  EXPECT_TRUE(guard.admit(inside, start));
  EXPECT_FALSE(guard.admit(outside, start));
  EXPECT_FALSE(guard.admit(outside, start + std::chrono::seconds(59)));
  guard.closed_web_request(outside, start + std::chrono::seconds(30));
  EXPECT_FALSE(guard.admit(other, start + std::chrono::seconds(30)));
  EXPECT_FALSE(guard.admit(outside, start + std::chrono::seconds(60)));
  guard.closed_web_request(inside, start + std::chrono::seconds(61));
  EXPECT_EQ(log, (std::vector<std::string>{
                     "refused a connection from 10.99.0.3: not in --allow",
                     "refused a connection from 2001:db8::9: not in --allow",
                     "refused a connection from 10.99.0.3: not in --allow",
                     "closed a connection from 10.99.0.2: it sent HTTP, and no line of a web "
                     "request runs",
                 }));
}

TEST(PeerGuard, ManyPeersInAMinuteCostABoundedMemory) {
  int lines = 0;
  PeerGuard guard(AllowList({*parse_address_range("10.0.0.1")}),
                  [&lines](const std::string&) { ++lines; });
  const PeerGuard::Clock::time_point start{};
  const int many = static_cast<int>(PeerGuard::kMaxRemembered) + 10;
  for (int i = 0; i < many; ++i) guard.admit(Address::ipv4(0x0b000000U + i), start);
  EXPECT_EQ(lines, static_cast<int>(PeerGuard::kMaxRemembered)) << "the rest are not told";
  guard.admit(Address::ipv4(0x0c000000U), start + PeerGuard::kQuiet);
  EXPECT_EQ(lines, static_cast<int>(PeerGuard::kMaxRemembered) + 1) << "told again a minute on";
}

TEST(AddressText, PutsAnIpv6HostInBrackets) {
  const struct {
    const char* host;
    int port;
    const char* text;
  } cases[] = {{"127.0.0.1", 5025, "127.0.0.1:5025"},
               {"::1", 5025, "[::1]:5025"},
               {"::", 0, "[::]:0"},
               {"localhost", 5026, "localhost:5026"}};
  for (const auto& c : cases) EXPECT_EQ(address_text(c.host, c.port), c.text);
}

}  // namespace
}  // namespace talmir880::net
