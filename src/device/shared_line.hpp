#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "device/generator_state.hpp"
#include "link/serial_port.hpp"

namespace talmir880 {

// What the line tells those who use it (once the call that caused it has
// returned), and the one thing it asks them; each does nothing (or says no)
// unless overridden.
class LineEvents {
 public:
  virtual ~LineEvents() = default;
  // Whether the panel's sweep runs (its own state).
  virtual bool panel_sweeping() const { return false; }
  // The line has become free for the remote user.
  virtual void line_freed() {}
  // The panel has written these bytes, for a log of what the hand sent.
  virtual void panel_wrote(std::string_view) {}
};

// What one event of the port brought one user of the line: the characters
// that are its own, and whether they hold an R (its command's, or a stray
// one in what no command waited for). The line reads the device's answer
// once; its users take this result.
struct LineReply {
  std::string text;
  bool acknowledges = false;
};

// A user of the line hears its side through this, on the port's own event
// (the port's event is the outside world's, not a call from above).
class LineUser {
 public:
  // Characters came for this user, or the port raised an event without
  // any (told to the port's owner).
  virtual void replied(const LineReply& reply) = 0;
  // The port failed while reading; told to both users once.
  virtual void read_failed(const PortError& fault) = 0;

 protected:
  ~LineUser() = default;
};

// One serial port and two users of it: the front panel, whose actions are
// never refused or delayed, and a remote user (the automation server) that
// writes only while the line is free. Each user gets a SerialPort of its own.
//
// The device's R carries no tag, so exchanges are matched to replies in the
// order they were written: what comes up to and including an R belongs to
// the oldest command still waiting for one, and that R counts for it alone.
// What comes while no command waits (a sweep's reports) belongs to the user
// who wrote last, or whose sweep it is.
//
// The panel owns the port: it opens and closes it and sets its number and
// speed. The remote user cannot open it (PortError, Cause::closed) and its
// closing does nothing. Without a panel (Owner::remote) the remote user
// opens and closes it; number and speed are set on the port beforehand.
//
// The line is where every byte passes, so it keeps the generator's state:
// what the device acknowledged, the pass that runs, the port.
class SharedLine : private PortEvents {
 public:
  enum class Owner { panel, remote };
  explicit SharedLine(SerialPort& port, Owner owner = Owner::panel);
  ~SharedLine();
  SharedLine(const SharedLine&) = delete;
  SharedLine& operator=(const SharedLine&) = delete;

  SerialPort& panel() { return panel_; }
  SerialPort& remote() { return remote_; }
  // Who hears the user's side from now on; nullptr: nobody.
  void hear(Face user, LineUser* hearer) { side(user).hearer = hearer; }

  // The panel's events, nested when a handler shows a box, which runs the
  // event loop: no remote command is written in between.
  void panel_event_began() { ++panel_depth_; }
  void panel_event_ended();
  // The panel's watchdog ran out: its commands no longer wait for an R.
  void panel_gave_up();

  // No panel command waits for an R, no panel sweep runs and no panel
  // handler is running. (A closed port is the remote user's to find out.)
  bool free_for_remote() const;
  // The remote user's command went unanswered; its R may still come late.
  void remote_unanswered();
  // The remote user's command no longer waits for an R.
  void remote_exchange_ended();
  // The remote user's pass has ended (it counts its own reports).
  void remote_pass_ended();

  const GeneratorState& state() const { return state_; }
  void observe(GeneratorObserver& observer) { state_.observe(observer); }
  void forget(GeneratorObserver& observer) { state_.forget(observer); }

  // Its users' events; each must outlive the line or be removed first.
  void add_listener(LineEvents& events) { listeners_.push_back(&events); }
  void remove_listener(LineEvents& events) { std::erase(listeners_, &events); }

 private:
  class Side final : public SerialPort {
   public:
    Side(SharedLine& line, Face user) : line_(line), user_(user) {}
    void set_CommPort(int number) override;
    void set_Settings(const std::string& settings) override;
    bool PortOpen() const override { return line_.port_.PortOpen(); }
    void set_PortOpen(bool open) override;
    void Output(std::string_view data) override { line_.write(user_, data); }
    // What comes is told to the hearer as it comes, never left waiting here.
    std::string Input() override { return {}; }

    LineUser* hearer = nullptr;

   private:
    SharedLine& line_;
    Face user_;
  };
  struct Waiting {
    Face user;
    std::string command;
  };

  // Every listener hears it once the call that caused it returns.
  template <typename Call>
  void tell(Call call);
  Side& side(Face user) { return user == Face::panel ? panel_ : remote_; }
  // The user who opens the port, and gets what nobody else is owed.
  Face owning() const { return owner_ == Owner::panel ? Face::panel : Face::remote; }
  bool may_open(Face user) const { return user == owning(); }
  bool panel_passing() const;
  bool panel_sweeping() const;
  void write(Face user, std::string_view data);
  void OnComm() override { port_event(); }
  void port_event();
  void forget_exchanges();
  bool panel_waits() const;
  bool superseded(std::string_view command, std::span<const Waiting> taken_after) const;

  SerialPort& port_;
  Owner owner_;
  GeneratorState state_;
  Side panel_{*this, Face::panel};
  Side remote_{*this, Face::remote};
  std::deque<Waiting> waiting_;
  // Who gets what comes while no command waits.
  Face stream_ = owning();
  int panel_depth_ = 0;
  std::vector<LineEvents*> listeners_;
};

}  // namespace talmir880
