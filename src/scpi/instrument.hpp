#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "device/deferred.hpp"
#include "device/device_session.hpp"
#include "generator/generator.hpp"
#include "generator/status.hpp"
#include "link/countdown.hpp"
#include "link/serial_port.hpp"
#include "scpi/command_table.hpp"
#include "scpi/identity.hpp"

namespace talmir880::scpi {

// Where the instrument sends what concerns one client, once the call that
// caused it has returned; a transport may call the instrument from them,
// but must not destroy the object there.
class ClientEvents {
 public:
  virtual ~ClientEvents() = default;
  // One answer line without its LF: a line's answers joined by ';'.
  virtual void answer(std::string text) = 0;
  // A line of the client has finished: it may have room for more.
  virtual void room() {}
  // After end_of_input(): every line has run and been answered.
  virtual void finished() {}
};

// What the instrument tells its owner, once the call that caused it has
// returned, as ClientEvents are; each does nothing unless overridden.
class InstrumentEvents {
 public:
  virtual ~InstrumentEvents() = default;
  // The device could be reached and now cannot (with why), or the other
  // way round (DeviceFault::none).
  virtual void reachability_changed(DeviceFault) {}
  // It switches off on its own, for the log.
  virtual void switching_off(OffBecause) {}
  // For a front panel that shows what the instrument does: the settings
  // may have changed; a sweep pass began (its points, whether passes
  // repeat), came on, and the sweep ended; SYSTem:RWLock began or ended.
  virtual void settings_changed(Generator::Changer) {}
  virtual void pass_started(int /*points*/, bool /*repeating*/) {}
  virtual void sweep_ended() {}
  virtual void lockout_changed(bool /*locked*/) {}
  // Each command written to the device, while log_commands(true): the
  // client's name ("server" for the instrument's own) and the line that
  // caused it as cited_line() cites it (scpi/command_log.hpp).
  virtual void command_written(std::string_view /*who*/, std::string_view /*command*/,
                               std::string_view /*line*/) {}
};

// The TALMIR-880 as one SCPI instrument shared by every client, with no
// clock, socket or thread of its own.
//
// Every complete line a client sent runs, in its client's order, whether or
// not the client is still there. A line waits for nothing but its own
// client's earlier lines and what it asks to wait for: a device command
// holds its line until the device answered it, unless a sweep pass runs or
// waits, when it is queued behind the pass and the line goes on at once;
// *OPC? and *WAI wait for everything queued before them. Device commands of
// all clients go to the device one at a time, in the order they were
// accepted (Generator).
//
// A command error (-1xx) drops the rest of its line; any other error only
// its own command. Each client has its own error queue and status
// registers (StatusBoard): a command's errors, also those the device gives
// it in its turn, go to the client that sent it.
//
// The owner sets CommPort and Settings on the port, runs the countdowns of
// DeviceSession::Countdowns and calls the matching *_ran_out() when one runs
// out; the port's events come here by themselves.
//
// Its member functions by job: the clients (instrument.cpp), a line run
// unit by unit (instrument_lines.cpp), turns (instrument_turns.cpp), the
// safe state (instrument_safety.cpp), events passed on
// (instrument_events.cpp).
class Instrument : private GeneratorEvents {
 public:
  // All transports counted together.
  static constexpr std::size_t kMaxClients = 16;
  // Lines a client may have waiting or running. Past it submit() refuses
  // (-363): the transport stops reading a client at its cap and reads on at
  // room().
  static constexpr std::size_t kMaxBacklog = 16;

  Instrument(SerialPort& port, DeviceSession::Countdowns countdowns);
  // The instrument behind a front panel, on the line it shares with it.
  Instrument(SharedLine& line, DeviceSession::Countdowns countdowns);
  ~Instrument();
  Instrument(const Instrument&) = delete;
  Instrument& operator=(const Instrument&) = delete;

  // A new client, named for the log by `who` (its address and port);
  // nothing when kMaxClients that may still send are attached (one whose
  // input has ended holds no place), or when clients that have gone or
  // ended still leave too many lines to run.
  std::optional<ClientId> attach(ClientEvents& events, std::string who = {});
  // One complete input line, without its LF (and the CR before it).
  void submit(ClientId client, std::string line);
  // The client sent a line too long to keep; the transport dropped it. In
  // its turn it queues -363.
  void overrun(ClientId client);
  // The client has finished sending: its lines run and are answered, then
  // its finished() is called.
  void end_of_input(ClientId client);
  // The client has gone: its lines still run, their answers are dropped,
  // and its place is free for another client at once.
  void detach(ClientId client);
  std::size_t backlog(ClientId client) const;
  // Device clear: the client's lines not yet begun are dropped, and its *CLS.
  void clear(ClientId client);
  // The client goes on as a fresh one (answers of the lines it has running
  // are dropped) with the same status enables; nothing, and the client as
  // it was, when every place is taken.
  std::optional<ClientId> renew(ClientId client, ClientEvents& events);
  // As ABORt from the front panel: passes stop repeating; the running one
  // ends on its own.
  void abort() { generator_.abort(); }

  // Once no line is left to run, so that none can switch the output on
  // again after it, passes stop repeating and RF and modulation go off,
  // whatever the settings say, since the device may hold what nobody here
  // knows of; `then` runs once the device answered both, or did not.
  void switch_off(std::function<void()> then = {});
  // What the instrument does on its own for a bench left alone: the same
  // switch-off when its last client has gone and some client sent a line
  // since the last switch-off (`when_unused`), or when no
  // line has come for as long as `idle` runs (restarted by every line; the
  // owner calls idle_ran_out()) while the output, the modulation or a pass
  // is on.
  struct Safety {
    bool when_unused = false;
    Countdown* idle = nullptr;
  };
  void keep_safe(Safety safety) { safety_ = safety; }
  void idle_ran_out();
  // Whether the observers hear of each command written to the device.
  void log_commands(bool on) { generator_.tell_written(on); }

  // One more observer of what the instrument does (the journal, a panel, a
  // web page); each must outlive the instrument or be forgotten first.
  void observe(InstrumentEvents& events) { observers_.push_back(&events); }
  void forget(InstrumentEvents& events) { std::erase(observers_, &events); }

  // The client's IEEE 488.2 status byte without MAV, which only the
  // transport knows.
  int status_byte(ClientId client);
  // Nothing waiting or running, nothing queued for the device.
  bool idle() const;
  // Whether any error was queued for the client, read since or not.
  bool error_seen(ClientId client);
  // The client's errors it has not read, oldest first, taken out of its
  // queue; without `events`, the device's events among them are dropped.
  std::vector<std::string> take_errors(ClientId client, bool events = true);

  // Tries the port of a device that went, as a command would, but with no
  // error for anyone: reachability_changed tells when it is back.
  void probe() { generator_.probe(); }
  // Whether the switch-off owed when the port is first reached, or when the
  // device comes back, goes by itself; otherwise it waits for a client's
  // first device command (as behind a panel, which writes nothing unasked).
  void switch_off_when_reached(bool on) { generator_.switch_off_when_reached(on); }
  // The line's rate, for the time a pass the link lost goes on in the device.
  void set_baud(int baud) { generator_.set_baud(baud); }

  // Work takes turns: a call runs at most kUnitsPerTurn program units, and
  // each client at most kUnitsPerPass of them before the next client's
  // turn, so that a line of 10 000 queries, or many clients' lines freed by
  // one acknowledgement, hold no transport (and no fresh client) for long.
  // Past a turn the instrument starts `next_turn` (a zero countdown the
  // owner runs on its event loop) and goes on at next_turn_ran_out().
  // Without it every call runs until nothing can move.
  static constexpr std::size_t kUnitsPerTurn = 1024;
  static constexpr std::size_t kUnitsPerPass = 64;
  void take_turns(Countdown& next_turn) { next_turn_ = &next_turn; }
  void next_turn_ran_out() { pump(); }

  void watchdog_ran_out() { ran_out(&Generator::watchdog_ran_out); }
  void stall_ran_out() { ran_out(&Generator::stall_ran_out); }
  void quiet_ran_out() { ran_out(&Generator::quiet_ran_out); }
  void reopen_ran_out() { ran_out(&Generator::reopen_ran_out); }

  // The generator's name in *IDN?'s serial field ("0" until named).
  void name(std::string serial) { generator_.name(std::move(serial)); }
  Identity identity() const { return scpi::identity(generator_.serial()); }

  // The settings the queries answer.
  const Settings& settings() const { return generator_.settings(); }
  // The line's record of the device, for faces that show it as it changes.
  const GeneratorState& device() { return generator_.line().state(); }
  void observe_device(GeneratorObserver& observer) { generator_.line().observe(observer); }
  void forget_device(GeneratorObserver& observer) { generator_.line().forget(observer); }

 private:
  struct Line {
    std::string text;
    bool overrun = false;
  };
  struct Running {
    std::string line;
    std::string cited;                    // for the command log, while it is kept
    std::vector<std::string_view> units;  // into line
    std::size_t next = 0;
    HeaderPath path;
    std::string answers;
    Generator::Ticket wait = 0;
  };
  struct Client {
    ClientEvents* events;  // none once detached
    std::string who;
    std::deque<Line> lines;
    // Never moved: its units point into its line.
    std::unique_ptr<Running> running;
    bool ended = false;
    bool told_finished = false;
  };

  Client* find(ClientId client);
  void pump();
  bool turn_over() const;
  // Runs what the client can run now; true when something happened.
  bool step(ClientId id, Client& client);
  void start_line(ClientId id, Client& client);
  void run_unit(ClientId client, Running& running);
  void finish_line(ClientId id, Client& client);
  // A countdown of the generator's ran out.
  void ran_out(void (Generator::*countdown)()) { (generator_.*countdown)(); }
  std::size_t attached() const;
  bool lines_done() const;
  void switch_off_if_due();

  // The generator's events, passed on as they come to whoever observes by
  // then.
  void written(std::string_view command, const Origin& origin) override;
  void changed() override { pump(); }
  void settings_changed(Changer by) override;
  void pass_started(int points, bool repeating) override;
  void pass_finished() override;
  void lockout_changed(bool locked) override;
  void reachability_changed(DeviceFault fault) override;
  void paying_off(OffBecause why) override;

  StatusBoard statuses_;
  // The line of a port nobody else uses.
  std::unique_ptr<SharedLine> own_line_;
  Generator generator_;
  std::map<ClientId, Client> clients_;
  ClientId next_id_ = 1;
  Countdown* next_turn_ = nullptr;
  std::size_t turn_units_ = 0;  // run in this call of pump()
  std::size_t pass_units_ = 0;  // run for the client stepped now

  // A switch-off asked for, waiting for the lines received before it.
  enum class Off { none, asked, unused, idle };
  Safety safety_;
  Off off_ = Off::none;
  // A client that only connected and left (or was closed for sending HTTP)
  // changed nothing, so leaving calls for no switch-off.
  bool lines_since_off_ = false;
  std::function<void()> off_then_;
  std::vector<InstrumentEvents*> observers_;
  // Each observer in turn, once the call that caused it returns.
  template <typename Call>
  void tell(Call call) {
    Deferred::here().tell_each(this, observers_, call);
  }
  // Whom to tell what concerns the client, if it is still there to hear.
  ClientEvents* events_of(ClientId id) {
    const Client* c = find(id);
    return c != nullptr ? c->events : nullptr;
  }
};

}  // namespace talmir880::scpi
