#pragma once

// The line's timing both ways. Inbound: when each character written by the
// panel has arrived, 10 bits per character, so commands queue as on a real
// line. Outbound: acknowledgements (and the fault modes that bend them), each
// taking its characters' time, sweep points paced like the device's UART plus
// its dwell, and line noise. Replies and sweep points are timed apart and do
// not wait for each other (a simplification: a reply during a pass is rare).
// Time is handed in, so the pacing is tested without a clock; the caller
// sleeps until next_wake() and writes the bytes.

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "device.hpp"

namespace talmir880::sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

struct PacerOptions {
  int baud = 57600;  // 0: no line; everything as fast as the reader takes it
  int dwell_ms = 0;
  // Paced output reaches the reader in batches at least this far apart, as
  // through a USB adapter's latency timer; 0: each write when it is due.
  int latency_ms = 0;
  bool silent = false;
  bool lowercase = false;
  std::optional<int> split_ack_ms;  // acknowledgement in two writes
  double noise_per_second = 0;
};

class Pacer {
 public:
  explicit Pacer(const PacerOptions& options, std::uint32_t seed = std::random_device{}());

  void start(TimePoint now);

  // Books one character written by the panel at `now` behind those still on
  // their way and says when its last bit is in (`now` itself with no line).
  TimePoint arrive(TimePoint now);
  // Characters the line takes now, as a serial driver holds back a writer
  // whose transmit buffer is full: 0 while more than a quarter of that buffer
  // is still on its way.
  std::size_t inbound_room(TimePoint now) const;
  // When inbound_room() opens again, while it is 0.
  std::optional<TimePoint> inbound_room_at(TimePoint now) const;

  // `text` written at `now`; on a line it goes out behind earlier replies and
  // reaches the reader when its last character has.
  void reply(std::string_view text, TimePoint now);
  // Replaces any sweep under way, as the device restarts on a new "$W".
  void sweep(const SweepRequest& request, TimePoint now);

  struct Output {
    std::string bytes;
    std::vector<std::string> logs;
  };
  // Bytes due by `now`. `room` limits what is not tied to a time (an unpaced
  // sweep) and whether noise is kept: noise nobody reads is lost, as on a line.
  Output take(TimePoint now, std::size_t room);

  // When take() has something new by the clock; nullopt when only room (or
  // nothing) would bring more.
  std::optional<TimePoint> next_wake() const;
  // An unpaced sweep still has points to give when room allows.
  bool wants_room() const;
  bool sweeping() const { return sweep_.has_value(); }

 private:
  struct Sweep {
    int points;
    int sent = 0;
    TimePoint start;
  };
  struct Timed {
    TimePoint due;
    std::string bytes;
  };

  bool paced() const { return period_.count() > 0; }
  bool batched() const { return paced() && latency_.count() > 0; }
  bool on_line() const { return char_time_.count() > 0; }
  std::size_t inbound_pending(TimePoint now) const;
  void send(std::string bytes, TimePoint written);
  Output take_due(TimePoint now, std::size_t room);
  TimePoint point_due(const Sweep& s, int index) const;

  PacerOptions options_;
  Clock::duration char_time_{};  // 10 bits; zero without a line
  Clock::duration period_{};     // per sweep point
  Clock::duration noise_period_{};
  Clock::duration latency_{};
  std::optional<TimePoint> next_batch_;
  std::optional<Sweep> sweep_;
  std::vector<Timed> timed_;   // replies, or their halves, by when they arrive
  TimePoint inbound_free_{};   // the last booked inbound character is in
  TimePoint outbound_free_{};  // the last reply has gone out
  std::optional<TimePoint> next_noise_;
  std::mt19937 random_;
};

}  // namespace talmir880::sim
