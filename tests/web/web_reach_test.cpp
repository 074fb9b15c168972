// Who a visitor is to this machine, which resource strings it is offered,
// and what the identification says of the interface it reached.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "web/reach.hpp"

namespace talmir880::web {
namespace {

net::Address at(const char* text) { return *net::parse_address(text); }

TEST(Reach, AnyAddressOfThisMachineIsThisMachine) {
  const std::vector<net::Address> own = {at("10.99.2.1"), at("fd00::1"), at("192.168.7.3")};
  struct Case {
    const char* peer;
    bool local;
  };
  for (const Case& c : std::vector<Case>{{"127.0.0.1", true},
                                         {"127.8.9.10", true},
                                         {"::1", true},
                                         {"10.99.2.1", true},
                                         {"::ffff:10.99.2.1", true},  // on a dual-stack socket
                                         {"fd00::1", true},
                                         {"192.168.7.3", true},
                                         {"10.99.2.2", false},
                                         {"fd00::2", false},
                                         {"192.168.7.4", false}}) {
    EXPECT_EQ(own_address(at(c.peer), own), c.local) << c.peer;
  }
}

TEST(Reach, EachWayInOfferedAsTheVisitorCanUseIt) {
  struct Case {
    Listening way;
    const char* reached;
    bool local;
    Offer expected;
  };
  for (const Case& c : std::vector<Case>{
           // On every interface: the address the visitor reached.
           {{"0.0.0.0"}, "10.99.2.1", false, {"10.99.2.1"}},
           {{"0.0.0.0"}, "127.0.0.1", true, {"127.0.0.1"}},
           {{""}, "10.99.2.1", false, {"10.99.2.1"}},
           {{"::"}, "fd00::1", false, {"fd00::1"}},
           {{"::", true}, "10.99.2.1", false, {"10.99.2.1"}},
           // ...where it listens on that address's family only.
           {{"::", false}, "10.99.2.1", false, {}},
           {{"0.0.0.0"}, "fd00::1", false, {}},
           // On loopback: this machine only, whichever address it came by.
           {{"127.0.0.1"}, "10.99.2.1", false, {"", true}},
           {{"::1"}, "fd00::1", false, {"", true}},
           {{"localhost"}, "10.99.2.1", false, {"", true}},
           {{"127.0.0.1"}, "10.99.2.1", true, {"127.0.0.1"}},
           {{"localhost"}, "127.0.0.1", true, {"127.0.0.1"}},
           {{"::1"}, "::1", true, {"::1"}},
           // On an address of its own: there.
           {{"10.99.3.1"}, "10.99.2.1", false, {"10.99.3.1"}},
           {{"10.99.3.1"}, "127.0.0.1", true, {"10.99.3.1"}},
       }) {
    const Offer got = offer(c.way, c.reached, c.local);
    EXPECT_EQ(got.host, c.expected.host) << c.way.host << " reached at " << c.reached;
    EXPECT_EQ(got.this_machine_only, c.expected.this_machine_only)
        << c.way.host << " reached at " << c.reached;
  }
}

// As the kernel writes them; the header lines and other routes are no
// default route.
constexpr const char* kRoute =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "s0\t00000000\t0202630A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
    "s0\t0002630A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
    "eth1\t00000000\t0101A8C0\t0001\t0\t0\t0\t00000000\t0\t0\t0\n";
constexpr const char* kIpv6Route =
    "fd000000000000000000000000000000 40 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 00000100 00000001 00000000 00000001 s0\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "fd000000000000000000000000000002 00000400 00000001 00000000 00000003 s0\n"
    "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
    "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n";

TEST(Reach, DefaultGatewaysFromTheKernelsTables) {
  const std::vector<Gateway> found = default_gateways(kRoute, kIpv6Route);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].interface, "s0");
  EXPECT_EQ(found[0].address, "10.99.2.2");
  EXPECT_EQ(found[1].interface, "s0");
  EXPECT_EQ(found[1].address, "fd00::2");
  EXPECT_TRUE(default_gateways("", "").empty());
  EXPECT_TRUE(default_gateways("garbage\n1 2 3\n", "zz\n").empty());
}

TEST(Reach, NetworkInformationOfTheInterfaceReached) {
  const std::vector<InterfaceFacts> interfaces = {
      {"lo", "00:00:00:00:00:00", {{"127.0.0.1", 8, true}, {"::1", 128, true}}},
      {"s0",
       "02:00:00:99:02:01",
       {{"10.99.2.1", 24, true}, {"10.99.3.7", 16, false}, {"fd00::1", 64, true}}},
      {"s1", "02:00:00:99:02:02", {{"169.254.10.20", 16, false}}},
  };
  const std::vector<Gateway> gateways = default_gateways(kRoute, kIpv6Route);
  struct Case {
    const char* address;
    NetworkInfo expected;
  };
  for (const Case& c : std::vector<Case>{
           {"10.99.2.1",
            {"s0", "10.99.2.1", "255.255.255.0", "02:00:00:99:02:01", "10.99.2.2", false, false,
             false}},
           {"10.99.3.7",  // leased: it has a lifetime
            {"s0", "10.99.3.7", "255.255.0.0", "02:00:00:99:02:01", "10.99.2.2", true, false,
             false}},
           {"fd00::1",
            {"s0", "fd00::1", "ffff:ffff:ffff:ffff::", "02:00:00:99:02:01", "fd00::2", false, false,
             true}},
           {"169.254.10.20",
            {"s1", "169.254.10.20", "255.255.0.0", "02:00:00:99:02:02", "0.0.0.0", false, true,
             false}},
           {"127.0.0.1",
            {"lo", "127.0.0.1", "255.0.0.0", "00:00:00:00:00:00", "0.0.0.0", false, false, false}},
           {"::1",
            {"lo", "::1", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff", "00:00:00:00:00:00",
             "::", false, false, true}},
           // On no interface the system listed (gone meanwhile).
           {"10.5.5.5",
            {"LAN", "10.5.5.5", "255.255.255.255", "00:00:00:00:00:00", "0.0.0.0", false, false,
             false}},
       }) {
    const NetworkInfo got = network_info(c.address, interfaces, gateways);
    const NetworkInfo& e = c.expected;
    EXPECT_EQ(got.interface, e.interface) << c.address;
    EXPECT_EQ(got.address, e.address) << c.address;
    EXPECT_EQ(got.mask, e.mask) << c.address;
    EXPECT_EQ(got.mac, e.mac) << c.address;
    EXPECT_EQ(got.gateway, e.gateway) << c.address;
    EXPECT_EQ(got.dhcp, e.dhcp) << c.address;
    EXPECT_EQ(got.auto_ip, e.auto_ip) << c.address;
    EXPECT_EQ(got.ipv6, e.ipv6) << c.address;
  }
}

}  // namespace
}  // namespace talmir880::web
