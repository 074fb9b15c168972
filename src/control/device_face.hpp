#pragma once

// The generator as a control system's device sees it, between the core's
// thread and the control system's own: reads answer from the snapshot the
// core's thread keeps; writes and commands are SCPI lines of a client of
// the instrument, posted to the core's thread and waited for there.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "control/attributes.hpp"
#include "control/snapshot.hpp"
#include "scpi/instrument.hpp"

namespace talmir880::control {

// The commands of the device, as the lines they run.
struct DeviceCommand {
  const char* name;
  const char* line;
};
inline constexpr DeviceCommand kCommands[] = {
    {"On", "OUTP ON"}, {"Off", "OUTP OFF"},
    {"Reset", "*RST"}, {"StartSweep", "FREQ:MODE SWE;:INIT"},
    {"Abort", "ABOR"}, {"SaveSettings", "*SAV 0"},
};

// How a line ended for the thread that waited: `finished` false when the
// wait ran out first (the line still runs); its errors as SYSTem:ERRor?
// words them.
struct Outcome {
  bool finished = false;
  std::vector<std::string> errors;
};

class DeviceFace final : private scpi::ClientEvents,
                         private scpi::InstrumentEvents,
                         private GeneratorObserver {
 public:
  // From any thread: have the core's thread call take_posted() soon.
  using Wake = std::function<void()>;

  // On the core's thread. `port_name` names the port in the status.
  DeviceFace(scpi::Instrument& instrument, std::string port_name, Wake wake,
             std::vector<Attribute> attributes = attributes_of());
  ~DeviceFace() override;
  DeviceFace(const DeviceFace&) = delete;
  DeviceFace& operator=(const DeviceFace&) = delete;

  const std::vector<Attribute>& attributes() const { return attributes_; }

  // Any thread.
  Snapshot snapshot() const;
  // Runs `line` as the face's client and waits at most `wait` for its end.
  // `attribute`: the one it writes, CHANGING until then.
  Outcome run(std::string line, std::optional<std::size_t> attribute,
              std::chrono::milliseconds wait);
  // Waits at most `wait` for a snapshot newer than `seen` (its count):
  // the newest, or nothing.
  std::optional<std::pair<std::uint64_t, Snapshot>> next(std::uint64_t seen,
                                                         std::chrono::milliseconds wait);

  // The core's thread: takes the lines run() left for it.
  void take_posted();

 private:
  struct Request {
    std::string line;
    std::optional<std::size_t> attribute;
    std::shared_ptr<std::promise<Outcome>> done;
  };

  // The core's thread.
  void take(Request request);
  void submit_front();
  void refresh();
  void room() override;
  void answer(std::string) override {}
  void settings_changed(Generator::Changer) override { refresh(); }
  void reachability_changed(DeviceFault fault) override;
  void pass_started(int, bool) override { refresh(); }
  void sweep_ended() override { refresh(); }
  void held_changed(Fact, Face, bool) override { refresh(); }
  void became_unsure(Fact) override { refresh(); }
  void pass_began(const Pass&) override { refresh(); }
  void pass_progressed(const Pass&) override { refresh(); }
  void pass_ended(Face) override { refresh(); }
  void port_changed(PortState) override { refresh(); }

  scpi::Instrument& instrument_;
  const std::string port_name_;
  const Wake wake_;
  const std::vector<Attribute> attributes_;
  std::optional<ClientId> client_;
  std::deque<Request> requests_;  // the front one runs
  bool running_ = false;
  DeviceFault fault_ = DeviceFault::none;
  std::vector<bool> changing_;

  // Under mutex_: a request stays the face's own from run() until the
  // core's thread takes it, so no other thread ever holds it after.
  mutable std::mutex mutex_;
  std::deque<Request> posted_;
  std::condition_variable fresh_;
  Snapshot snapshot_;
  std::uint64_t count_ = 0;
};

}  // namespace talmir880::control
