#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/commands.hpp"
#include "protocol/settings.hpp"

namespace talmir880 {

// Who made the device do something: the front panel's hand, or a remote
// user (the automation server).
// Small, as the events that carry them are: each fits a posted call without
// a heap block.
enum class Face : std::uint8_t { panel, remote };

// How far an output (the RF, or the modulation) is known. The device cannot
// be asked: only its R to the last command for the output makes it known.
// Unsure means it may well be on.
enum class Switched { off, on, unsure };

inline bool may_be_on(Switched s) { return s != Switched::off; }

// What the device holds, as far as its acknowledgements tell. The
// frequencies are the last it was tuned to, kept while off or unsure.
struct Held {
  double rf_hz = protocol::kStartUp.rf_hz;
  Switched rf = Switched::unsure;
  double modulation_hz = protocol::kStartUp.modulation_hz;
  Switched modulation = Switched::unsure;
  protocol::PlainValues plain = protocol::kPlainStartUp;  // the level, ...
  std::optional<protocol::SaveMode> saved;                // the last save's mode

  double value(const protocol::Setting& s) const { return plain.at(protocol::plain_slot(s)); }
  void set(const protocol::Setting& s, double value) { plain.at(protocol::plain_slot(s)) = value; }
};

// Why the line owes an unsure output its switch-off, which goes ahead of
// anything else the remote user writes: nothing was acknowledged for it
// since the port first opened (`reached`), or since the device came back
// (`back`), or its switch-off went unanswered (`unanswered`, by `by`).
// A switch-on written since settles the debt: a lost one is never repeated.
struct Owed {
  enum class Why { nothing, reached, back, unanswered };
  Why why = Why::reached;
  Face by = Face::remote;
  explicit operator bool() const { return why != Why::nothing; }
};

// A sweep pass on the line: who wrote it, what it sweeps, how far it came.
// The one count of its reports, whoever reads it.
struct Pass {
  Face by = Face::panel;
  double start_hz = 0;
  double step_hz = 0;
  int points = 0;
  std::size_t seen = 0;  // characters of its reports
  std::size_t expected = 0;

  // Every report came (and maybe noise besides).
  bool complete() const { return seen >= expected; }
  // Characters of reports still to come.
  std::size_t left() const { return complete() ? 0 : expected - seen; }
  // Past its last report, at most a second pass's worth of noise puts its
  // end off.
  bool within_noise_bound() const { return seen <= 2 * expected; }
};

enum class PortState {
  closed,  // never opened, or closed by its owner
  open,
  absent,  // would not open
  gone,    // failed while open
};

// One fact of Held that changed.
enum class Fact : std::uint8_t { rf, modulation, level, saved };

class GeneratorObserver {
 public:
  virtual ~GeneratorObserver() = default;
  // The device acknowledged a command. `overtaken`: the hand has a command
  // of the same kind on its way or taken right after, which leaves the
  // device as the hand wants it.
  virtual void held_changed(Fact, Face, bool /*overtaken*/) {}
  // The output or the modulation, known until now, may be on or off: a
  // command for it went unanswered, or the port opened or failed.
  virtual void became_unsure(Fact) {}
  virtual void pass_began(const Pass&) {}
  virtual void pass_progressed(const Pass&) {}
  virtual void pass_ended(Face) {}
  virtual void port_changed(PortState) {}
};

// The generator as its line shows it: the one record of what the device
// holds, how sure that is, the pass that runs and the port. Only the line
// writes it, from the commands written and whether the device acknowledged
// them, the passes written and their reports, and the port's events; the
// faces read it and hear every change.
class GeneratorState {
 public:
  GeneratorState() = default;
  ~GeneratorState();
  GeneratorState(const GeneratorState&) = delete;
  GeneratorState& operator=(const GeneratorState&) = delete;

  const Held& held() const { return held_; }
  // The switch-off owed to each output.
  const Owed& owed(Fact output) const { return output == Fact::rf ? rf_owed_ : modulation_owed_; }
  const std::optional<Pass>& pass() const { return pass_; }
  PortState port() const { return port_; }

  void observe(GeneratorObserver& observer) { observers_.push_back(&observer); }
  void forget(GeneratorObserver& observer) { std::erase(observers_, &observer); }

  // A command went to the device, written by that face.
  void written(std::string_view command, Face by);
  // The device acknowledged it.
  void acknowledged(std::string_view command, Face by, bool overtaken = false);
  // Its R did not come.
  void unanswered(std::string_view command, Face by);
  void pass_began(std::string_view command, Face by);
  void pass_reported(std::size_t characters);
  void pass_ended();
  void port_opened();
  void port_closed();
  void port_failed(bool while_open);

 private:
  // Every observer hears it once the call that changed the state returns.
  template <typename Call>
  void tell(Call call);
  void set_port(PortState now);
  void make_unsure(Fact output, Owed owed);
  Switched& switched(Fact output) { return output == Fact::rf ? held_.rf : held_.modulation; }
  Owed& debt(Fact output) { return output == Fact::rf ? rf_owed_ : modulation_owed_; }

  Held held_;
  Owed rf_owed_;
  Owed modulation_owed_;
  std::optional<Pass> pass_;
  PortState port_ = PortState::closed;
  bool reached_ = false;  // the port has been open
  std::vector<GeneratorObserver*> observers_;
  // The reports the observers have yet to hear of, told as one.
  std::optional<Pass> progress_;
};

}  // namespace talmir880
