// The web face fed raw bytes, as a network peer may send them: the HTTP
// request reader, the Host and Origin rules and the password's sessions,
// the page's action parser, the WebSocket frame reader and the places of
// requests being read.
//
// The input is cut at its first four zero bytes (check.hpp):
//   0  bytes that arrive on a connection of the HTTP handler
//   1  a message of a page, for the action parser
//   2  lines: the password, then login attempts and Cookie headers in turn
//   3  bytes of a page's WebSocket; the first byte says how they are cut
//   4  a script of the request places: pairs of (operation, peer)
//
// Checked: a head is done only up to its first blank line and within its
// bounds, with single headers once, no control byte in a value, and more
// bytes after it changing nothing; Host is ours only in the forms of our
// names, and a change only from our own origin; a login only with the
// password, a session only with a token given; an action is a line of the
// page's own commands, none queried, nothing more; frames read the same
// whole or cut anywhere, each within its bound, a fault the last thing
// read; places never past their bounds, and only a held place given up.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "generator/status.hpp"
#include "scpi/parser.hpp"
#include "web/http_request.hpp"
#include "web/page_messages.hpp"
#include "web/request_places.hpp"
#include "web/sessions.hpp"
#include "web/web_guard.hpp"
#include "web/websocket.hpp"

namespace {

using namespace talmir880::web;
using talmir880::fuzzing::check;
using talmir880::fuzzing::shown;

constexpr int kPort = 8080;
const OwnNames kOwn{{"localhost", "127.0.0.1", "bench-pc", "bench-pc.local"}, kPort};

// Independently of web_guard: a name of ours, its absolute form with a
// dot, then a colon and digits that make our port.
bool our_host_form(std::string_view host) {
  const std::string text = lower(host);
  for (const std::string& name : kOwn.hosts) {
    for (const std::string& form : {name, name + "."}) {
      if (text.rfind(form, 0) != 0) continue;
      const std::string_view rest = std::string_view(text).substr(form.size());
      if (rest.size() < 2 || rest[0] != ':' || rest.size() > 6) continue;
      const std::string_view digits = rest.substr(1);
      if (std::all_of(digits.begin(), digits.end(), talmir880::fuzzing::is_digit) &&
          std::stoi(std::string(digits)) == kPort) {
        return true;
      }
    }
  }
  return false;
}

void check_rules(const Request& request) {
  const std::optional<std::string_view> host = request.header("host");
  const std::optional<std::string_view> origin = request.header("origin");
  const Verdict look = judge(request, kOwn, false);
  const Verdict change = judge(request, kOwn, true);
  if (look == Verdict::ok) {
    check(host && our_host_form(*host), "a request is answered only with a Host of ours",
          shown(host.value_or("(none)")));
  }
  if (change == Verdict::ok) {
    check(look == Verdict::ok, "what may change may also look");
    check(origin && lower(*origin) == "http://" + lower(*host),
          "a change comes only from our own origin", shown(origin.value_or("(none)")));
  }
}

void check_head(std::string_view bytes) {
  const ReadResult read = read_head(bytes);
  const std::size_t blank = bytes.find("\r\n\r\n");
  if (read.state == Reading::incomplete) {
    check(blank == std::string_view::npos && bytes.size() < kMaxHead,
          "a head waits for more only while it is short and has no blank line");
    return;
  }
  if (read.state != Reading::done) return;
  const Request& request = read.request;
  check(request.head_size == blank + 4 && request.head_size <= kMaxHead,
        "a head ends at its first blank line, within its bound");
  check(request.headers.size() <= kMaxHeaders, "headers within their bound");
  check(request.content_length <= kMaxBody, "a body within its bound");
  check(!request.target.empty() && request.target.front() == '/', "a target is a path");
  check(request.version == "HTTP/1.1" || request.version == "HTTP/1.0", "a known version");
  check(request.version != "HTTP/1.1" || request.header("host"), "HTTP/1.1 names its Host");
  for (const std::string single : {"host", "origin", "content-length", "cookie"}) {
    check(std::count_if(request.headers.begin(), request.headers.end(),
                        [&](const auto& h) { return h.first == single; }) <= 1,
          "a header two readers could disagree on comes once", single);
  }
  for (const auto& [name, value] : request.headers) {
    check(name == lower(name), "header names in lower case", name);
    check(std::none_of(value.begin(), value.end(),
                       [](char c) {
                         const auto u = static_cast<unsigned char>(c);
                         return (u < 0x20 && c != '\t') || u == 0x7f;
                       }),
          "no control byte in a header's value", shown(value));
  }
  // What follows the head is no part of it.
  const ReadResult again = read_head(std::string(bytes) + "GET /x HTTP/1.1\r\nHost: a\r\n\r\n");
  check(again.state == Reading::done && again.request.target == request.target &&
            again.request.headers == request.headers &&
            again.request.head_size == request.head_size,
        "bytes after a head change nothing of it");
  check_rules(request);
}

std::vector<std::string> lines_of(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    out.emplace_back(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  return out;
}

void check_sessions(std::string_view text) {
  const std::vector<std::string> lines = lines_of(text);
  if (lines.empty() || lines[0].empty() || lines[0].size() > kMaxPassword) return;
  int made = 0;
  std::vector<std::string> given;
  Sessions sessions(lines[0], [&made] { return "token" + std::to_string(++made); });
  auto now = Sessions::Clock::time_point{};
  for (std::size_t i = 1; i < lines.size() && i < 64; ++i) {
    // Far enough apart that no pause is in the way.
    now += std::chrono::seconds(2);
    if (i % 2 == 1) {
      const std::optional<std::string> token = sessions.log_in(lines[i], now);
      check(token.has_value() == (lines[i] == lines[0]), "a login only with the password",
            shown(lines[i]));
      if (token) {
        given.push_back(*token);
        check(sessions.valid(std::string(kCookieName) + "=" + *token, now),
              "a session given is good");
      }
    } else if (sessions.valid(lines[i], now)) {
      check(std::any_of(given.begin(), given.end(),
                        [&](const std::string& token) {
                          return lines[i].find(std::string(kCookieName) + "=" + token) !=
                                 std::string::npos;
                        }),
            "a Cookie is good only with a token given", shown(lines[i]));
    }
  }
}

// The commands the page's controls send, as the action table spells them.
const std::set<std::string> kPageCommands = {
    "FREQ",      "FREQ:MODE", "LFO:FREQ", "OUTP", "OUTP:MOD",  "POW",       "FREQ:STAR",
    "FREQ:STOP", "SWE:POIN",  "INIT",     "ABOR", "INIT:CONT", "FREQ:STEP", "*SAV"};

void check_action(std::string_view action) {
  const std::optional<PageAction> run = page_action(action);
  if (!run) return;
  const std::optional<std::string> line = run->line;
  check(action.size() <= kMaxAction, "an action is short", shown(action));
  check(std::all_of(
            line->begin(), line->end(),
            [](char c) { return c >= 0x20 && c < 0x7f && c != '"' && c != '\'' && c != '#'; }),
        "an action's line is plain text", shown(*line));
  const std::vector<std::string_view> units = talmir880::scpi::split_units(*line);
  check(!units.empty() && units.size() <= 2, "an action is one control's command", shown(*line));
  for (const std::string_view unit : units) {
    std::string header(unit.substr(0, unit.find(' ')));
    if (!header.empty() && header.front() == ':') header.erase(0, 1);
    check(kPageCommands.count(header) == 1, "an action names only the page's commands",
          shown(*line));
    try {
      const talmir880::scpi::ProgramUnit parsed = talmir880::scpi::parse_unit(unit);
      check(!parsed.query && parsed.parameters.size() <= 1 && (!parsed.common || header == "*SAV"),
            "an action asks nothing and sets one value", shown(*line));
    } catch (const talmir880::Refused&) {
      // A number of the page's that SCPI does not read: refused in its turn.
    }
  }
  // The page is told what it sent, word for word.
  const MessageValue* detail = field(refused_message(Refusal::not_an_action, action), "detail");
  check(action.empty() ? detail == nullptr
                       : detail && std::get<std::string>(*detail) == std::string(action),
        "a refusal names what the page sent", shown(action));
}

void check_frames(std::string_view bytes) {
  if (bytes.empty()) return;
  const std::size_t piece = static_cast<unsigned char>(bytes.front()) % 7 + 1;
  bytes.remove_prefix(1);
  FrameReader whole(kMaxAction);
  std::vector<Received> at_once;
  whole.feed(bytes, at_once);
  FrameReader cut(kMaxAction);
  std::vector<Received> in_pieces;
  for (std::size_t i = 0; i < bytes.size(); i += piece) cut.feed(bytes.substr(i, piece), in_pieces);
  check(at_once == in_pieces, "frames read the same whole or cut");
  for (std::size_t i = 0; i < at_once.size(); ++i) {
    const Received& r = at_once[i];
    switch (r.kind) {
      case Received::Kind::text:
        check(r.data.size() <= kMaxAction && valid_utf8(r.data), "a message is short UTF-8");
        break;
      case Received::Kind::ping:
      case Received::Kind::pong:
        check(r.data.size() <= FrameReader::kMaxControl, "a control frame is short");
        break;
      case Received::Kind::close:
        check(r.code == 1005 || (r.code >= 1000 && r.code < 5000), "a close carries a code");
        break;
      case Received::Kind::fault:
        check(i + 1 == at_once.size() && whole.failed(), "a fault is the last thing read");
        check(r.code == 1002 || r.code == 1003 || r.code == 1007 || r.code == 1009,
              "a fault closes with a code of the protocol");
        break;
    }
  }
}

void check_places(std::string_view script) {
  constexpr std::size_t kTotal = 12;
  constexpr std::size_t kPerPeer = 4;
  RequestPlaces places(kTotal, kPerPeer);
  std::set<RequestPlaces::Id> held;
  RequestPlaces::Id next = 0;
  for (std::size_t i = 0; i + 1 < script.size(); i += 2) {
    const auto op = static_cast<unsigned char>(script[i]);
    const auto peer =
        talmir880::net::Address::ipv4(0x0a000000u + static_cast<unsigned char>(script[i + 1]) % 6);
    if (op % 3 != 0 || held.empty()) {
      const RequestPlaces::Id id = ++next;
      const std::optional<RequestPlaces::Id> closed = places.take(id, peer);
      if (closed) {
        check(held.erase(*closed) == 1, "only a held place is given up");
      }
      held.insert(id);
    } else {
      auto at = held.begin();
      std::advance(at, op % held.size());
      places.give_back(*at);
      held.erase(at);
    }
    check(places.held() == held.size() && places.held() <= kTotal, "places within their bound");
    check(places.held_by(peer) <= kPerPeer, "a peer within its bound");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::string> parts = talmir880::fuzzing::split_at_zero(
      std::string_view(reinterpret_cast<const char*>(data), size), 5);
  check_head(parts[0]);
  check_action(parts[1]);
  check_sessions(parts[2]);
  check_frames(parts[3]);
  check_places(parts[4]);
  return 0;
}
