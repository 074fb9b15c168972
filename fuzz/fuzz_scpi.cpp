// The SCPI instrument driven by a small script of client lines and device
// events, checked after every step and drained at the end.
//
// The input is cut at each LF into pieces (one CR before the LF is dropped,
// as the transport does). A piece that does not start with '!' is a line the
// current client sends; it goes through the client's outbox, which a paced
// transport empties while the client's backlog has room and again from the
// instrument's room() callback. A piece starting with '!' is an event:
//   !c<d>   the current client becomes slot d (a byte, modulo 3)
//   !x      the current client disconnects (forget); its slot reconnects
//           later as a new client
//   !o      the current client sent an over-long line
//   !g      the current client's whole outbox is submitted at once, past
//           its cap (a greedy transport)
//   !a      the device sends "R"
//   !r<b>   the device sends the bytes b
//   !p<n>   the device reports n sweep points (decimal, 1 when absent)
//   !t      the watchdog runs out (a silent device)
//   !s      the sweep's stall countdown runs out
//   !R !W !O  reads, writes, opening the port start or stop failing
//   !z      the device acknowledges every command it is waiting on
// Any other '!' piece does nothing.
//
// At the end the device is made willing, every command acknowledged and
// every pass reported in full; then the instrument must be idle, every
// client's lines finished, and SYST:ERR? asked again and again must reach
// 0,"No error" within the error queue's size plus one.
//
// FUZZ_SCPI_VERBOSE=1 prints the steps, the writes and the answers.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "scpi/instrument.hpp"
#include "scpi/status.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"

namespace {

using talmir880::fuzzing::all_digits;
using talmir880::fuzzing::check;
using talmir880::fuzzing::fail;
using talmir880::fuzzing::shown;
using talmir880::scpi::ClientId;
using talmir880::scpi::Instrument;
using talmir880::scpi::Status;

constexpr std::size_t kSlots = 3;
constexpr std::size_t kMaxPieces = 2000;
constexpr std::size_t kMaxReportedPoints = 9999;
constexpr int kSettleLimit = 100000;

// check() with the detail written only when the property breaks: the
// trace is long and most checks run many times per input.
template <class Detail>
void check_that(bool ok, std::string_view property, const Detail& detail) {
  if (!ok) fail(property, detail());
}

bool verbose() {
  static const bool on = std::getenv("FUZZ_SCPI_VERBOSE") != nullptr;
  return on;
}

void say(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }

bool starts_with(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// The device's command forms, written out here rather than taken from the
// encoders, so that the encoders are not their own judge.
bool device_command(std::string_view w) {
  if (starts_with(w, "$F")) return w.size() == 11 && all_digits(w.substr(2));
  if (starts_with(w, "$M")) return w.size() >= 9 && all_digits(w.substr(2));
  if (starts_with(w, "$P")) return w.size() == 3 && w[2] >= '0' && w[2] <= '3';
  if (starts_with(w, "$S")) return w == "$S0" || w == "$S1";
  if (starts_with(w, "$W")) {
    w.remove_prefix(2);
    if (w.size() == 21) return all_digits(w);
    return w.size() == 22 && all_digits(w.substr(0, 9)) && w[9] == '-' && all_digits(w.substr(10));
  }
  return false;
}

// The points a sweep command asks for: its last four digits.
std::size_t sweep_points(std::string_view w) {
  return std::stoul(std::string(w.substr(w.size() - 4)));
}

// What a query may answer, as far as the commands the device acknowledged
// tell: a set of possible values each, as bit masks. The RF-off command is
// also what *RST sends, which puts modulation on and the level at -3 dBm.
struct Acknowledged {
  unsigned output = 1u << 1;      // bit v: OUTP? may answer v
  unsigned modulation = 1u << 1;  // bit v: OUTP:MOD? may answer v
  unsigned power = 1u << 3;       // bit n: POW? may answer the level of $Pn

  void took(const std::string& w) {
    if (w == "$F000000001") {
      output = 1u << 0;
      modulation |= 1u << 1;
      power |= 1u << 3;
    } else if (starts_with(w, "$F")) {
      output = 1u << 1;
    } else if (w == "$M0000000") {
      modulation = 1u << 0;
    } else if (starts_with(w, "$M")) {
      modulation = 1u << 1;
    } else if (starts_with(w, "$P")) {
      power = 1u << (w[2] - '0');
    }
  }
};

// A port that checks every text handed to it, and when.
class CheckedPort : public talmir880::testing::FakeSerialPort {
 public:
  CheckedPort(const talmir880::testing::ManualCountdown& watchdog,
              const talmir880::testing::ManualCountdown& stall, const std::string& trace)
      : watchdog_(watchdog), stall_(stall), trace_(trace) {}

  void Output(std::string_view data) override {
    const auto what = [&] { return shown(data) + " after " + trace_; };
    check_that(device_command(data), "a text written to the port is not a device command", what);
    check_that(open, "a command was written to a closed port", what);
    check_that(!watchdog_.running(), "a command was written while another waited for its R", what);
    check_that(!stall_.running(), "a command was written while a sweep pass ran", what);
    if (verbose()) say("  wrote " + shown(data));
    FakeSerialPort::Output(data);
  }

 private:
  const talmir880::testing::ManualCountdown& watchdog_;
  const talmir880::testing::ManualCountdown& stall_;
  const std::string& trace_;
};

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  const std::size_t last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

// Every way to write a header: each node short or long, optional ones also
// left out.
struct Mnemonic {
  std::string_view short_form, long_form;
  bool optional;
};
std::set<std::string> spellings(const std::vector<Mnemonic>& nodes) {
  std::set<std::string> out{""};
  for (const Mnemonic& m : nodes) {
    std::set<std::string> next;
    for (const std::string& head : out) {
      for (std::string_view form : {m.short_form, m.long_form}) {
        next.insert(head.empty() ? std::string(form) : head + ":" + std::string(form));
      }
      if (m.optional) next.insert(head);
    }
    out = std::move(next);
  }
  return out;
}

enum class Query {
  none,
  output,
  modulation,
  power,
  error,
  version,
  opc,
  tst,
  idn,
  ese,
  sre,
  stb,
  esr
};

// The query a line ends in, when the line's answer can only be that
// query's: no quotes (they would move the ';' cuts), no '?' before it, and
// a header that cannot lean on an earlier one. `alone` when it is the line's
// only unit.
Query last_query(std::string_view line, bool& alone) {
  alone = false;
  if (line.find_first_of("\"'") != std::string_view::npos) return Query::none;
  std::vector<std::string> units;
  std::size_t from = 0;
  for (;;) {
    const std::size_t cut = line.find(';', from);
    std::string unit = trimmed(line.substr(from, cut == std::string_view::npos ? cut : cut - from));
    if (!unit.empty()) units.push_back(upper(std::move(unit)));
    if (cut == std::string_view::npos) break;
    from = cut + 1;
  }
  if (units.empty()) return Query::none;
  for (std::size_t i = 0; i + 1 < units.size(); ++i) {
    if (units[i].find('?') != std::string::npos) return Query::none;
  }
  alone = units.size() == 1;
  std::string u = units.back();
  if (u.size() < 2 || u.back() != '?') return Query::none;
  u.pop_back();
  static const std::map<std::string, Query> common = {
      {"*OPC", Query::opc}, {"*TST", Query::tst}, {"*IDN", Query::idn}, {"*ESE", Query::ese},
      {"*SRE", Query::sre}, {"*STB", Query::stb}, {"*ESR", Query::esr}};
  if (u[0] == '*') {
    const auto at = common.find(u);
    return at == common.end() ? Query::none : at->second;
  }
  if (u[0] == ':') {
    u.erase(0, 1);
  } else if (!alone) {
    return Query::none;
  }
  static const std::set<std::string> output =
      spellings({{"OUTP", "OUTPUT", false}, {"STAT", "STATE", true}});
  static const std::set<std::string> modulation =
      spellings({{"OUTP", "OUTPUT", false}, {"MOD", "MODULATION", false}, {"STAT", "STATE", true}});
  static const std::set<std::string> power = spellings({{"SOUR", "SOURCE", true},
                                                        {"POW", "POWER", false},
                                                        {"LEV", "LEVEL", true},
                                                        {"IMM", "IMMEDIATE", true},
                                                        {"AMPL", "AMPLITUDE", true}});
  static const std::set<std::string> error =
      spellings({{"SYST", "SYSTEM", false}, {"ERR", "ERROR", false}, {"NEXT", "NEXT", true}});
  static const std::set<std::string> version =
      spellings({{"SYST", "SYSTEM", false}, {"VERS", "VERSION", false}});
  if (output.count(u)) return Query::output;
  if (modulation.count(u)) return Query::modulation;
  if (power.count(u)) return Query::power;
  if (error.count(u)) return Query::error;
  if (version.count(u)) return Query::version;
  return Query::none;
}

bool small_number(const std::string& text, int max) {
  if (text.empty() || text.size() > 3 || !all_digits(text)) return false;
  return std::stoi(text) <= max;
}

// An entry of the error queue as SYST:ERR? answers it: a number this
// instrument reports, a comma, a quoted text.
int error_code(const std::string& text) {
  static const std::set<int> known = {0,    -100, -102, -104, -108, -109, -113, -131,
                                      -213, -221, -222, -224, -240, -241, -350, -363};
  const std::size_t comma = text.find(',');
  if (comma == std::string::npos || comma == 0 || comma > 4) return 1;
  const std::string number = text.substr(0, comma);
  const std::string digits = number[0] == '-' ? number.substr(1) : number;
  if (digits.empty() || !all_digits(digits)) return 1;
  const std::string quoted = text.substr(comma + 1);
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"' ||
      quoted.find('"', 1) != quoted.size() - 1) {
    return 1;
  }
  const int code = std::stoi(number);
  return known.count(code) ? code : 1;
}

struct Client {
  ClientId id = 0;
  std::deque<std::string> outbox;  // not yet handed to the instrument
};

// A line the instrument took, until its room() comes.
struct Taken {
  std::string line;
  bool overrun = false;
  bool answered = false;
  std::string answer;
};

class Session {
 public:
  Session() {
    watchdog.ran_out = [this] { instrument.watchdog_ran_out(); };
    stall.ran_out = [this] { instrument.stall_ran_out(); };
    instrument.answer = [this](ClientId c, std::string text) { on_answer(c, std::move(text)); };
    instrument.room = [this](ClientId c) { on_room(c); };
    for (Client& c : slots) c.id = ++last_id;
  }

  void step(std::string_view piece) {
    if (verbose()) say("step " + shown(piece));
    trace += shown(piece) + " ";
    if (trace.size() > 4000) trace.erase(0, trace.size() - 4000);
    mark = port.written.size();
    try {
      if (piece.empty() || piece[0] != '!') {
        Client& c = slots[current];
        c.outbox.emplace_back(piece);
        feed(c.id);
      } else {
        event(piece.substr(1));
      }
    } catch (const std::exception& e) {
      fail("an exception escaped the instrument", trace + ": " + e.what());
    }
    after_step();
  }

  void finish() {
    port.fail_read = port.fail_write = port.fail_open = false;
    trace += "| willing ";
    if (verbose()) say("willing device");
    try {
      settle();
    } catch (const std::exception& e) {
      fail("an exception escaped the instrument", trace + ": " + e.what());
    }
    check(instrument.idle(), "a willing device left the instrument busy", trace);
    for (const Client& c : slots) {
      check(c.outbox.empty(), "a paced client was never given room for its lines", trace);
      check(taken[c.id].empty() && instrument.backlog(c.id) == 0,
            "a client's line never finished with a willing device", trace);
    }
    drain();
  }

 private:
  void event(std::string_view e) {
    if (e.empty()) return;
    const std::string_view arg = e.substr(1);
    Client& c = slots[current];
    switch (e[0]) {
      case 'c':
        current = arg.empty() ? 0 : static_cast<unsigned char>(arg[0]) % kSlots;
        break;
      case 'x': {
        const ClientId gone = c.id;
        forgotten.insert(gone);
        taken.erase(gone);
        c.outbox.clear();
        c.id = ++last_id;
        instrument.forget(gone);
        check(instrument.backlog(gone) == 0, "a forgotten client keeps a backlog", trace);
        break;
      }
      case 'o': {
        const bool room = instrument.backlog(c.id) < Instrument::kMaxBacklog;
        if (room) taken[c.id].push_back({.overrun = true});
        instrument.overrun(c.id);
        break;
      }
      case 'g':
        while (!c.outbox.empty()) {
          std::string line = std::move(c.outbox.front());
          c.outbox.pop_front();
          submit(c.id, std::move(line));
        }
        break;
      case 'a':
        deliver("R");
        break;
      case 'r':
        deliver(std::string(arg));
        break;
      case 'p': {
        std::size_t n = arg.empty() ? 1 : 0;
        for (char d : arg.substr(0, 4)) {
          if (d >= '0' && d <= '9') n = n * 10 + static_cast<std::size_t>(d - '0');
        }
        deliver(std::string(4 * std::min(n, kMaxReportedPoints), '.'));
        break;
      }
      case 't':
        watchdog.run_out();
        break;
      case 's':
        stall.run_out();
        break;
      case 'R':
        port.fail_read = !port.fail_read;
        break;
      case 'W':
        port.fail_write = !port.fail_write;
        break;
      case 'O':
        port.fail_open = !port.fail_open;
        break;
      case 'z':
        for (int i = 0; watchdog.running() && i < kSettleLimit; ++i) {
          deliver("R");
          check_wire();
        }
        break;
      default:
        break;
    }
  }

  // The paced transport: hands over lines while the client has room.
  void feed(ClientId id) {
    Client* c = slot_of(id);
    while (c != nullptr && !c->outbox.empty() && instrument.backlog(id) < Instrument::kMaxBacklog) {
      std::string line = std::move(c->outbox.front());
      c->outbox.pop_front();
      submit(id, std::move(line));
      c = slot_of(id);
    }
  }

  void submit(ClientId id, std::string line) {
    // Booked before: a line may finish inside submit().
    if (instrument.backlog(id) < Instrument::kMaxBacklog) taken[id].push_back({.line = line});
    instrument.submit(id, std::move(line));
  }

  Client* slot_of(ClientId id) {
    for (Client& c : slots) {
      if (c.id == id) return &c;
    }
    return nullptr;
  }

  // The device sends bytes. When they acknowledge the command on the wire,
  // the model takes it before the instrument hears of it, since a query run
  // at once afterwards answers from it.
  void deliver(const std::string& bytes) {
    if (watchdog.running() && !port.fail_read &&
        (port.pending + bytes).find('R') != std::string::npos) {
      check(!port.written.empty(), "the watchdog runs with nothing written", trace);
      device.took(port.written.back());
    }
    port.receive(bytes);
  }

  void on_answer(ClientId c, std::string text) {
    const auto what = [&] {
      return "client " + std::to_string(c) + " " + shown(text) + " after " + trace;
    };
    check_that(!forgotten.count(c), "an answer went to a forgotten client", what);
    check_that(slot_of(c) != nullptr || c == drain_id, "an answer went to an unknown client", what);
    check_that(room_due == 0, "an answer came before the room of the previous one", what);
    auto& lines = taken[c];
    check_that(!lines.empty(), "an answer to a client with no line running", what);
    check_that(!lines.front().answered, "a line answered twice", what);
    check_that(!lines.front().overrun, "an over-long line was answered", what);
    check_that(!text.empty(), "an empty answer", what);
    check_that(text.find_first_of("\r\n") == std::string::npos, "an answer holds a CR or LF", what);
    check_that(!watchdog.running(), "a line answered while a command waited for its R", what);
    if (verbose()) say("  answer to " + std::to_string(c) + ": " + shown(text));
    lines.front().answered = true;
    lines.front().answer = std::move(text);
    room_due = c;
  }

  void on_room(ClientId c) {
    const auto what = [&] { return "client " + std::to_string(c) + " after " + trace; };
    check_that(!forgotten.count(c), "room told to a forgotten client", what);
    check_that(room_due == 0 || room_due == c, "an answer and the room after it name two clients",
               what);
    room_due = 0;
    auto& lines = taken[c];
    check_that(!lines.empty(), "room told for a line never taken", what);
    const Taken done = std::move(lines.front());
    lines.pop_front();
    last_answer = done.answered ? done.answer : "";
    check_answer(done, c);
    feed(c);
  }

  void check_answer(const Taken& done, ClientId c) {
    const auto what = [&] {
      return "line " + shown(done.line) + " answered " +
             (done.answered ? shown(done.answer) : "nothing") + " to client " + std::to_string(c) +
             " after " + trace;
    };
    if (done.line.find('?') == std::string::npos) {
      check_that(!done.answered, "a line without a query answered", what);
      return;
    }
    bool alone = false;
    const Query q = last_query(done.line, alone);
    if (q == Query::none) return;
    if (alone) check_that(done.answered, "a line of one query got no answer", what);
    if (!done.answered) return;
    const std::string& a = done.answer;
    switch (q) {
      case Query::output:
        check_that(a.size() == 1 && (a == "0" || a == "1") && (device.output >> (a[0] - '0') & 1),
                   "OUTP? does not answer what the device acknowledged", what);
        break;
      case Query::modulation:
        check_that(
            a.size() == 1 && (a == "0" || a == "1") && (device.modulation >> (a[0] - '0') & 1),
            "OUTP:MOD? does not answer what the device acknowledged", what);
        break;
      case Query::power: {
        static const std::array<std::string_view, 4> levels = {"-12", "-9", "-6", "-3"};
        const auto at = std::find(levels.begin(), levels.end(), a);
        check_that(at != levels.end() && (device.power >> (at - levels.begin()) & 1),
                   "POW? does not answer what the device acknowledged", what);
        break;
      }
      case Query::error:
        check_that(error_code(a) <= 0, "SYST:ERR? answered no error entry", what);
        break;
      case Query::version:
        check_that(a == "1999.0", "SYST:VERS? answered something else", what);
        break;
      case Query::opc:
        check_that(a == "1", "*OPC? answered something other than 1", what);
        check_that(!stall.running(), "*OPC? answered while a sweep pass ran", what);
        break;
      case Query::tst:
        check_that(a == "0", "*TST? answered something other than 0", what);
        break;
      case Query::idn: {
        const std::size_t commas = static_cast<std::size_t>(std::count(a.begin(), a.end(), ','));
        check_that(commas == 3 && a.find("TALMIR-880") != std::string::npos,
                   "*IDN? is not four fields naming the TALMIR-880", what);
        break;
      }
      case Query::ese:
      case Query::stb:
      case Query::esr:
        check_that(small_number(a, 255), "a register query answered no number 0..255", what);
        break;
      case Query::sre:
        check_that(small_number(a, 255) && (std::stoi(a) & Status::kMss) == 0,
                   "*SRE? answered no number 0..255 without bit 6", what);
        break;
      case Query::none:
        break;
    }
  }

  // Whatever went out last since the mark is being waited on.
  void check_wire() {
    if (port.written.size() > mark) {
      const std::string& last = port.written.back();
      if (starts_with(last, "$W")) {
        check(stall.running(), "a sweep command went out and no pass is watched", trace);
      } else {
        check(watchdog.running(), "a command went out and its R is not awaited", trace);
      }
    }
    mark = port.written.size();
  }

  void after_step() {
    check(room_due == 0, "an answer without the room after it", trace);
    check_wire();
    check(!(instrument.idle() && watchdog.running()), "idle while a command waits for its R",
          trace);
    for (const Client& c : slots) {
      const std::size_t backlog = instrument.backlog(c.id);
      check(backlog <= Instrument::kMaxBacklog, "a client's backlog passed its cap", trace);
      check(backlog == taken[c.id].size(),
            "the backlog differs from the lines taken and not yet finished", trace);
    }
  }

  // Acknowledges every command and reports every pass in full; passes
  // nobody waits for are finished twice at most (a continuous sweep would
  // go on for ever).
  void settle() {
    int free_passes = 0;
    for (int i = 0;; ++i) {
      check(i < kSettleLimit, "a willing device never brought the instrument to rest", trace);
      mark = port.written.size();
      if (watchdog.running()) {
        deliver("R");
      } else if (stall.running() && (!instrument.idle() || free_passes++ < 2)) {
        std::size_t points = 0;
        for (auto it = port.written.rbegin(); it != port.written.rend(); ++it) {
          if (starts_with(*it, "$W")) {
            points = sweep_points(*it);
            break;
          }
        }
        check(points > 0, "a pass runs with no sweep command written", trace);
        deliver(std::string(4 * points, '.'));
      } else {
        break;
      }
      after_step();
    }
  }

  void drain() {
    drain_id = ++last_id;
    const std::size_t written_before = port.written.size();
    const std::size_t limit = Status::kQueueSize + 1;
    for (std::size_t i = 0;; ++i) {
      check(i < limit, "SYST:ERR? did not drain to 0,\"No error\" within the queue's size", trace);
      taken[drain_id].push_back({.line = "SYST:ERR?"});
      instrument.submit(drain_id, "SYST:ERR?");
      check(taken[drain_id].empty(), "SYST:ERR? on an idle instrument did not answer at once",
            trace);
      const std::string& a = last_answer;
      const int code = error_code(a);
      check_that(code <= 0, "SYST:ERR? answered no error entry",
                 [&] { return shown(a) + " after " + trace; });
      if (code == 0) {
        check(a == "0,\"No error\"", "the empty queue is not told as 0,\"No error\"", a);
        break;
      }
    }
    check(port.written.size() == written_before, "SYST:ERR? wrote to the device", trace);
    check(instrument.idle(), "the instrument is busy after SYST:ERR?", trace);
  }

  std::string trace = "script ";
  talmir880::testing::ManualCountdown watchdog;
  talmir880::testing::ManualCountdown stall;
  CheckedPort port{watchdog, stall, trace};
  Instrument instrument{port, watchdog, stall};
  Acknowledged device;
  std::array<Client, kSlots> slots;
  std::size_t current = 0;
  ClientId last_id = 0;
  ClientId drain_id = 0;
  ClientId room_due = 0;
  std::size_t mark = 0;  // writes up to here are checked
  std::set<ClientId> forgotten;
  std::map<ClientId, std::deque<Taken>> taken;
  std::string last_answer;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view script(reinterpret_cast<const char*>(data), size);
  Session session;
  for (std::size_t n = 0; n < kMaxPieces && !script.empty(); ++n) {
    const std::size_t lf = script.find('\n');
    std::string_view piece = script.substr(0, lf);
    script.remove_prefix(lf == std::string_view::npos ? script.size() : lf + 1);
    if (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    session.step(piece);
  }
  session.finish();
  return 0;
}
