// The HTTP request reader, Host and Origin, the password's sessions and the
// page's actions: what the web face admits and what it turns into commands.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/private_file.hpp"
#include "support/owner_only.hpp"
#include "support/test_only_setting.hpp"
#include "web/http_request.hpp"
#include "web/lxi.hpp"
#include "web/page_messages.hpp"
#include "web/sessions.hpp"
#include "web/web_guard.hpp"

namespace talmir880::web {
namespace {

constexpr std::string_view kGet = "GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n";

TEST(ReadHead, Cases) {
  struct Case {
    std::string bytes;
    Reading expected;
  };
  const std::string big_header = "GET / HTTP/1.1\r\nHost: a\r\nX: " + std::string(kMaxHead, 'x');
  std::string many = "GET / HTTP/1.1\r\nHost: a\r\n";
  for (std::size_t i = 0; i < kMaxHeaders; ++i) many += "X-" + std::to_string(i) + ": 1\r\n";
  const std::vector<Case> cases = {
      {std::string(kGet), Reading::done},
      {"GET / HTTP/1.1\r\nHost: a\r\n", Reading::incomplete},
      {"GET / HTTP/1.0\r\n\r\n", Reading::done},  // 1.0 needs no Host
      {"GET / HTTP/1.1\r\n\r\n", Reading::malformed},
      {"GET / HTTP/2.0\r\nHost: a\r\n\r\n", Reading::malformed},
      {"GET http://a/ HTTP/1.1\r\nHost: a\r\n\r\n", Reading::malformed},
      {"GET / HTTP/1.1\r\nHost: a\r\nHost: b\r\n\r\n", Reading::malformed},
      {"GET / HTTP/1.1\r\nHost: a\r\nOrigin: x\r\nOrigin: y\r\n\r\n", Reading::malformed},
      {"GET / HTTP/1.1\r\nHost: a\r\n folded\r\n\r\n", Reading::malformed},
      {"GET / HTTP/1.1\r\nHost: a\r\nBad Name: 1\r\n\r\n", Reading::malformed},
      {"GET / HTTP/1.1\r\nHost: a\nX: 1\r\n\r\n", Reading::malformed},
      {"POST /login HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n", Reading::malformed},
      {"POST /login HTTP/1.1\r\nHost: a\r\nContent-Length: -1\r\n\r\n", Reading::malformed},
      {"POST /login HTTP/1.1\r\nHost: a\r\nContent-Length: 1025\r\n\r\n", Reading::too_large},
      {big_header, Reading::too_large},
      {many + "\r\n", Reading::malformed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(read_head(c.bytes).state, c.expected) << c.bytes.substr(0, 80);
  }
}

TEST(ReadHead, FieldsOfAnUpgrade) {
  const ReadResult r = read_head(
      "GET /ws?x=1 HTTP/1.1\r\nHOST: 127.0.0.1:8080\r\nUpgrade: WebSocket\r\n"
      "Connection: keep-alive, Upgrade\r\nContent-Length: 0\r\n\r\nrest");
  ASSERT_EQ(r.state, Reading::done);
  EXPECT_EQ(r.request.path(), "/ws");
  EXPECT_EQ(r.request.header("host"), "127.0.0.1:8080");
  EXPECT_TRUE(r.request.upgrade());
  EXPECT_EQ(
      std::string_view("rest"),
      std::string_view("GET /ws?x=1 HTTP/1.1\r\nHOST: 127.0.0.1:8080\r\nUpgrade: WebSocket\r\n"
                       "Connection: keep-alive, Upgrade\r\nContent-Length: 0\r\n\r\nrest")
          .substr(r.request.head_size));
}

TEST(HostAndOrigin, OnlyTheServersOwnNamesOnItsPort) {
  const OwnNames own{{"localhost", "127.0.0.1", "::1", "bench-pc"}, 8080};
  struct Case {
    std::string_view host;
    bool allowed;
  };
  for (const Case& c : std::vector<Case>{{"127.0.0.1:8080", true},
                                         {"LOCALHOST:8080", true},
                                         {"localhost.:8080", true},
                                         {"[::1]:8080", true},
                                         {"bench-pc:8080", true},
                                         {"127.0.0.1", false},  // port 80
                                         {"127.0.0.1:8081", false},
                                         {"rebind.example:8080", false},
                                         {"127.0.0.1.rebind.example:8080", false},
                                         {"::1:8080", false},
                                         {"[::1:8080", false},
                                         {"127.0.0.1:", false},
                                         {"127.0.0.1:8080x", false},
                                         {"", false}}) {
    EXPECT_EQ(host_allowed(c.host, own), c.allowed) << c.host;
  }
  EXPECT_TRUE(same_origin("http://127.0.0.1:8080", "127.0.0.1:8080"));
  EXPECT_TRUE(same_origin("HTTP://LocalHost:8080", "localhost:8080"));
  EXPECT_FALSE(same_origin("http://127.0.0.1:8080", "localhost:8080"));
  EXPECT_FALSE(same_origin("null", "127.0.0.1:8080"));
  EXPECT_FALSE(same_origin("https://127.0.0.1:8080", "127.0.0.1:8080"));
  EXPECT_FALSE(same_origin("http://127.0.0.1:8080.evil", "127.0.0.1:8080"));
  // Over TLS: the https origin alone, and no port meaning 443.
  EXPECT_TRUE(same_origin("https://127.0.0.1:8443", "127.0.0.1:8443", true));
  EXPECT_FALSE(same_origin("http://127.0.0.1:8443", "127.0.0.1:8443", true));
  EXPECT_TRUE(host_allowed("bench-pc", {{"bench-pc"}, 443, true}));
  EXPECT_FALSE(host_allowed("bench-pc", {{"bench-pc"}, 443, false}));
}

// Plain HTTP's redirect keeps the name the visitor used and the target.
TEST(WebGuard, PlainHttpSendsToTheSameTargetOverTls) {
  EXPECT_EQ(secure_location("bench-pc:8080", 8443, "/inst1/?a=b"),
            "https://bench-pc:8443/inst1/?a=b");
  EXPECT_EQ(secure_location("[fd00::5]:8080", 8443, "/"), "https://[fd00::5]:8443/");
  EXPECT_EQ(secure_location("bench-pc", 443, "/"), "https://bench-pc/");
}

TEST(HostAndOrigin, Judge) {
  const OwnNames own{{"127.0.0.1"}, 8080};
  struct Case {
    std::string head;
    bool changes;
    Verdict expected;
  };
  const std::string host = "Host: 127.0.0.1:8080\r\n";
  for (const Case& c : std::vector<Case>{
           {host, false, Verdict::ok},
           {host, true, Verdict::bad_origin},  // a change must say where it comes from
           {host + "Origin: http://127.0.0.1:8080\r\n", true, Verdict::ok},
           {host + "Origin: http://evil.example\r\n", true, Verdict::bad_origin},
           {host + "Origin: null\r\n", true, Verdict::bad_origin},
           {"Host: evil.example:8080\r\nOrigin: http://evil.example:8080\r\n", true,
            Verdict::bad_host},
           {"Host: evil.example:8080\r\n", false, Verdict::bad_host},
       }) {
    const ReadResult r = read_head("GET /ws HTTP/1.1\r\n" + c.head + "\r\n");
    ASSERT_EQ(r.state, Reading::done);
    EXPECT_EQ(judge(r.request, own, c.changes), c.expected) << c.head;
  }
  EXPECT_TRUE(may_control(true, false, false)) << "this machine, from any of its addresses";
  EXPECT_FALSE(may_control(false, false, true)) << "no password: read-only beyond loopback";
  EXPECT_FALSE(may_control(false, true, false));
  EXPECT_TRUE(may_control(false, true, true));
}

TEST(Sessions, PasswordOpensACookieSession) {
  using namespace std::chrono_literals;
  int made = 0;
  Sessions sessions("s3cret", [&made] { return "token" + std::to_string(++made); });
  const Sessions::Clock::time_point t0{};
  EXPECT_FALSE(sessions.log_in("wrong", t0));
  EXPECT_FALSE(sessions.log_in("s3cret", t0 + 500ms)) << "paused after a wrong one";
  const std::optional<std::string> token = sessions.log_in("s3cret", t0 + 1s);
  ASSERT_EQ(token, "token1");
  EXPECT_TRUE(sessions.valid("a=b; talmir880_session=token1", t0 + 2s));
  EXPECT_FALSE(sessions.valid("talmir880_session=token2", t0 + 2s));
  EXPECT_FALSE(sessions.valid("xtalmir880_session=token1", t0 + 2s));
  EXPECT_FALSE(sessions.valid("talmir880_session=token1", t0 + 1s + Sessions::kLifetime));
  EXPECT_FALSE(sessions.log_in("s3cre", t0 + 20h));
  EXPECT_FALSE(sessions.log_in("s3cret0", t0 + 22h));
  const std::optional<std::string> again = sessions.log_in("s3cret", t0 + 23h);
  ASSERT_TRUE(again);
  sessions.log_out("talmir880_session=" + *again);
  EXPECT_FALSE(sessions.valid("talmir880_session=" + *again, t0 + 23h));
  EXPECT_EQ(Sessions::cookie("t"), "talmir880_session=t; Path=/; HttpOnly; SameSite=Strict");
  EXPECT_EQ(Sessions::cookie("t", true),
            "talmir880_session=t; Path=/; HttpOnly; SameSite=Strict; Secure");
}

TEST(PasswordFile, TheFirstLineOfAFileOfTheOwnersAlone) {
  namespace fs = std::filesystem;
  const fs::path folder =
      fs::temp_directory_path() / ("talmir880-password-" + std::to_string(std::random_device{}()));
  ASSERT_TRUE(fs::create_directory(folder));
  const std::string path = (folder / "password").string();
  struct Case {
    std::string text;
    bool owners_alone;
    std::string password;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"s3cret\n", true, "s3cret", ""},
      {"s3cret\r\nsecond line\n", true, "s3cret", ""},
      {"\nsecond line\n", true, "", path + ": the first line is empty; it must hold the password"},
      {std::string(kMaxPassword + 1, 'p'), true, "",
       path + ": the password is longer than 256 bytes"},
      // Refused with the system's own sentence, which the platform's tests hold.
      {"s3cret\n", false, "", "open"},
  };
  for (const Case& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
    ASSERT_TRUE(c.owners_alone ? testing::make_owner_only(path) : testing::let_everyone_read(path));
    const PasswordFile file = read_password_file(path);
    EXPECT_EQ(file.password, c.password) << c.text;
    EXPECT_EQ(file.error, c.error == "open" ? platform::open_to_others(path).value_or("") : c.error)
        << c.text;
  }
  fs::remove(path);
  EXPECT_EQ(read_password_file(path).error, "cannot read " + path + ": No such file or directory");
  EXPECT_EQ(read_password_file(folder.string()).error,
            "cannot read " + folder.string() + ": Is a directory");
  fs::remove_all(folder);
}

TEST(Sessions, BoundedAndNoneWithoutAPassword) {
  Sessions none("", [] { return std::string("t"); });
  EXPECT_FALSE(none.password_set());
  EXPECT_FALSE(none.log_in("", {}));
  int made = 0;
  Sessions sessions("pw", [&made] { return "t" + std::to_string(++made); });
  for (std::size_t i = 0; i <= Sessions::kMaxSessions; ++i) {
    ASSERT_TRUE(sessions.log_in("pw", Sessions::Clock::time_point{} + std::chrono::seconds(i)));
  }
  EXPECT_FALSE(sessions.valid("talmir880_session=t1", Sessions::Clock::time_point{}))
      << "the oldest made room";
  EXPECT_TRUE(sessions.valid("talmir880_session=t2", Sessions::Clock::time_point{}));
  EXPECT_EQ(system_random_token().size(), 64u);
  EXPECT_NE(system_random_token(), system_random_token());
}

// Each action's line, and the Python class's statements that do it again
// (joined by "; "): the setting's own unit, the class's attribute.
TEST(PageActions, EachBecomesOneLineOfItsControlAndStatementsOfTheClass) {
  struct Case {
    std::string_view action;
    std::optional<std::string> line;
    std::string python;
    bool waits = true;
  };
  for (const Case& c : std::vector<Case>{
           {"rf_mhz 433.92", "FREQ 433.92 MHZ;:FREQ:MODE CW",
            "gen.frequency = 433920000; gen.sweep_mode_enabled = False"},
           {"mod_khz 2.5", "LFO:FREQ 2.5 KHZ", "gen.modulation_frequency = 2500"},
           {"rf_on 1", "OUTP ON", "gen.output_enabled = True"},
           {"rf_on 0", "OUTP OFF", "gen.output_enabled = False"},
           {"mod_on 1", "OUTP:MOD ON", "gen.modulation_enabled = True"},
           {"level -9", "POW -9", "gen.power = -9"},
           {"start_mhz 1e2", "FREQ:STAR 1e2 MHZ", "gen.start_frequency = 100000000"},
           {"stop_mhz +200.5", "FREQ:STOP +200.5 MHZ", "gen.stop_frequency = 200500000"},
           {"points 400", "SWE:POIN 400", "gen.sweep_points = 400"},
           {"single", "FREQ:MODE SWE;:INIT", "gen.sweep()"},
           {"continuous", "FREQ:MODE SWE;:INIT:CONT ON",
            "gen.sweep_mode_enabled = True; gen.continuous_sweep = True", false},
           {"stop", "ABOR", "gen.abort()"},
           {"step_hz 1000", "FREQ:STEP 1000", "gen.frequency_step = 1000"},
           {"step_up", "FREQ UP;:FREQ:MODE CW",
            "gen.frequency_up(); gen.sweep_mode_enabled = False"},
           {"step_down", "FREQ DOWN;:FREQ:MODE CW",
            "gen.frequency_down(); gen.sweep_mode_enabled = False"},
           {"save", "*SAV 0", "gen.save()"},
           // The instrument refuses it; no script does it again.
           {"rf_mhz 1-2", "FREQ 1-2 MHZ;:FREQ:MODE CW", ""},
           {"save 1", std::nullopt, ""},
           {"step_hz 1e3;*SAV 0", std::nullopt, ""},
           {"step_up 1", std::nullopt, ""},
           {"rf_on 2", std::nullopt, ""},
           {"rf_on", std::nullopt, ""},
           {"stop now", std::nullopt, ""},
           {"rf_mhz 1;:OUTP ON", std::nullopt, ""},
           {"rf_mhz 1 MHZ", std::nullopt, ""},
           {"rf_mhz ", std::nullopt, ""},
           {"rf_mhz 1\n*RST", std::nullopt, ""},
           {"*RST", std::nullopt, ""},
           {"rf_mhz 1111111111111111111111111", std::nullopt, ""},
       }) {
    const std::optional<PageAction> made = page_action(c.action);
    EXPECT_EQ(made ? std::optional(made->line) : std::nullopt, c.line) << c.action;
    if (!made) continue;
    std::string python;
    for (const std::string& statement : made->python) {
      python += (python.empty() ? "" : "; ") + statement;
    }
    EXPECT_EQ(python, c.python) << c.action;
    EXPECT_EQ(made->waits, c.waits) << c.action;
  }
}

// A setting added to the description is recorded with no code of its own:
// its line and its statement, in the class's unit.
TEST(PageActions, ADescribedSettingGetsItsLineAndStatementFromItsDescription) {
  std::vector<protocol::Setting> settings(protocol::kSettings.begin(), protocol::kSettings.end());
  settings.push_back(testing::kTestOnlyOffset);
  const std::optional<PageAction> made = page_action("offset_khz 12.5", settings);
  ASSERT_TRUE(made);
  EXPECT_EQ(made->line, "FREQ:OFFS 12.5 KHZ");
  EXPECT_EQ(made->python, std::vector<std::string>{"gen.rf_offset = 12500"});
  EXPECT_EQ(page_action("offset_khz 2;*RST", settings), std::nullopt);
  EXPECT_EQ(page_action("offset_khz 20"), std::nullopt) << "not described";
}

}  // namespace
}  // namespace talmir880::web
