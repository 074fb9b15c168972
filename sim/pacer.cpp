#include "pacer.hpp"

#include <algorithm>

namespace talmir880::sim {
namespace {

// Printable characters a panel could mistake for nothing: no "R" of either case.
constexpr std::string_view kNoise =
    "!\"#$%&'()*+,-./"
    "0123456789:;<=>?@ABCDEFGHIJKLMNOPQSTUVWXYZ[\\]^_`abcdefghijklmnopqstuvwxyz{|}~";

// A reader that stalled for this long does not get a burst of old noise.
constexpr auto kNoiseCatchUp = std::chrono::seconds(1);

// Characters on their way in before the writer is held back (a serial
// driver's transmit buffer), and how few let it go on.
constexpr std::size_t kInboundBuffer = 4096;
constexpr std::size_t kInboundResume = 1024;

}  // namespace

Pacer::Pacer(const PacerOptions& options, std::uint32_t seed) : options_(options), random_(seed) {
  using std::chrono::nanoseconds;
  // 10 bits per character (start, 8 data, stop), 4 characters per point.
  if (options_.baud > 0) {
    char_time_ = nanoseconds(10'000'000'000LL / options_.baud);
    period_ += nanoseconds(40'000'000'000LL / options_.baud);
  }
  period_ += std::chrono::milliseconds(options_.dwell_ms);
  latency_ = std::chrono::milliseconds(options_.latency_ms);
  if (options_.noise_per_second > 0) {
    noise_period_ = std::max<Clock::duration>(
        nanoseconds(static_cast<std::int64_t>(1e9 / options_.noise_per_second)), nanoseconds(1));
  }
}

void Pacer::start(TimePoint now) {
  if (noise_period_.count() > 0) next_noise_ = now + noise_period_;
}

TimePoint Pacer::arrive(TimePoint now) {
  if (!on_line()) return now;
  inbound_free_ = std::max(inbound_free_, now) + char_time_;
  return inbound_free_;
}

std::size_t Pacer::inbound_pending(TimePoint now) const {
  if (!on_line() || inbound_free_ <= now) return 0;
  return static_cast<std::size_t>((inbound_free_ - now + char_time_ - Clock::duration(1)) /
                                  char_time_);
}

std::size_t Pacer::inbound_room(TimePoint now) const {
  if (!on_line()) return kInboundBuffer;
  // Reading again only once most has gone changes no arrival time (what is
  // read later still queues behind) and spares a wake per character.
  const std::size_t pending = inbound_pending(now);
  return pending <= kInboundResume ? kInboundBuffer - pending : 0;
}

std::optional<TimePoint> Pacer::inbound_room_at(TimePoint now) const {
  if (inbound_room(now) > 0) return std::nullopt;
  return inbound_free_ - char_time_ * kInboundResume;
}

void Pacer::reply(std::string_view text, TimePoint now) {
  if (options_.silent) return;
  std::string bytes(text);
  if (options_.lowercase) std::replace(bytes.begin(), bytes.end(), 'R', 'r');
  if (options_.split_ack_ms && bytes.size() > 1) {
    send(bytes.substr(0, 1), now);
    send(bytes.substr(1), now + std::chrono::milliseconds(*options_.split_ack_ms));
  } else {
    send(std::move(bytes), now);
  }
}

void Pacer::send(std::string bytes, TimePoint written) {
  TimePoint due = written;
  if (on_line()) {
    // One write after the other, each character its 10 bits.
    due = std::max(written, outbound_free_) + char_time_ * static_cast<int>(bytes.size());
    outbound_free_ = due;
  }
  auto at = std::upper_bound(timed_.begin(), timed_.end(), due,
                             [](TimePoint t, const Timed& x) { return t < x.due; });
  timed_.insert(at, Timed{due, std::move(bytes)});
}

void Pacer::sweep(const SweepRequest& request, TimePoint now) {
  sweep_ = Sweep{std::max(request.points, 0), 0, now};
}

TimePoint Pacer::point_due(const Sweep& s, int index) const {
  return s.start + period_ * (index + 1);
}

Pacer::Output Pacer::take(TimePoint now, std::size_t room) {
  // The first write after a quiet spell goes at once; whatever falls due
  // within the latency after it waits and goes together.
  if (batched() && next_batch_ && now < *next_batch_) return {};
  Output out = take_due(now, room);
  if (batched() && !out.bytes.empty()) next_batch_ = now + latency_;
  return out;
}

Pacer::Output Pacer::take_due(TimePoint now, std::size_t room) {
  Output out;
  auto due_end =
      std::find_if(timed_.begin(), timed_.end(), [now](const Timed& t) { return t.due > now; });
  for (auto it = timed_.begin(); it != due_end; ++it) out.bytes += it->bytes;
  timed_.erase(timed_.begin(), due_end);

  if (sweep_) {
    Sweep& s = *sweep_;
    while (s.sent < s.points && (paced() ? point_due(s, s.sent) <= now : out.bytes.size() < room)) {
      out.bytes += sweep_point_text(s.sent++);
    }
    if (s.sent == s.points) {
      out.logs.push_back("SWEEP DONE points=" + std::to_string(s.points));
      sweep_.reset();
    }
  }

  if (next_noise_) {
    if (now - *next_noise_ > kNoiseCatchUp) next_noise_ = now;
    std::uniform_int_distribution<std::size_t> pick(0, kNoise.size() - 1);
    for (; *next_noise_ <= now; *next_noise_ += noise_period_) {
      if (out.bytes.size() < room) out.bytes += kNoise[pick(random_)];
    }
  }
  return out;
}

std::optional<TimePoint> Pacer::next_wake() const {
  std::optional<TimePoint> wake;
  auto consider = [&wake](TimePoint t) {
    if (!wake || t < *wake) wake = t;
  };
  if (!timed_.empty()) consider(timed_.front().due);
  if (sweep_ && paced()) consider(point_due(*sweep_, sweep_->sent));
  if (next_noise_) consider(*next_noise_);
  if (wake && batched() && next_batch_ && *wake < *next_batch_) wake = next_batch_;
  return wake;
}

bool Pacer::wants_room() const { return sweep_ && !paced(); }

}  // namespace talmir880::sim
