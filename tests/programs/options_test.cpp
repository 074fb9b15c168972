// The programs' command lines, parsed without starting either program, and
// the lines they log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "programs/common/command_line.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880/options.hpp"
#include "scpi/allow_list.hpp"

namespace talmir880::programs {
namespace {

using scpi::address_text;

TEST(ServerOptions, DefaultsAreThePanelsPortOnLoopback) {
  const ParsedServerOptions parsed = parse_server_options({});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(parsed.options->comm_port, 9);
  EXPECT_EQ(parsed.options->settings, "57600,n,8,1");
  EXPECT_EQ(parsed.options->host, "127.0.0.1");
  EXPECT_EQ(parsed.options->tcp_port, 5025);
  EXPECT_FALSE(parsed.options->stdio);
  EXPECT_TRUE(parsed.options->mdns) << "announced unless asked not to";
}

TEST(ServerOptions, AcceptedForms) {
  const auto options = [](std::vector<std::string> args) {
    return *parse_server_options(args).options;
  };
  EXPECT_EQ(options({"--port", "COM10"}).comm_port, 10);
  EXPECT_EQ(options({"--port=com1"}).comm_port, 1);
  EXPECT_EQ(options({"--port", "3"}).comm_port, 3) << "as the simulator's --port 3";
  EXPECT_EQ(options({"--port", "/dev/ttyUSB0", "--port", "3"}).device, "");
  EXPECT_EQ(options({"--port", "/dev/ttyUSB0"}).device, "/dev/ttyUSB0");
  EXPECT_EQ(options({"--baud", "9600"}).settings, "9600,n,8,1");
  EXPECT_EQ(options({"--listen", "0.0.0.0:5025"}).host, "0.0.0.0");
  EXPECT_EQ(options({"--listen=[::1]:0"}).host, "::1");
  EXPECT_EQ(options({"--listen=[::1]:0"}).tcp_port, 0);
  EXPECT_TRUE(options({"--stdio"}).stdio);
  EXPECT_TRUE(options({"-h"}).help);
  EXPECT_FALSE(options({}).off_at_exit || options({}).off_when_unused || options({}).off_after_s)
      << "an instrument keeps its state unless asked";
  const ServerOptions safe = options({"--off-at-exit", "--off-when-unused", "--off-after=600"});
  EXPECT_TRUE(safe.off_at_exit && safe.off_when_unused);
  EXPECT_EQ(safe.off_after_s, 600);
  EXPECT_FALSE(options({"--no-vxi11"}).vxi11);
  EXPECT_FALSE(options({"--no-mdns"}).mdns);
}

TEST(ServerOptions, ARemotePortIsATcpAddressAndTheLastPortGivenCounts) {
  struct Case {
    std::vector<std::string> args;
    std::string host;  // empty: no TCP link
    int port;
    std::string device;
    int comm_port;
  };
  for (const Case& c : std::vector<Case>{
           {{"--port", "tcp:127.0.0.1:3333"}, "127.0.0.1", 3333, "", 9},
           {{"--port=tcp:bench-pi.local:2000"}, "bench-pi.local", 2000, "", 9},
           {{"--port", "tcp:[::1]:3333"}, "::1", 3333, "", 9},
           {{"--port", "/dev/ttyUSB0", "--port", "tcp:10.0.0.2:65535"}, "10.0.0.2", 65535, "", 9},
           {{"--port", "tcp:10.0.0.2:3333", "--port", "/dev/ttyUSB0"}, "", 0, "/dev/ttyUSB0", 9},
           {{"--port", "tcp:10.0.0.2:3333", "--port", "COM3"}, "", 0, "", 3},
       }) {
    const ParsedServerOptions parsed = parse_server_options(c.args);
    ASSERT_TRUE(parsed.options) << c.args.back() << ": " << parsed.error;
    EXPECT_EQ(parsed.options->remote_host, c.host) << c.args.back();
    EXPECT_EQ(parsed.options->remote_port, c.port) << c.args.back();
    EXPECT_EQ(parsed.options->device, c.device) << c.args.back();
    EXPECT_EQ(parsed.options->comm_port, c.comm_port) << c.args.back();
  }
}

TEST(ServerOptions, RefusedForms) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--port", "COM11"},
                                             {"--port", "COM0"},
                                             {"--port", "ttyUSB0"},
                                             {"--port", "11"},
                                             {"--port", "0"},
                                             {"--port", "COM"},
                                             {"--port"},
                                             {"--port", "tcp:"},
                                             {"--port", "tcp:host"},
                                             {"--port", "tcp:host:0"},
                                             {"--port", "tcp::3333"},
                                             {"--port", "tcp:::1:3333"},
                                             {"--port", "tcp:host:65536"},
                                             {"--baud", "115200"},
                                             {"--baud", "57600,n,8,1"},
                                             {"--listen", "5025"},
                                             {"--listen", "::1:5025"},
                                             {"--listen", "host:99999"},
                                             {"--stdio=yes"},
                                             {"--listen", "127.0.0.1:5025", "--stdio"},
                                             {"--stdio", "--listen=[::1]:0"},
                                             {"-h=1"},
                                             {"--off-after", "0"},
                                             {"--off-after", "86401"},
                                             {"--off-after", "1.5"},
                                             {"--off-at-exit=1"},
                                             {"--no-mdns=no"},
                                             {"-x"}}) {
    const ParsedServerOptions parsed = parse_server_options(args);
    EXPECT_FALSE(parsed.options) << args[0];
    EXPECT_FALSE(parsed.error.empty());
  }
}

TEST(PanelOptions, NothingListensUnlessAskedAndABareListenIsTheUsualPort) {
  const struct {
    std::vector<std::string> args;
    bool listen;
    const char* address;
  } cases[] = {
      {{}, false, "127.0.0.1:5025"},
      {{"--listen"}, true, "127.0.0.1:5025"},
      {{"--listen", "5026"}, true, "127.0.0.1:5026"},
      {{"--listen=0"}, true, "127.0.0.1:0"},
      {{"--listen", "[::1]:5025"}, true, "[::1]:5025"},
      {{"--listen", "0.0.0.0:5025"}, true, "0.0.0.0:5025"},
  };
  for (const auto& c : cases) {
    const ParsedPanelOptions parsed = parse_panel_options(c.args);
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->listen, c.listen);
    EXPECT_EQ(address_text(parsed.options->host, parsed.options->tcp_port), c.address);
  }
  EXPECT_TRUE(parse_panel_options({"-h"}).options->help);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--listen", "host:port"}, {"--listen=::1:5025"}, {"--port"}}) {
    EXPECT_FALSE(parse_panel_options(args).options) << args.back();
  }
}

TEST(ServerOptions, OnlyLoopbackNeedsNoWarning) {
  for (const char* host : {"127.0.0.1", "127.1.2.3", "::1", "localhost"}) {
    EXPECT_TRUE(is_loopback(host)) << host;
  }
  for (const char* host : {"0.0.0.0", "::", "192.168.1.5", "10.0.0.1"}) {
    EXPECT_FALSE(is_loopback(host)) << host;
  }
}

TEST(ServerOptions, Vxi11IsOnByDefaultOnLoopbackAtAnyPort) {
  const auto options = [](std::vector<std::string> args) {
    return *parse_server_options(args).options;
  };
  const ServerOptions defaults = options({});
  EXPECT_TRUE(defaults.vxi11);
  EXPECT_EQ(defaults.vxi11_host, "127.0.0.1");
  EXPECT_EQ(defaults.vxi11_port, 0);
  EXPECT_FALSE(options({"--no-vxi11"}).vxi11);
  const ServerOptions given = options({"--vxi11", "0.0.0.0:1024", "--listen", "127.0.0.1:0"});
  EXPECT_TRUE(given.vxi11);
  EXPECT_EQ(given.vxi11_host, "0.0.0.0");
  EXPECT_EQ(given.vxi11_port, 1024);
  EXPECT_EQ(given.host, "127.0.0.1") << "--listen is its own";
  EXPECT_EQ(options({"--vxi11=[::1]:7000"}).vxi11_host, "::1");
  EXPECT_FALSE(options({"--vxi11", "127.0.0.1:7000", "--no-vxi11"}).vxi11) << "the last one counts";
  EXPECT_TRUE(options({"--no-vxi11", "--vxi11", "127.0.0.1:7000"}).vxi11);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--vxi11"}, {"--vxi11", "7000"}, {"--vxi11", "::1:7000"}, {"--no-vxi11=1"}}) {
    EXPECT_FALSE(parse_server_options(args).options) << args.back();
  }
}

TEST(ServerOptions, AllowTakesRangesAndRefusesTheRest) {
  const ParsedServerOptions two =
      parse_server_options({"--listen", "0.0.0.0:5025", "--allow", "10.0.0.0/8", "--allow=::1"});
  ASSERT_TRUE(two.options) << two.error;
  EXPECT_EQ(two.options->allow.size(), 2U);
  EXPECT_EQ(two.options->allow[1].prefix, 128);
  EXPECT_EQ(two.options->allow[0].prefix, 104);
  const ParsedPanelOptions panel = parse_panel_options({"--listen", "5025", "--allow=10.0.0.1"});
  ASSERT_TRUE(panel.options) << panel.error;
  EXPECT_EQ(panel.options->allow.size(), 1U);

  for (const char* bad :
       {"lab-pc", "10.0.0", "10.0.0.256", "10.0.0.01", "10.0.0.1/33", "10.0.0.1/", "10.0.0.1/-1",
        "::1/129", "1:2:3:4:5:6:7:8:9", "1::2::3", "[::1]", "fe80::1%eth0", "10.0.0.1 ", ""}) {
    const std::string expected =
        std::string("--allow takes a numeric IPv4 or IPv6 ADDRESS[/PREFIX], not ") + bad;
    EXPECT_EQ(parse_server_options({"--allow", bad}).error, expected);
    EXPECT_EQ(parse_panel_options({"--listen", "--allow", bad}).error, expected);
  }
  EXPECT_EQ(parse_server_options({"--allow"}).error, "--allow needs a value");
  EXPECT_EQ(parse_panel_options({"--allow"}).error, "--allow needs a value");
  EXPECT_EQ(parse_server_options({"--stdio", "--allow", "10.0.0.1"}).error,
            "--allow and --stdio exclude each other");
  EXPECT_EQ(parse_panel_options({"--allow", "10.0.0.1"}).error, "--allow needs --listen");
  EXPECT_EQ(open_warning("listening", "0.0.0.0"),
            "warning: listening on 0.0.0.0: anyone who can reach this address can switch the RF "
            "output; --allow ADDRESS[/PREFIX] names who may connect");
}

TEST(CommandLog, ALinesControlAndForeignBytesCannotForgeLogLines) {
  EXPECT_EQ(command_log_text("stdio", "$P2", "POW -6\r\n2026 panel $F1 \x1b[2J\\ \xe4"),
            "stdio $P2 <- POW -6\\x0d\\x0a2026 panel $F1 \\x1b[2J\\x5c \\xe4");
  EXPECT_EQ(command_log_text("panel", "$S1", ""), "panel $S1");
}

}  // namespace
}  // namespace talmir880::programs
