// The SCPI instrument driven by a small script of client lines and device
// events against a stand-in device, checked after every step and brought to
// rest at the end.
//
// The first byte chooses how the run starts: bit 0 has the instrument write
// the switch-off it owes by itself, as the server does
// (switch_off_when_reached; otherwise it waits for a client, as behind a
// panel), bits 1 to 3 the line's rate (300, 1200, 2400, 4800, 9600, 19200,
// 38400, 57600 baud), bits 4 and 5 whether the device powered up with its
// RF and its modulation on.
//
// The rest is cut at each LF into pieces (one CR before the LF is dropped,
// as the transport does). A piece that does not start with '!' is a line the
// client in the current slot sends (a slot without one gets a new client);
// it goes through the client's outbox, which a paced transport empties while
// the client's backlog has room and again from the instrument's room(). A
// piece starting with '!' is an event:
//   !c<d>   the current slot becomes d (a byte, modulo 3)
//   !x      the slot's client aborts (detach): its outbox is dropped, what
//           it sent runs unanswered
//   !e      the slot's client ends in order: its outbox is still fed, then
//           end_of_input(); the transport detaches once finished() comes
//   !o      the client sent an over-long line
//   !k      the client sends a marker line, FREQ:STEP <a new number>
//   !g      the client's whole outbox is submitted at once, past its cap
//           (a greedy transport)
//   !a      the device sends "R"
//   !r<b>   the device sends the bytes b
//   !p<n>   the device reports n sweep points (decimal, 1 when absent)
//   !t !s !q !n   the watchdog, the stall, the quiet or the reopen
//                 countdown runs out
//   !R !W   reads or writes start or stop failing
//   !O !M   opening the port starts or stops failing, busy or missing
//   !z      the device acknowledges every command it is waiting on
//   !h      the server probes the port of a device that went
// The stand-in device takes each command, or not, as its manner is when the
// command is written; an R that reaches a command waiting for one says the
// device took it after all.
//   !ma !ml !ms !md   from now on the device answers (as at start), answers
//           late (once the watchdog ran out), is silent (takes commands
//           without an R) or deaf (takes nothing)
//   !l      the next command's bytes are lost on the way: not taken
//   !d      the device's turn: the command waiting gets what its manner
//           gave it (its R; the watchdog, then its R; the watchdog twice)
//   !P      the adapter is pulled: reads, writes and opens fail (device
//           gone, no such port); !L the network link is lost, the same with
//           a network cause. Either way the device holds what it held and
//           goes on with its pass.
//   !B<x>   back: the port works again; after !P, with x and the port not
//           opened since, the device restarted meanwhile, its RF on when
//           bit 0 of x is set, its modulation when bit 1 is
// Any other '!' piece does nothing.
//
// Time passes only as far as the countdowns that ran out and the characters
// read (10 bits each at the line's rate) say: a lower bound, by which a pass
// the device took runs for 4 characters a point.
//
// A private observer client asks OUTP? and OUTP:MOD? after every step, and
// POW?, FREQ:STEP? and STAT:QUES:COND? too when the instrument is idle ("at
// rest"). The step is a setting every client shares and no device traffic
// moves.
//
// Properties:
// - every write is one of the device's forms, to an open port, one exchange
//   at a time; a pass ends only once its reports came and the line was
//   quiet (or it stalled, or the port failed); the port is not tried again
//   within the reopen pause; nothing is written while a pass the device
//   took may still run;
// - answers and room() only to clients still there, one room() per line
//   taken, in order; a line with no query is not answered; the checked
//   queries answer well-formed values, and OUTP?, OUTP:MOD? and POW? what
//   the observer last saw at rest unless a line that could change them
//   came since, or the device's record moved as it may alone: to 1 after a
//   fault, to 0 once a switch-off written since was taken; *OPC? only once
//   the pass that ran when its line was taken has ended; asking a query
//   moves nothing else;
// - never off while on: the line's record, which every face shows, holds
//   an output off only while the device holds it off (but for a switch-on
//   waiting for its R), and OUTP? (OUTP:MOD?) answers 0, at rest or with
//   no line since the last rest that could change it, only then too;
// - at rest OUTP? and OUTP:MOD? answer what the device acknowledged last,
//   or 1 with bit 10 of STAT:QUES:COND? ("not confirmed") set; with bit 10
//   clear they answer what the device holds; bit 10 is set only after a
//   fault since it was last clear, or the start; POW? answers the level the
//   device acknowledged;
// - no line lost: at rest FREQ:STEP? answers the last marker of one of
//   the clients that sent markers since the last rest (unless another line
//   could have set it), and every client still there has had every line
//   finished;
// - nothing switched on unasked: an RF-on "$F" (a "$M" other than
//   "$M0000000") is written only to retune an output known to be on, or
//   after a line that could say OUTP ON (OUTP:MOD ON) was taken since the
//   last rest; a pass only while the RF is known to be on;
// - finished() once for a client that ended, after its last room(), never
//   for one that aborted;
// - with a willing device the instrument comes to rest, and the observer's
//   SYST:ERR? (it sent only queries: it holds the device's events alone)
//   asked again and again reaches 0,"No error" within the queue's size plus
//   one; a client attached then holds no error at all.
//
// FUZZ_SCPI_VERBOSE=1 prints the steps, the writes and the answers.

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "generator/status.hpp"
#include "scpi/instrument.hpp"
#include "scpi_text.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"

namespace {

using namespace talmir880::fuzzing::scpi_text;
using talmir880::ClientId;
using talmir880::DeviceFault;
using talmir880::Held;
using talmir880::Status;
using talmir880::Switched;
using talmir880::fuzzing::all_digits;
using talmir880::fuzzing::check;
using talmir880::fuzzing::fail;
using talmir880::fuzzing::shown;
using talmir880::scpi::ClientEvents;
using talmir880::scpi::Instrument;
using talmir880::scpi::InstrumentEvents;
using talmir880::testing::ManualCountdown;

constexpr std::size_t kSlots = 3;
constexpr std::size_t kMaxPieces = 2000;
constexpr std::size_t kMaxReportedPoints = 9999;
constexpr int kSettleLimit = 100000;
// What the observer asks after every step; at rest it asks more.
constexpr std::string_view kObserve = "OUTP?;:OUTP:MOD?";
constexpr std::string_view kObserveAtRest = "OUTP?;:OUTP:MOD?;:POW?;:FREQ:STEP?;:STAT:QUES:COND?";
// STAT:QUES:COND?'s "not confirmed": RF or modulation may be on or off.
constexpr int kNotConfirmed = 1024;
// Markers are steps the instrument takes: whole 10 Hz, from 10 Hz.
constexpr long kMarkerStepHz = 10;
// The rates the first byte chooses from.
constexpr std::array<int, 8> kBauds = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600};
// The instrument counts a pass the line lost in whole milliseconds.
constexpr std::int64_t kPassSlackUs = 1000;

using Micros = std::chrono::microseconds;

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

// A countdown that tells when it starts, and when it is stopped while it
// runs (not when it runs out), and knows when it started and how long it
// runs.
class HookedCountdown : public ManualCountdown {
 public:
  HookedCountdown(const Micros& clock, Micros length) : length(length), clock_(clock) {}
  void start() override {
    if (on_start) on_start();
    started = clock_;
    ManualCountdown::start();
  }
  void stop() override {
    if (running() && on_stop) on_stop();
    ManualCountdown::stop();
  }
  std::function<void()> on_start;
  std::function<void()> on_stop;
  Micros started{0};
  Micros length;

 private:
  const Micros& clock_;
};

// A port that checks every text handed to it, and when, and counts what is
// read and which opens fail.
class CheckedPort : public talmir880::testing::FakeSerialPort {
 public:
  CheckedPort(const ManualCountdown& watchdog, const ManualCountdown& stall,
              const ManualCountdown& reopen, const std::string& trace)
      : watchdog_(watchdog), stall_(stall), reopen_(reopen), trace_(trace) {}

  void Output(std::string_view data) override {
    const auto what = [&] { return shown(data) + " after " + trace_; };
    check_that(device_command(data), "a text written to the port is not a device command", what);
    check_that(open, "a command was written to a closed port", what);
    check_that(!watchdog_.running(), "a command was written while another waited for its R", what);
    check_that(!stall_.running(), "a command was written while a sweep pass ran", what);
    try {
      FakeSerialPort::Output(data);
    } catch (...) {
      ++failures;
      throw;
    }
    if (wrote) wrote(data);
  }

  std::string Input() override {
    try {
      std::string in = FakeSerialPort::Input();
      read_total += in.size();
      if (read) read();
      return in;
    } catch (...) {
      read_failing = true;
      ++failures;
      throw;
    }
  }

  void set_PortOpen(bool value) override {
    if (!value) {
      FakeSerialPort::set_PortOpen(false);
      pending.clear();  // a closed port drops what it had not read
      return;
    }
    check(!reopen_.running(), "the port was tried again within the reopen pause", trace_);
    try {
      FakeSerialPort::set_PortOpen(true);
      open_failed = false;
      ++opens;
    } catch (...) {
      open_failed = true;
      ++failures;
      throw;
    }
  }

  std::function<void(std::string_view)> wrote;
  std::function<void()> read;
  std::size_t read_total = 0;
  bool read_failing = false;  // a read failed during the current delivery
  bool open_failed = false;   // the last try to open failed, and no pause ran out since
  int failures = 0;           // opens, reads and writes that failed
  int opens = 0;

 private:
  const ManualCountdown& watchdog_;
  const ManualCountdown& stall_;
  const ManualCountdown& reopen_;
  const std::string& trace_;
};

// What the device acknowledged last: each output unknown until then.
struct Acknowledged {
  std::optional<bool> output;
  std::optional<bool> modulation;
  std::string power = "-3";

  void took(const std::string& w) {
    if (starts_with(w, "$F")) {
      output = rf_on(w);
    } else if (starts_with(w, "$M")) {
      modulation = modulation_on(w);
    } else if (starts_with(w, "$P")) {
      power = std::string(kLevels[w[2] - '0']);
    }
  }
};

// What the stand-in device holds, as the commands it took say: what the
// instrument can only learn from R's.
struct Truth {
  bool output = false;
  bool modulation = false;

  void took(std::string_view w) {
    if (starts_with(w, "$F")) {
      output = rf_on(w);
    } else if (starts_with(w, "$M")) {
      modulation = modulation_on(w);
    } else if (starts_with(w, "$W")) {
      output = true;  // a pass emits across its span
    }
  }
};

// How the stand-in treats the commands written to it.
enum class Manner { answers, late, silent, deaf };
// What it did with the command on the wire.
enum class Fate { answers, late, silent, lost };

// A pass the stand-in took: it sweeps until then, whatever the line sees.
struct Sweeping {
  Micros began;
  Micros ends;
};

// What the observer read.
struct Observed {
  std::string output;
  std::string modulation;
  std::string power;
  std::string step;
  int condition = 0;  // STAT:QUES:COND?
};

struct Outgoing {
  std::string text;
  bool overrun = false;
  long marker = 0;  // the number a marker line sets
};

// A line the instrument took, until its room() comes.
struct Taken {
  std::string line;
  bool overrun = false;
  bool answered = false;
  std::string answer;
  Reach reach;
  std::size_t pass = 0;  // the pass running when it was taken, counted from 1
};

class Session;

// Where the instrument tells one client's news.
class Peer : public ClientEvents {
 public:
  enum class Role { client, observer, drain };
  Peer(Session& session, Role role) : session_(session), role_(role) {}
  void answer(std::string text) override;
  void room() override;
  void finished() override;
  ClientId id = 0;

 private:
  Session& session_;
  Role role_;
};

struct ClientState {
  std::unique_ptr<Peer> peer;
  std::deque<Outgoing> outbox;  // not yet handed to the instrument
  std::deque<Taken> taken;
  bool ending = false;    // its orderly end was read
  bool told_end = false;  // end_of_input() was called
  bool left = false;      // detached
  int finishes = 0;
};

class Session : private InstrumentEvents {
 public:
  explicit Session(unsigned char options)
      : baud(kBauds[(options >> 1) & 7]), off_when_reached((options & 1) != 0) {
    truth.output = (options & 0x10) != 0;
    truth.modulation = (options & 0x20) != 0;
    watchdog.ran_out = [this] {
      timed_out = true;
      const std::string& w = port.written.back();
      output_off_lost = output_off_lost || w == kRfOff;
      modulation_off_lost = modulation_off_lost || w == kModulationOff;
      faulted();
      instrument.watchdog_ran_out();
    };
    stall.ran_out = [this] {
      ++passes_ended;
      sweeping.reset();  // the device stalled
      instrument.stall_ran_out();
    };
    quiet.ran_out = [this] { instrument.quiet_ran_out(); };
    reopen.ran_out = [this] { instrument.reopen_ran_out(); };
    stall.on_stop = [this] { pass_stopped(); };
    quiet.on_start = [this] { quiet_started(); };
    port.wrote = [this](std::string_view w) { wrote(w); };
    port.read = [this] { chars_read(); };
    instrument.set_baud(baud);
    instrument.observe(*this);
    observer.id = attached(observer);
    at_rest = observe(true);
  }

  // As the server starts, when the first byte says so.
  void start() {
    trace += std::to_string(baud) + " baud, device " + (truth.output ? "RF on" : "RF off") +
             (truth.modulation ? ", modulation on" : ", modulation off") +
             (off_when_reached ? ", off when reached | " : " | ");
    if (verbose()) say(trace);
    if (!off_when_reached) return;
    mark = port.written.size();
    try {
      instrument.switch_off_when_reached(true);
    } catch (const std::exception& e) {
      fail("an exception escaped the instrument", trace + ": " + e.what());
    }
    // What the step caused is heard once it has returned, as from the loop.
    talmir880::testing::deliver();
    after_step();
  }

  void step(std::string_view piece) {
    if (verbose()) say("step " + shown(piece));
    trace += shown(piece) + " ";
    if (trace.size() > 4000) trace.erase(0, trace.size() - 4000);
    mark = port.written.size();
    try {
      if (piece.empty() || piece[0] != '!') {
        send({std::string(piece)});
      } else {
        event(piece.substr(1));
      }
    } catch (const std::exception& e) {
      fail("an exception escaped the instrument", trace + ": " + e.what());
    }
    // What the step caused is heard once it has returned, as from the loop.
    talmir880::testing::deliver();
    after_step();
  }

  void finish() {
    port.fail_read = port.fail_write = port.fail_open = false;
    manner = Manner::answers;
    lose_next = false;
    trace += "| willing ";
    if (verbose()) say("willing device");
    try {
      settle();
    } catch (const std::exception& e) {
      fail("an exception escaped the instrument", trace + ": " + e.what());
    }
    // What the step caused is heard once it has returned, as from the loop.
    talmir880::testing::deliver();
    after_step();
    check(instrument.idle(), "a willing device left the instrument busy", trace);
    const talmir880::GeneratorState& device = instrument.device();
    check(!off_when_reached ||
              (!device.owed(talmir880::Fact::rf) && !device.owed(talmir880::Fact::modulation)),
          "switching off when reached, a willing device was left owed a switch-off", trace);
    drain();
  }

  // ---- What the instrument tells the clients -----------------------------

  void on_answer(ClientId c, std::string text) {
    const auto what = [&] {
      return "client " + std::to_string(c) + " " + shown(text) + " after " + trace;
    };
    const auto at = clients.find(c);
    check_that(at != clients.end(), "an answer went to an unknown client", what);
    ClientState& client = at->second;
    check_that(!client.left, "an answer went to a client that left", what);
    check_that(room_due == 0, "an answer came before the room of the previous one", what);
    check_that(!client.taken.empty(), "an answer to a client with no line running", what);
    Taken& line = client.taken.front();
    check_that(!line.answered, "a line answered twice", what);
    check_that(!line.overrun, "an over-long line was answered", what);
    check_that(!text.empty(), "an empty answer", what);
    check_that(text.find_first_of("\r\n") == std::string::npos, "an answer holds a CR or LF", what);
    if (verbose()) say("  answer to " + std::to_string(c) + ": " + shown(text));
    ++news;
    line.answered = true;
    line.answer = std::move(text);
    room_due = c;
  }

  void on_room(ClientId c) {
    const auto what = [&] { return "client " + std::to_string(c) + " after " + trace; };
    const auto at = clients.find(c);
    check_that(at != clients.end(), "room told to an unknown client", what);
    ClientState& client = at->second;
    check_that(!client.left, "room told to a client that left", what);
    check_that(room_due == 0 || room_due == c, "an answer and the room after it name two clients",
               what);
    room_due = 0;
    check_that(!client.taken.empty(), "room told for a line never taken", what);
    ++news;
    const Taken done = std::move(client.taken.front());
    client.taken.pop_front();
    // Its device commands are done, unless they wait behind a pass.
    output_behind_pass = output_behind_pass || (done.reach.output && pass_possible);
    modulation_behind_pass = modulation_behind_pass || (done.reach.modulation && pass_possible);
    check_answer(done, c);
    feed(c);
  }

  void on_finished(ClientId c) {
    const auto what = [&] { return "client " + std::to_string(c) + " after " + trace; };
    const auto at = clients.find(c);
    check_that(at != clients.end(), "finished() told to an unknown client", what);
    ClientState& client = at->second;
    check_that(!client.left, "finished() told to a client that left", what);
    check_that(client.told_end, "finished() told to a client that had not ended", what);
    check_that(client.finishes == 0, "finished() told twice", what);
    check_that(client.taken.empty() && room_due == 0,
               "finished() told before every line of the client finished", what);
    ++news;
    ++client.finishes;
    if (verbose()) say("  finished " + std::to_string(c));
    // As the transport does once the answers are out: from inside the call.
    client.left = true;
    instrument.detach(c);
  }

  void on_private_answer(std::string text) {
    private_answer = std::move(text);
    private_answered = true;
  }

 private:
  // ---- Events ------------------------------------------------------------

  void event(std::string_view e) {
    if (e.empty()) return;
    const std::string_view arg = e.substr(1);
    switch (e[0]) {
      case 'c':
        current = arg.empty() ? 0 : static_cast<unsigned char>(arg[0]) % kSlots;
        break;
      case 'x':
        if (ClientState* c = in_slot(); c != nullptr && !c->left) {
          c->left = true;
          c->outbox.clear();
          instrument.detach(c->peer->id);
        }
        break;
      case 'e':
        if (ClientState* c = in_slot(); c != nullptr && !c->left && !c->ending) {
          c->ending = true;
          feed(c->peer->id);
        }
        break;
      case 'o':
        send({.overrun = true});
        break;
      case 'k':
        last_marker += kMarkerStepHz;
        send({"FREQ:STEP " + std::to_string(last_marker), false, last_marker});
        break;
      case 'g':
        if (ClientState* c = in_slot(); c != nullptr && !c->left && !c->ending) {
          const ClientId id = c->peer->id;
          while (!c->outbox.empty()) {
            Outgoing o = std::move(c->outbox.front());
            c->outbox.pop_front();
            submit(id, std::move(o));
          }
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
        expire(watchdog);
        break;
      case 's':
        expire(stall);
        break;
      case 'q':
        quiet_runs_out();
        break;
      case 'n':
        expire(reopen);
        port.open_failed = false;
        break;
      case 'R':
        port.fail_read = !port.fail_read;
        break;
      case 'W':
        port.fail_write = !port.fail_write;
        break;
      case 'O':
      case 'M':
        port.fail_open = !port.fail_open;
        port.open_cause =
            e[0] == 'O' ? talmir880::PortError::Cause::busy : talmir880::PortError::Cause::missing;
        break;
      case 'z':
        for (int i = 0; watchdog.running() && i < kSettleLimit; ++i) {
          deliver("R");
          check_wire();
        }
        break;
      case 'm':
        manner = arg.empty() || arg[0] == 'a' ? Manner::answers
                 : arg[0] == 'l'              ? Manner::late
                 : arg[0] == 's'              ? Manner::silent
                 : arg[0] == 'd'              ? Manner::deaf
                                              : Manner::answers;
        break;
      case 'l':
        lose_next = true;
        break;
      case 'd':
        device_turn();
        break;
      case 'P':
      case 'L':
        unplug(e[0] == 'L');
        break;
      case 'B':
        back(arg);
        break;
      case 'h':
        instrument.probe();
        break;
      default:
        break;
    }
  }

  // ---- Clients -----------------------------------------------------------

  ClientId attached(Peer& peer) {
    const std::optional<ClientId> id = instrument.attach(peer);
    check(id.has_value(), "the instrument refused a client of the fuzzer's own", trace);
    return *id;
  }

  ClientState* in_slot() {
    if (!slots[current]) return nullptr;
    return &clients.at(*slots[current]);
  }

  // The slot's client, or a new one when it has none that still sends.
  ClientState* sender() {
    ClientState* c = in_slot();
    if (c != nullptr && !c->left && !c->ending) return c;
    slots[current].reset();
    auto peer = std::make_unique<Peer>(*this, Peer::Role::client);
    const std::optional<ClientId> id = instrument.attach(*peer);
    if (!id) {
      check_that(attach_may_be_refused(), "a client was refused with room for it",
                 [&] { return trace; });
      return nullptr;  // the transport turns the connection away
    }
    peer->id = *id;
    ClientState& fresh = clients[*id];
    fresh.peer = std::move(peer);
    slots[current] = *id;
    return &fresh;
  }

  // Too many clients attached, or too many lines of clients that left.
  bool attach_may_be_refused() const {
    std::size_t attached = 1;  // the observer
    std::size_t left_behind = 0;
    for (const auto& [id, c] : clients) {
      if (c.left) {
        left_behind += c.taken.size();
      } else {
        ++attached;
      }
    }
    return attached >= Instrument::kMaxClients ||
           left_behind >= Instrument::kMaxClients * Instrument::kMaxBacklog;
  }

  void send(Outgoing o) {
    ClientState* c = sender();
    if (c == nullptr) return;
    c->outbox.push_back(std::move(o));
    feed(c->peer->id);
  }

  // The paced transport: hands over lines while the client has room, and
  // tells of the end once everything is handed over.
  void feed(ClientId id) {
    ClientState& c = clients.at(id);
    while (!c.left && !c.outbox.empty() && instrument.backlog(id) < Instrument::kMaxBacklog) {
      Outgoing o = std::move(c.outbox.front());
      c.outbox.pop_front();
      submit(id, std::move(o));
    }
    if (!c.left && c.ending && !c.told_end && c.outbox.empty()) {
      c.told_end = true;
      instrument.end_of_input(id);
    }
  }

  void submit(ClientId id, Outgoing o) {
    ClientState& c = clients.at(id);
    // Booked before: a line may finish inside submit().
    if (instrument.backlog(id) < Instrument::kMaxBacklog) {
      Taken t{.line = o.text, .overrun = o.overrun, .pass = stall.running() ? passes_started : 0};
      if (!o.overrun) t.reach = reach_of(o.text);
      took_line(id, t.reach, o.marker);
      c.taken.push_back(std::move(t));
    }
    if (o.overrun) {
      instrument.overrun(id);
    } else {
      instrument.submit(id, std::move(o.text));
    }
  }

  void took_line(ClientId id, const Reach& r, long marker) {
    output_asked = output_asked || r.output_on;
    modulation_asked = modulation_asked || r.modulation_on;
    pass_possible = pass_possible || r.pass;
    output_dirty = output_dirty || r.output;
    modulation_dirty = modulation_dirty || r.modulation;
    power_dirty = power_dirty || r.power;
    if (marker != 0) {
      markers_since_rest[id] = marker;
    } else if (r.step) {
      step_touched = true;
    }
  }

  // ---- The device --------------------------------------------------------

  // The device sends bytes. When they acknowledge the command on the wire,
  // the model takes it before the instrument hears of it: an R says the
  // device took it, whatever became of it on the way.
  void deliver(const std::string& bytes) {
    if (watchdog.running() && !port.fail_read &&
        (port.pending + bytes).find('R') != std::string::npos) {
      check(!port.written.empty(), "the watchdog runs with nothing written", trace);
      const std::string& w = port.written.back();
      acknowledged.took(w);
      truth.took(w);
      if (starts_with(w, "$F")) output_off_lost = false;
      if (starts_with(w, "$M")) modulation_off_lost = false;
    }
    port.read_failing = false;
    port.receive(bytes);
    port.read_failing = false;
  }

  // The command waiting gets what the device did with it.
  void device_turn() {
    if (!watchdog.running()) return;
    if (fate == Fate::answers || (fate == Fate::late && timed_out)) {
      deliver("R");
    } else {
      expire(watchdog);
    }
  }

  // The adapter pulled, or the network to it lost: an open port fails at
  // once, and every open fails until it is back.
  void unplug(bool network) {
    using Cause = talmir880::PortError::Cause;
    port.fail_read = port.fail_write = port.fail_open = true;
    port.lost_cause = network ? Cause::network : Cause::gone;
    port.open_cause = network ? Cause::network : Cause::missing;
    if (!network) pulled_at = port.opens;
    if (port.open) {
      deliver("");
      check(!port.open, "a port that failed reading was left open", trace);
    }
  }

  void back(std::string_view arg) {
    using Cause = talmir880::PortError::Cause;
    port.fail_read = port.fail_write = port.fail_open = false;
    port.lost_cause = Cause::gone;
    port.open_cause = Cause::busy;
    // A restart only while the instrument has not had the port since it was
    // pulled: it cannot have learnt anything of the device meanwhile.
    if (pulled_at == port.opens && !arg.empty()) {
      const auto x = static_cast<unsigned char>(arg[0]);
      truth.output = (x & 1) != 0;
      truth.modulation = (x & 2) != 0;
      sweeping.reset();
    }
    pulled_at.reset();
  }

  // Time is up for the countdown: at least its length has passed since it
  // started.
  void expire(HookedCountdown& c) {
    if (!c.running()) return;
    clock = std::max(clock, c.started + c.length);
    c.run_out();
  }

  void quiet_runs_out() {
    quieting = true;
    expire(quiet);
    quieting = false;
  }

  Micros line_time(std::size_t characters) const {
    return Micros{static_cast<std::int64_t>(characters) * 10'000'000 / baud};
  }

  // The characters of a pass came no sooner than the device could send them.
  void chars_read() {
    if (sweeping) clock = std::max(clock, sweeping->began + line_time(pass_read()));
  }

  void wrote(std::string_view w) {
    ++news;
    const auto what = [&] { return shown(w) + " after " + trace; };
    check_that(!sweeping || clock + Micros{kPassSlackUs} >= sweeping->ends,
               "a command was written while the device still swept a pass", [&] {
                 return shown(w) + " " + std::to_string((sweeping->ends - clock).count()) +
                        " us before the pass ended, after " + trace;
               });
    sweeping.reset();
    check_that(off_when_reached || pass_possible || any_line_in_flight() ||
                   (w == kRfOff && output_off_lost) || (w == kModulationOff && modulation_off_lost),
               "behind a panel, a command was written for no client's line", what);
    if (starts_with(w, "$F")) output_off_lost = false;
    if (starts_with(w, "$M")) modulation_off_lost = false;
    const Held& held = instrument.device().held();
    check_that(!(rf_on(w) && held.rf != Switched::on && !output_asked),
               "the RF was switched on, not known to be on, and no line since the last rest "
               "could say OUTP ON",
               what);
    check_that(!(modulation_on(w) && held.modulation != Switched::on && !modulation_asked),
               "the modulation was switched on, not known to be on, and no line since the last "
               "rest could say OUTP:MOD ON",
               what);
    check_that(!starts_with(w, "$W") || held.rf == Switched::on,
               "a pass was written while the RF was not known to be on", what);
    if (lose_next || manner == Manner::deaf) {
      fate = Fate::lost;
    } else {
      fate = manner == Manner::late     ? Fate::late
             : manner == Manner::silent ? Fate::silent
                                        : Fate::answers;
    }
    lose_next = false;
    timed_out = false;
    if (fate != Fate::lost) truth.took(w);
    output_off_written = output_off_written || w == kRfOff;
    modulation_off_written = modulation_off_written || w == kModulationOff;
    if (starts_with(w, "$W")) {
      ++passes_started;
      pass_points = sweep_points(w);
      pass_read_from = port.read_total;
      if (fate != Fate::lost) sweeping = Sweeping{clock, clock + line_time(4 * pass_points)};
    }
    if (verbose()) {
      say("  wrote " + shown(w) + " at " + std::to_string(clock.count()) + " us" +
          (fate == Fate::lost ? ", lost" : ""));
    }
  }

  std::size_t pass_read() const { return port.read_total - pass_read_from; }

  void pass_stopped() {
    ++passes_ended;
    check_that((quieting && pass_read() >= 4 * pass_points) || port.read_failing,
               "a sweep pass ended before its reports came and the line went quiet",
               [&] { return std::to_string(pass_read()) + " characters read after " + trace; });
  }

  void quiet_started() {
    check_that(stall.running() && pass_read() >= 4 * pass_points,
               "the quiet time began before every report of the pass came",
               [&] { return std::to_string(pass_read()) + " characters read after " + trace; });
  }

  void reachability_changed(DeviceFault fault) override { reachability(fault); }

  void reachability(DeviceFault fault) {
    const bool now = fault == DeviceFault::none;
    check(!reachable || *reachable != now, "the device's reachability told twice the same", trace);
    reachable = now;
  }

  // ---- Answers -----------------------------------------------------------

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
        check_that(a == "0" || a == "1", "OUTP? answered neither 0 nor 1", what);
        check_that(output_dirty || a == at_rest.output || may_move(a, output_off_written),
                   "OUTP? changed with no line that could change it", what);
        break;
      case Query::modulation:
        check_that(a == "0" || a == "1", "OUTP:MOD? answered neither 0 nor 1", what);
        check_that(
            modulation_dirty || a == at_rest.modulation || may_move(a, modulation_off_written),
            "OUTP:MOD? changed with no line that could change it", what);
        break;
      case Query::power:
        check_that(std::find(std::begin(kLevels), std::end(kLevels), a) != std::end(kLevels),
                   "POW? answered no level the device has", what);
        check_that(power_dirty || a == at_rest.power,
                   "POW? changed with no line that could change it", what);
        break;
      case Query::error:
        check_that(error_code(a) <= 0, "SYST:ERR? answered no error entry", what);
        break;
      case Query::version:
        check_that(a == "1999.0", "SYST:VERS? answered something else", what);
        break;
      case Query::opc:
        check_that(a == "1", "*OPC? answered something other than 1", what);
        check_that(passes_ended >= done.pass, "*OPC? answered before a pass it waits for ended",
                   what);
        break;
      case Query::tst:
        check_that(a == "0" || (a == "1" && port.failures > 0),
                   "*TST? answered neither 0 nor, after the port failed, 1", what);
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

  // ---- After every step --------------------------------------------------

  // A line of the observer's own; with nothing before it in its client it
  // runs at once, and it moves nothing else.
  std::string ask_privately(Peer& peer, std::string_view line) {
    private_answered = false;
    const int news_before = news;
    instrument.submit(peer.id, std::string(line));
    talmir880::testing::deliver();
    check(private_answered, "a line of queries waited with nothing before it in its client", trace);
    check(news == news_before, "asking a query let something else move", trace);
    return private_answer;
  }

  Observed observe(bool rest) {
    const std::string a = ask_privately(observer, rest ? kObserveAtRest : kObserve);
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
      const std::size_t cut = a.find(';', from);
      parts.push_back(a.substr(from, cut == std::string::npos ? cut : cut - from));
      if (cut == std::string::npos) break;
      from = cut + 1;
    }
    const auto what = [&] { return shown(a) + " after " + trace; };
    check_that(parts.size() == (rest ? 5u : 2u),
               "the observer's queries were not answered one each", what);
    Observed o;
    o.output = parts[0];
    o.modulation = parts[1];
    if (!rest) return check_switches(o, what);
    o.power = parts[2];
    o.step = parts[3];
    check_that(!parts[4].empty() && parts[4].size() <= 5 && all_digits(parts[4]),
               "STAT:QUES:COND? answered no number", what);
    o.condition = std::stoi(parts[4]);
    check_that(std::find(std::begin(kLevels), std::end(kLevels), o.power) != std::end(kLevels),
               "POW? answered no level the device has", what);
    check_that(!o.step.empty() && o.step.size() <= 10 && all_digits(o.step),
               "FREQ:STEP? answered no number", what);
    return check_switches(o, what);
  }

  template <class Detail>
  Observed check_switches(const Observed& o, const Detail& what) {
    check_that(o.output == "0" || o.output == "1", "OUTP? answered neither 0 nor 1", what);
    check_that(o.modulation == "0" || o.modulation == "1", "OUTP:MOD? answered neither 0 nor 1",
               what);
    return o;
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
    check(!(watchdog.running() && stall.running()), "a command waits for its R during a pass",
          trace);
    check(!quiet.running() || stall.running(), "the quiet time runs with no pass", trace);
    check(!port.open_failed || reopen.running(), "an open failed and no reopen pause runs", trace);
    // Commands fail while any of these hold.
    if (port.fail_write || port.fail_read || port.fail_open || reopen.running()) faulted();
    const bool rest = instrument.idle();
    check(!(rest && watchdog.running()), "idle while a command waits for its R", trace);
    for (const auto& [id, c] : clients) {
      if (c.left) continue;
      const std::size_t backlog = instrument.backlog(id);
      check(backlog <= Instrument::kMaxBacklog, "a client's backlog passed its cap", trace);
      check(backlog == c.taken.size(),
            "the backlog differs from the lines taken and not yet finished", trace);
    }

    const Observed now = observe(rest);
    const auto what = [&] {
      return "OUTP?, OUTP:MOD?, POW? answered " + at_rest.output + ";" + at_rest.modulation + ";" +
             at_rest.power + " at the last rest, now " + now.output + ";" + now.modulation +
             (rest ? ";" + now.power : "") + ", the device holds " + (truth.output ? "1;" : "0;") +
             (truth.modulation ? "1" : "0") + " after " + trace;
    };
    check_that(
        output_dirty || now.output == at_rest.output || may_move(now.output, output_off_written),
        "OUTP? changed with no line that could change it", what);
    check_that(modulation_dirty || now.modulation == at_rest.modulation ||
                   may_move(now.modulation, modulation_off_written),
               "OUTP:MOD? changed with no line that could change it", what);
    check_that(!rest || power_dirty || now.power == at_rest.power,
               "POW? changed with no line that could change it", what);
    // Never off while on. With no line that could change it queued, OUTP?
    // answers the record.
    check_that(!(now.output == "0" && truth.output && !output_in_flight()),
               "OUTP? answered 0 while the device holds the RF on", what);
    check_that(!(now.modulation == "0" && truth.modulation && !modulation_in_flight()),
               "OUTP:MOD? answered 0 while the device holds the modulation on", what);
    check_record();
    if (rest) came_to_rest(now);
  }

  // The record every face shows holds an output off only while the device
  // does, but for a switch-on the device took and has not acknowledged yet.
  void check_record() {
    const Held& held = instrument.device().held();
    const std::string on_wire =
        watchdog.running() && !port.written.empty() ? port.written.back() : std::string();
    const auto what = [&] { return "waiting for " + shown(on_wire) + " after " + trace; };
    check_that(!(held.rf == Switched::off && truth.output && !rf_on(on_wire)),
               "the record says the RF is off while the device holds it on", what);
    check_that(!(held.modulation == Switched::off && truth.modulation && !modulation_on(on_wire)),
               "the record says the modulation is off while the device holds it on", what);
  }

  // A change to OUTP? (OUTP:MOD?) may wait in the instrument's queue: a
  // line that could make it has not finished, or finished while a pass it
  // then waits behind could have been queued.
  bool line_in_flight(bool Reach::*touches) const {
    for (const auto& [id, c] : clients) {
      for (const Taken& t : c.taken) {
        if (t.reach.*touches) return true;
      }
    }
    return false;
  }
  // Any line may have what the device is owed written ahead of it.
  bool any_line_in_flight() const {
    return std::any_of(clients.begin(), clients.end(),
                       [](const auto& c) { return !c.second.taken.empty(); });
  }
  bool output_in_flight() const { return output_behind_pass || line_in_flight(&Reach::output); }
  bool modulation_in_flight() const {
    return modulation_behind_pass || line_in_flight(&Reach::modulation);
  }

  // Something failed: the device may now hold anything the instrument did
  // not hear it take.
  void faulted() { fault_since_rest = unconfirmed_allowed = true; }

  // Without a line that could change it, OUTP? (OUTP:MOD?) moves only as
  // the record may alone: to 1 after a fault, to 0 once a switch-off
  // written since was acknowledged.
  bool may_move(const std::string& answer, bool off_written) const {
    return answer == "1" ? fault_since_rest : off_written;
  }

  void came_to_rest(const Observed& now) {
    const bool unconfirmed = (now.condition & kNotConfirmed) != 0;
    const auto said = [](bool on) { return std::string(on ? "1" : "0"); };
    const auto what = [&] {
      const auto known = [&](const std::optional<bool>& a) { return a ? said(*a) : "?"; };
      return "answered " + now.output + ";" + now.modulation + ";" + now.power + ", condition " +
             std::to_string(now.condition) + ", the device acknowledged " +
             known(acknowledged.output) + ";" + known(acknowledged.modulation) + ";" +
             acknowledged.power + " and holds " + said(truth.output) + ";" +
             said(truth.modulation) + " after " + trace;
    };
    const auto agrees = [&](const std::string& answer, const std::optional<bool>& ack) {
      return (ack && answer == said(*ack)) || (answer == "1" && unconfirmed);
    };
    check_that(agrees(now.output, acknowledged.output) &&
                   agrees(now.modulation, acknowledged.modulation) &&
                   now.power == acknowledged.power,
               "at rest OUTP?, OUTP:MOD? and POW? answer neither what the device acknowledged "
               "nor, not confirmed, 1",
               what);
    check_that(unconfirmed ||
                   (now.output == said(truth.output) && now.modulation == said(truth.modulation)),
               "at rest, confirmed, OUTP? and OUTP:MOD? do not answer what the device holds", what);
    check_that(!unconfirmed || unconfirmed_allowed,
               "not confirmed with no fault since it was confirmed", what);
    if (!unconfirmed) unconfirmed_allowed = false;

    if (!step_touched) {
      bool found = markers_since_rest.empty() && now.step == at_rest.step;
      for (const auto& [id, n] : markers_since_rest) found = found || now.step == std::to_string(n);
      check_that(found, "a line was lost: FREQ:STEP? answers no client's last marker",
                 [&] { return "answered " + now.step + " after " + trace; });
    }

    for (auto& [id, c] : clients) {
      if (c.left) {
        c.taken.clear();  // they have all run
        continue;
      }
      check(c.taken.empty(), "at rest, a line of a client still there never finished", trace);
      check(c.outbox.empty(), "at rest, a paced client was never given room for its lines", trace);
      check(!c.ending, "at rest, a client that ended was never told it finished", trace);
    }
    output_dirty = modulation_dirty = power_dirty = step_touched = false;
    output_asked = modulation_asked = false;
    output_off_written = modulation_off_written = false;
    output_behind_pass = modulation_behind_pass = pass_possible = false;
    fault_since_rest = false;
    markers_since_rest.clear();
    at_rest = now;
  }

  // Gives every command what the device's manner gave it, reports every
  // pass the device took in full and lets every pause run out. A
  // continuous sweep would go on for ever: after two passes the observer's
  // client aborts it.
  void settle() {
    int passes = 0;
    for (int i = 0;; ++i) {
      check(i < kSettleLimit, "a willing device never brought the instrument to rest", trace);
      mark = port.written.size();
      if (watchdog.running()) {
        device_turn();
      } else if (stall.running()) {
        if (++passes > 2) {
          passes = 0;
          ask_privately(observer, "ABOR;:INIT:CONT?");
        }
        if (sweeping) {
          if (!quiet.running()) deliver(std::string(4 * pass_points, '.'));
          quiet_runs_out();
        } else {
          expire(stall);  // it took no pass: nothing comes
        }
      } else if (reopen.running()) {
        expire(reopen);
        port.open_failed = false;
      } else {
        break;
      }
      after_step();
    }
  }

  void drain() {
    const std::size_t written_before = port.written.size();
    const std::size_t limit = Status::kQueueSize + 1;
    for (std::size_t i = 0;; ++i) {
      check(i < limit, "SYST:ERR? did not drain to 0,\"No error\" within the queue's size", trace);
      const std::string a = ask_privately(observer, "SYST:ERR?");
      const int code = error_code(a);
      check_that(code <= 0, "SYST:ERR? answered no error entry",
                 [&] { return shown(a) + " after " + trace; });
      check_that(code == 0 || code == talmir880::kQueueOverflow ||
                     a == "-241,\"Hardware missing;device gone\"" ||
                     a == "-241,\"Hardware missing;network link lost\"",
                 "the observer holds an error of another client's command",
                 [&] { return shown(a) + " after " + trace; });
      if (code == 0) {
        check(a == "0,\"No error\"", "the empty queue is not told as 0,\"No error\"", a);
        break;
      }
    }
    Peer fresh(*this, Peer::Role::drain);
    fresh.id = attached(fresh);
    check(ask_privately(fresh, "SYST:ERR:COUN?") == "0", "a fresh client holds others' errors",
          trace);
    check(port.written.size() == written_before, "SYST:ERR? wrote to the device", trace);
    check(instrument.idle(), "the instrument is busy after SYST:ERR?", trace);
    instrument.detach(fresh.id);
  }

  std::string trace = "script ";
  const int baud;
  const bool off_when_reached;
  Micros clock{0};  // the least time that has passed
  HookedCountdown watchdog{clock, talmir880::kAcknowledgeTimeout};
  HookedCountdown stall{clock, talmir880::kSweepStallTimeout};
  HookedCountdown quiet{clock, talmir880::pass_quiet_time(baud)};
  HookedCountdown reopen{clock, talmir880::kReopenInterval};
  CheckedPort port{watchdog, stall, reopen, trace};
  Instrument instrument{port, {watchdog, stall, quiet, reopen}};
  Peer observer{*this, Peer::Role::observer};
  std::map<ClientId, ClientState> clients;
  std::array<std::optional<ClientId>, kSlots> slots;
  std::size_t current = 0;

  ClientId room_due = 0;
  int news = 0;          // answers, rooms, ends and writes so far
  std::size_t mark = 0;  // writes up to here are checked
  std::string private_answer;
  bool private_answered = false;

  Acknowledged acknowledged;
  // The instrument's own switch-off got no R in time: it may write it again.
  bool output_off_lost = false;
  bool modulation_off_lost = false;
  Observed at_rest;
  bool output_dirty = false;  // a line taken since the last rest could change OUTP?
  bool modulation_dirty = false;
  bool power_dirty = false;
  bool output_asked = false;  // a line taken since the last rest could say OUTP ON
  bool modulation_asked = false;
  bool output_off_written = false;  // the RF's switch-off was written since the last rest
  bool modulation_off_written = false;
  bool pass_possible = false;       // a line taken since the last rest could queue a pass
  bool output_behind_pass = false;  // a line that could change OUTP? finished since
  bool modulation_behind_pass = false;

  // The stand-in device.
  Truth truth;
  Manner manner = Manner::answers;
  bool lose_next = false;
  Fate fate = Fate::answers;  // of the last command written
  bool timed_out = false;     // the watchdog ran out since it was written
  std::optional<Sweeping> sweeping;
  std::optional<int> pulled_at;  // the port's opens when it was pulled

  long last_marker = 0;
  std::map<ClientId, long> markers_since_rest;  // each client's last
  bool step_touched = false;                    // a line other than a marker could set FREQ:STEP

  // Something failed since the last rest, or since bit 10 was last clear.
  bool fault_since_rest = false;
  bool unconfirmed_allowed = true;
  std::size_t passes_started = 0;
  std::size_t passes_ended = 0;
  std::size_t pass_points = 0;
  std::size_t pass_read_from = 0;
  bool quieting = false;
  std::optional<bool> reachable;
};

void Peer::answer(std::string text) {
  if (role_ == Role::client) {
    session_.on_answer(id, std::move(text));
  } else {
    session_.on_private_answer(std::move(text));
  }
}

void Peer::room() {
  if (role_ == Role::client) session_.on_room(id);
}

void Peer::finished() {
  if (role_ == Role::client) {
    session_.on_finished(id);
  } else {
    fail("finished() told to a client that never ended");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view script(reinterpret_cast<const char*>(data), size);
  unsigned char options = 0;
  if (!script.empty()) {
    options = static_cast<unsigned char>(script.front());
    script.remove_prefix(1);
  }
  Session session(options);
  session.start();
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
