#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/commands.hpp"

namespace talmir880 {

// Who made the device do something: the front panel's hand, or a remote
// user (the automation server).
enum class Face { panel, remote };

// What the device holds, as far as its acknowledgements tell. The device
// cannot be asked, so the output and the modulation count as off until an
// acknowledged command switches them on, and again after the device was
// gone; the frequencies are the last it was tuned to, kept while off.
struct Held {
  double rf_hz = protocol::kStartUp.rf_hz;
  bool rf_on = false;
  double modulation_hz = protocol::kStartUp.modulation_hz;
  bool modulation_on = false;
  int level_dbm = protocol::kStartUp.level_dbm;
  std::optional<protocol::SaveMode> saved;  // the last save's mode
};

// A sweep pass on the line: who wrote it, what it sweeps, how far it came.
struct Pass {
  Face by = Face::panel;
  double start_hz = 0;
  double step_hz = 0;
  int points = 0;
  std::size_t seen = 0;  // characters of its reports
  std::size_t expected = 0;
};

enum class PortState {
  closed,  // never opened, or closed by its owner
  open,
  absent,  // would not open
  gone,    // failed while open
};

// One fact of Held that changed.
enum class Fact { rf, modulation, level, saved };

class GeneratorObserver {
 public:
  virtual ~GeneratorObserver() = default;
  // `overtaken`: the hand has a command of the same kind on its way or
  // taken right after, which leaves the device as the hand wants it.
  virtual void held_changed(Fact, Face, bool /*overtaken*/) {}
  virtual void pass_began(const Pass&) {}
  virtual void pass_progressed(const Pass&) {}
  virtual void pass_ended(Face) {}
  // `came_back`: the device was away and has output and modulation off again.
  virtual void port_changed(PortState, bool /*came_back*/) {}
};

// The generator as its line shows it: the one record of what the device
// holds, the pass that runs and the port. Only the line writes it, from the
// commands the device acknowledged, the passes written and their reports,
// and the port's events; the faces read it and hear every change.
class GeneratorState {
 public:
  const Held& held() const { return held_; }
  const std::optional<Pass>& pass() const { return pass_; }
  PortState port() const { return port_; }

  void observe(GeneratorObserver& observer) { observers_.push_back(&observer); }
  void forget(GeneratorObserver& observer) { std::erase(observers_, &observer); }

  // The device acknowledged the command, written by that face.
  void acknowledged(std::string_view command, Face by, bool overtaken = false);
  void pass_began(std::string_view command, Face by);
  void pass_reported(std::size_t characters);
  void pass_ended();
  void port_opened();
  void port_closed();
  void port_failed(bool while_open);

 private:
  void set_port(PortState now);

  Held held_;
  std::optional<Pass> pass_;
  PortState port_ = PortState::closed;
  std::vector<GeneratorObserver*> observers_;
};

}  // namespace talmir880
