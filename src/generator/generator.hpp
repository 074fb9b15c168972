#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "device/deferred.hpp"
#include "device/device_session.hpp"
#include "device/generator_state.hpp"
#include "device/shared_line.hpp"
#include "generator/lockout.hpp"
#include "generator/settings_record.hpp"
#include "generator/status.hpp"
#include "link/serial_port.hpp"
#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {

// Why the instrument switches the output and the modulation off on its
// own: asked by its owner (the server stops), its last client has gone, no
// command came for too long, or a switch-off the line owed the device: the
// server took the generator over, the device came back, the RF's or the
// modulation's switch-off went unanswered.
enum class OffBecause {
  asked,
  unused,
  unattended,
  reached,
  back,
  rf_unanswered,
  modulation_unanswered
};
// The reason in a few words, for the command log.
std::string_view off_reason(OffBecause why);
// What is switched off and why, for the journal: "RF and modulation off: ...".
std::string off_said(OffBecause why);
OffBecause off_because(const Owed& owed, Fact output);

// What the instrument takes, as the settings' description has it.
inline constexpr double kMinFrequencyHz = protocol::kSweepStart.min;
inline constexpr double kMinCwFrequencyHz = protocol::kRfFrequency.min;
inline constexpr double kMaxFrequencyHz = protocol::kRfFrequency.max;
inline constexpr double kMinStepHz = protocol::kTuningStep.min;
inline constexpr double kMaxStepHz = protocol::kTuningStep.max;

// The "$W" command of a SCPI sweep: `points` points from start to stop,
// both included. Throws Refused{-221} when the step is 0 or wider than its
// field once rounded, or stop is not above start.
std::string sweep_command(const Settings& s);

// Where a command comes from, for the log of the device's commands: the
// client and its line.
struct Origin {
  std::string who;
  std::string line;
};

// What the generator tells its owner (the instrument), once the call that
// caused it has returned; each does nothing unless overridden.
class GeneratorEvents {
 public:
  virtual ~GeneratorEvents() = default;
  // A command of ours has gone to the device, and where it came from; only
  // once asked for (Generator::tell_written).
  virtual void written(std::string_view /*command*/, const Origin&) {}
  // Something queued has been done.
  virtual void changed() {}
  // The settings the queries answer may have changed: by what the panel's
  // hand sent, or by anything else.
  enum class Changer { panel, other };
  virtual void settings_changed(Changer) {}
  // A pass of ours began (its points, whether passes repeat); the passes
  // have ended.
  virtual void pass_started(int /*points*/, bool /*repeating*/) {}
  virtual void pass_finished() {}
  // SYSTem:RWLock began or ended.
  virtual void lockout_changed(bool) {}
  // The device could be reached and now cannot, or the other way round.
  virtual void reachability_changed(DeviceFault) {}
  // A switch-off the line owed goes to the device, and why (each reason
  // once until one is acknowledged).
  virtual void paying_off(OffBecause) {}
};

// The generator as the device and the settings say, shared by every client.
//
// Everything that touches the device or the settings goes through one
// queue, in the order it was accepted, one device exchange at a time: a
// device command (sent, then acknowledged or not), a change kept without
// telling the device, and a sweep pass. A change applies at once to the
// programmed settings and, in its turn and once the device acknowledged
// it, to the acknowledged ones (SettingsRecord). A command the device did
// not take returns the programmed values to the acknowledged ones with
// what is still queued applied again, and queues its error; what it leaves
// the device holding is the line's record to say (an output may then be
// on or off, and counts as on).
//
// A switch-off the line owes the device goes ahead of the next device
// command, and by itself when the session may write it alone.
//
// Each entry knows the client it came from: a command the device did not
// take, or a pass that could not run or ended in a fault, reports to that
// client alone; a port lost while nothing was on the line, to every client.
//
// A device command is made in its turn, from the acknowledged settings: a
// frequency queued while the output counted as on is not sent when the
// command that switched it on was refused meanwhile.
//
// Its member functions by job: the queue and its tickets (generator.cpp),
// sweep passes (generator_passes.cpp), switch-offs (generator_switch_off.cpp),
// the line's record mirrored in the settings (generator_panel.cpp), status
// bits and faults reported (generator_status.cpp).
class Generator : private GeneratorObserver, private SessionEvents, private LineEvents {
 public:
  using Change = SettingsRecord::Change;
  // The command to send, from the settings the device holds when its turn
  // comes (an output counts as on only while known to be); nothing to
  // send: empty.
  using Make = std::function<std::string(const Settings&)>;
  using Ticket = std::uint64_t;

  // The remote side of the line. Where a front panel shares it, commands
  // wait while the line is the panel's, and what the device took from the
  // panel shows in the settings.
  Generator(SharedLine& line, DeviceSession::Countdowns countdowns, StatusBoard& statuses,
            GeneratorEvents& events);
  ~Generator() override;
  Generator(const Generator&) = delete;
  Generator& operator=(const Generator&) = delete;

  const Settings& settings() const { return record_.programmed(); }
  // What the device holds, the pass and the port, as the line keeps them.
  SharedLine& line() { return line_; }
  StatusBoard& statuses() { return statuses_; }
  // What *IDN? gives as the serial number: the generator's name.
  const std::string& serial() const { return serial_; }
  void name(std::string serial) { serial_ = std::move(serial); }

  // Queues a device command of the client and the change it makes.
  Ticket send(ClientId client, Make make, Change change);
  // Queues a change the device is not told of.
  void keep(ClientId client, Change change);
  // Queues RF off, then modulation off, for the client; the ticket of the
  // second.
  Ticket queue_switch_off(ClientId client);
  // Throws Refused{-221, "output off"} unless the output counts as on: a
  // pass is RF on.
  void refuse_pass_while_off() const;
  // Queues a sweep pass, or starts repeating them. Throws Refused.
  void initiate(ClientId client);
  // Ends the repetition; a pass not begun yet does not run.
  void abort(ClientId client = kNoClient);
  // Starts repeating passes when the settings ask for it; the passes are
  // the client's until the repetition ends.
  void repeat_if_continuous(ClientId client);
  // A pass runs or waits in the queue: device commands queued now wait
  // for it, and their lines need not.
  bool pass_queued() const;
  bool pass_running() const { return session_.pass_running(); }
  // A pass of ours or of the panel's runs or waits: device commands queued
  // now are sent after it, and their lines need not wait.
  bool pass_ahead() const { return pass_queued() || panel_passing(); }

  // The newest thing queued, or begun by the panel; 0 when nothing ever was.
  Ticket last() const { return next_ticket_ - 1; }
  // Everything up to the ticket is done.
  bool done(Ticket ticket) const {
    return (queue_.empty() || queue_.front().ticket > ticket) &&
           (!panel_passing() || panel_pass_ticket_ > ticket);
  }
  // Runs `then` once everything up to the ticket is done (*OPC): at once if
  // it is, or after the call that finished it has returned.
  void when_done(Ticket ticket, std::function<void()> then);

  // Opens the port if need be (*TST?); queues why it cannot be for the client.
  bool reachable(ClientId client);
  // Opens the port if it is closed and can be, for nobody's command: its
  // observers hear the device back, or nothing new.
  void probe() { session_.reach(); }
  // Nothing queued and nothing on the line.
  bool idle() const { return queue_.empty() && session_.idle() && !panel_passing(); }

  // SYSTem:RWLock from a client (Lockout).
  void lock(ClientId client) { lockout_.lock(client); }
  void unlock() { lockout_.unlock(); }
  void client_left(ClientId client) { lockout_.client_left(client); }
  bool locked() const { return lockout_.locked(); }

  void watchdog_ran_out() { session_.watchdog_ran_out(); }
  void stall_ran_out() { session_.stall_ran_out(); }
  void quiet_ran_out() { session_.quiet_ran_out(); }
  void reopen_ran_out() { session_.reopen_ran_out(); }

  // Whether a switch-off owed because the port was reached, or the device
  // came back, is written by itself, before any client asks for anything.
  void switch_off_when_reached(bool on);
  void set_baud(int baud) { session_.set_baud(baud); }
  // Whether the events hear of each command written, for a log: a copy of
  // its origin a command that nobody logs need not pay for.
  void tell_written(bool on) { tell_written_ = on; }
  bool telling_written() const { return tell_written_; }

  using Changer = GeneratorEvents::Changer;
  // While one lives, what is queued comes from its origin; the one outside
  // it comes back.
  class Citing {
   public:
    Citing(Generator& generator, Origin origin)
        : generator_(generator), outside_(std::exchange(generator.origin_, std::move(origin))) {}
    ~Citing() { generator_.origin_ = std::move(outside_); }
    Citing(const Citing&) = delete;
    Citing& operator=(const Citing&) = delete;

   private:
    Generator& generator_;
    Origin outside_;
  };

 private:
  struct Entry {
    enum class Kind { command, keep, pass };
    Ticket ticket;
    ClientId client;
    Kind kind;
    Make make;
    Change change;
    std::string sent;
    bool cancelled = false;
    Origin origin;
    // The switch-offs owed that went ahead of it.
    OffsTried offs_ahead;
  };

  Origin origin_;

  Ticket enqueue(ClientId client, Entry::Kind kind, Make make, Change change);
  // Works through the queue while the line is free.
  void advance();
  bool start_front();
  void command_ended(DeviceFault fault);
  void our_pass_ended(DeviceFault fault);
  void complete_front();
  void stop_repeating();
  // A fault met by the client's entry, and one no entry met (the port lost
  // while nothing was on the line), which concerns everybody.
  void report(ClientId client, DeviceFault fault);
  void report_to_all(DeviceFault fault);
  // The events hear it once the call that caused it returns.
  template <typename Call>
  void tell(Call call) {
    Deferred::here().tell(this, events_, call);
  }
  void told_written(std::string_view command, const Origin& origin);
  void told_settings(Changer by = Changer::other);
  void reprogram(Changer by = Changer::other);
  // Writes the switch-off the line owes, if one may go now: by itself, or
  // ahead of the device command `ahead_of`. True when it went.
  bool pay_off(Entry* ahead_of);
  // The questionable bit of an output the device may hold on or off.
  void note_certainty();
  void run_waiters();
  bool panel_passing() const;

  void held_changed(Fact fact, Face by, bool overtaken) override;
  void became_unsure(Fact fact) override;
  void pass_began(const Pass& pass) override;
  void pass_ended(Face by) override;
  void port_changed(PortState port) override;

  void line_freed() override { advance(); }

  void pass_ended(DeviceFault fault) override { our_pass_ended(fault); }
  void late_acknowledged() override;
  void settled() override;
  void port_lost(DeviceFault fault) override { report_to_all(fault); }
  void reachability_changed(DeviceFault fault) override {
    tell([fault](GeneratorEvents& e) { e.reachability_changed(fault); });
  }

  SharedLine& line_;
  StatusBoard& statuses_;
  GeneratorEvents& events_;
  std::string serial_ = "0";
  DeviceSession session_;
  SettingsRecord record_;
  std::deque<Entry> queue_;
  Ticket next_ticket_ = 1;
  // Where the panel's pass stands among ours: *OPC? waits for it too.
  Ticket panel_pass_ticket_ = 0;
  Lockout lockout_{
      [this](bool locked) { tell([locked](GeneratorEvents& e) { e.lockout_changed(locked); }); }};
  std::vector<std::pair<Ticket, std::function<void()>>> waiting_;
  bool tell_written_ = false;
  // What the command that timed out changes, should its late R come.
  Change late_change_;
  // The switch-offs written by themselves in the current round.
  OffsTried tried_alone_;
  // The reason of the last switch-off told, until one is acknowledged.
  std::optional<OffBecause> told_off_;
};

}  // namespace talmir880
