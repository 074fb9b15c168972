// The programs' command lines, parsed without starting either program, and
// the lines they log.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/allow_list.hpp"
#include "programs/common/command_line.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "programs/talmir880/options.hpp"

namespace talmir880::programs {
namespace {

using net::address_text;

// Each system names its ports its own way: a port beyond the panel's list
// by the system's own name, the first number no port has, and what a
// refusal says is taken.
#ifdef _WIN32
const std::string kOwnPort = "\\\\.\\COM12";
const std::string kOwnPortText = "COM12";
const std::string kNoPort = "257";
const std::string kPortForms = "COM1 to COM256, \\\\.\\COMn, 1 to 256 or tcp:HOST:PORT";
std::string own_port(int i) { return "COM" + std::to_string(11 + i); }
#else
const std::string kOwnPort = "/dev/ttyUSB0";
const std::string kOwnPortText = "/dev/ttyUSB0";
const std::string kNoPort = "11";
const std::string kPortForms = "COM1 to COM10, 1 to 10, a device path or tcp:HOST:PORT";
std::string own_port(int i) { return "/dev/ttyS" + std::to_string(i); }
#endif

// The ports as "PORT=NAME" each, to compare in one line.
std::string ports_text(const ServerOptions& options) {
  std::string out;
  for (const PortChoice& port : options.ports) {
    out += (out.empty() ? "" : " ") + port.port_text() + "=" + port.name;
  }
  return out;
}

TEST(ServerOptions, DefaultsAreThePanelsPortOnLoopback) {
  const ParsedServerOptions parsed = parse_server_options({});
  ASSERT_TRUE(parsed.options);
  EXPECT_EQ(ports_text(*parsed.options), "COM9=COM9");
  EXPECT_EQ(parsed.options->settings, "57600,n,8,1");
  EXPECT_EQ(parsed.options->host, "127.0.0.1");
  EXPECT_EQ(parsed.options->tcp_port, 5025);
  EXPECT_FALSE(parsed.options->stdio);
  EXPECT_EQ(parsed.options->mdns, kAnnounces) << "announced unless asked not to";
}

TEST(ServerOptions, AcceptedForms) {
  const auto options = [](std::vector<std::string> args) {
    return *parse_server_options(args).options;
  };
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
  EXPECT_TRUE(options({"--leave-running"}).leave_running);
  EXPECT_FALSE(options({}).leave_running) << "a server takes the generator over, off";
}

TEST(ServerOptions, PortsInTheOrderGivenEachNamed) {
  const std::map<std::string, std::string> files = {
      {"bench.ports", "# the RF bench\nCOM3 left\n\n  " + kOwnPort + "\t right # by the door\r\n"},
      {"one.ports", "tcp:[::1]:4001"},
  };
  const ReadFile read = [&files](const std::string& path) -> std::optional<std::string> {
    const auto found = files.find(path);
    if (found == files.end()) return std::nullopt;
    return found->second;
  };
  struct Case {
    std::vector<std::string> args;
    std::string ports;
  };
  for (const Case& c : std::vector<Case>{
           {{"--port", "COM10"}, "COM10=COM10"},
           {{"--port=com1"}, "COM1=COM1"},
           {{"--port", "3"}, "COM3=COM3"},  // as the simulator's --port 3
           {{"--port", kOwnPort}, kOwnPortText + "=" + kOwnPortText},
           {{"--port", "tcp:127.0.0.1:3333"}, "tcp:127.0.0.1:3333=tcp:127.0.0.1:3333"},
           {{"--port=tcp:bench-pi.local:2000"}, "tcp:bench-pi.local:2000=tcp:bench-pi.local:2000"},
           {{"--port", "tcp:[::1]:3333"}, "tcp:[::1]:3333=tcp:[::1]:3333"},
           {{"--name", "bench-a"}, "COM9=bench-a"},
           {{"--port", "COM3", "--port", "tcp:10.0.0.2:65535", "--name", "far", "--port", "4"},
            "COM3=COM3 tcp:10.0.0.2:65535=far COM4=COM4"},
           {{"--port", "COM1", "--ports-file", "bench.ports", "--port", "COM2"},
            "COM1=COM1 COM3=left " + kOwnPortText + "=right COM2=COM2"},
           {{"--ports-file=one.ports", "--name", "far"}, "tcp:[::1]:4001=far"},
           {{"--port", "COM1", "--port", "COM2", "--listen", "127.0.0.1:65534"},
            "COM1=COM1 COM2=COM2"},
       }) {
    const ParsedServerOptions parsed = parse_server_options(c.args, read);
    ASSERT_TRUE(parsed.options) << c.args.back() << ": " << parsed.error;
    EXPECT_EQ(ports_text(*parsed.options), c.ports) << c.args.back();
  }

  struct Refused {
    std::vector<std::string> args;
    std::string error;
  };
  for (const Refused& c : std::vector<Refused>{
           {{"--port", "COM3", "--port", "3"}, "--port COM3 is given twice"},
           {{"--port", "COM3", "--name", "a", "--port", "COM4", "--name", "a"},
            "the name a is given twice"},
           {{"--port", "COM3", "--name", "a", "--name", "b"},
            "--name: one name for each --port, after it"},
           {{"--name", "a", "--port", "COM3"}, "--name names the --port before it"},
           {{"--name", "a b"},
            "--name takes up to 32 printable ASCII characters without spaces, commas, "
            "semicolons, quotes or #, not a b"},
           {{"--name", "a,b"},
            "--name takes up to 32 printable ASCII characters without spaces, commas, "
            "semicolons, quotes or #, not a,b"},
           {{"--ports-file", "none.ports"}, "--ports-file: cannot read none.ports"},
           {{"--port", "COM1", "--port", "COM2", "--stdio"}, "--stdio serves one port, not 2"},
           {{"--port", "COM1", "--port", "COM2", "--listen", "127.0.0.1:65535"},
            "--listen: 2 ports from 65535 run past 65535"},
       }) {
    const ParsedServerOptions parsed = parse_server_options(c.args, read);
    EXPECT_FALSE(parsed.options) << c.error;
    EXPECT_EQ(parsed.error, c.error);
  }

  std::vector<std::string> seventeen;
  for (int i = 1; i <= 10; ++i)
    seventeen.insert(seventeen.end(), {"--port", "COM" + std::to_string(i)});
  for (int i = 0; i < 7; ++i) seventeen.insert(seventeen.end(), {"--port", own_port(i)});
  EXPECT_EQ(parse_server_options(seventeen).error, "at most 16 ports, not 17");

  const std::map<std::string, std::string> bad = {{"bad.ports", "COM3\nCOM4 a b\n"},
                                                  {"worse.ports", "COM" + kNoPort + "\n"},
                                                  {"named.ports", "COM3 a;b\n"}};
  const ReadFile read_bad = [&bad](const std::string& path) -> std::optional<std::string> {
    return bad.at(path);
  };
  EXPECT_EQ(parse_server_options({"--ports-file", "bad.ports"}, read_bad).error,
            "--ports-file bad.ports:2: a line holds a port (" + kPortForms +
                ") and, after it, a name, not COM4 a b");
  EXPECT_EQ(parse_server_options({"--ports-file", "worse.ports"}, read_bad).error,
            "--ports-file worse.ports:1: a line holds a port (" + kPortForms +
                ") and, after it, a name, not COM" + kNoPort);
  EXPECT_EQ(parse_server_options({"--ports-file", "named.ports"}, read_bad).error,
            "--ports-file named.ports:1: a name is printable ASCII, not a;b");
}

// Windows opens the console for CON, and "COM1:" as COM1: no serial port
// is named so on either system.
TEST(ServerOptions, ANameThatIsNoSerialPortIsRefusedNamingWhatIsTaken) {
  for (const char* name : {"COM0", "LPT1", "CON", "NUL", "COM1:", "AUX", "\\\\.\\CON"}) {
    EXPECT_EQ(parse_server_options({"--port", name}).error,
              "--port takes " + kPortForms + ", not " + name);
  }
}

TEST(ServerOptions, RefusedForms) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--port", "COM" + kNoPort},
                                             {"--port", "COM0"},
                                             {"--port", "ttyUSB0"},
                                             {"--port", kNoPort},
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
  EXPECT_EQ(defaults.vxi11, kServesVxi11) << "where the build has it";
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

// The synopsis's layout is written by hand, its flags filled in from the
// rows; the flags it names and those --help describes are the parser's, one
// for one.
TEST(Usage, TheSynopsisNamesEveryFlagThatHelpDescribes) {
  constexpr const char* kFlagChars = "abcdefghijklmnopqrstuvwxyz0123456789-";
  const auto flags = [](const std::string& text) {
    std::set<std::string> out;
    for (std::size_t at = text.find("--"); at != std::string::npos; at = text.find("--", at)) {
      const std::size_t end = text.find_first_not_of(kFlagChars, at);
      out.insert(text.substr(at, end - at));
      at = end;
    }
    return out;
  };
  struct Program {
    std::string usage;
    std::function<std::string(const std::string&)> error_of;
  };
  for (const Program& program : {
           Program{server_usage(),
                   [](const std::string& flag) { return parse_server_options({flag}).error; }},
           Program{panel_usage(),
                   [](const std::string& flag) { return parse_panel_options({flag}).error; }},
       }) {
    const std::string synopsis = program.usage.substr(0, program.usage.find("\nThe TALMIR"));
    std::set<std::string> described;
    for (std::size_t at = program.usage.find("\n  -"); at != std::string::npos;
         at = program.usage.find("\n  -", at + 1)) {
      const std::size_t end = program.usage.find_first_not_of(kFlagChars, at + 3);
      if (program.usage.compare(at + 3, 2, "--") == 0)
        described.insert(program.usage.substr(at + 3, end - at - 3));
    }
    for (const std::string& flag : flags(synopsis)) {
      EXPECT_FALSE(program.error_of(flag).starts_with("unknown option")) << flag;
      EXPECT_TRUE(described.contains(flag)) << flag << " is in the synopsis, not described";
    }
    for (const std::string& flag : described) {
      EXPECT_TRUE(flags(synopsis).contains(flag)) << flag << " is described, not in the synopsis";
    }
  }
}

TEST(CommandLog, WhoTheCommandAndTheCitedLine) {
  EXPECT_EQ(command_log_text("stdio", "$P2", "POW -6\\x0d"), "stdio $P2 <- POW -6\\x0d");
  EXPECT_EQ(command_log_text("panel", "$S1", ""), "panel $S1");
}

}  // namespace
}  // namespace talmir880::programs
