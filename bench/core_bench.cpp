// The core's hot paths, timed without a display: the receive event, the sweep
// tick, Send_entry and SIGNAL, each on a Form1 after start-up with the port
// open on a fake serial port.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form1.hpp"
#include "support/fake_serial_port.hpp"
#include "support/scripted_boxes.hpp"
#include "toolkit/manual_clock.hpp"

namespace talmir880 {
namespace {

using testing::FakeSerialPort;
using testing::ScriptedBoxes;

// The window as the user finds it after start-up and PORT OPEN.
struct Panel {
  Panel() {
    clock.attach(form.Timer1);
    clock.attach(form.Timer_sweep);
    form.Form_Load();
    form.Command_uart_port_open.click();
    if (!port.open) throw std::logic_error("the fake port did not open");
  }

  FakeSerialPort port;
  ScriptedBoxes boxes;
  Form1 form{port, boxes};
  ManualClock clock;
};

// Device-like text with no R in it: an R would acknowledge and empty the
// collected text, which is not the path measured here.
std::string text_without_r(std::size_t n) {
  static constexpr char kDigits[] = "0123456789";
  std::string out(n, '0');
  for (std::size_t i = 0; i < n; ++i) out[i] = kDigits[i % 10];
  return out;
}

// The written commands pile up in the fake; dropping them now and then keeps
// memory flat. It runs between timed rounds, and the last write is always
// kept for the check after the loop.
void forget_writes(FakeSerialPort& port) {
  if (port.written.size() >= 1024) port.written.clear();
}

// Events are timed in rounds with the steady clock, since one event is too
// short to time alone next to the clock's own ~20 ns. An iteration is one
// round, and its time shared out over the round's events is the iteration's
// time, so the Time column is the mean per event. On a shared machine one
// preemption adds milliseconds to a round and drags the mean up; the median
// per event (counter median_ns) is unmoved by that and is the figure to quote.
class Rounds {
 public:
  Rounds(benchmark::State& state, std::size_t events) : state_(state), events_(events) {}

  template <class Round>
  void time(Round&& round) {
    const auto start = std::chrono::steady_clock::now();
    round();
    const auto stop = std::chrono::steady_clock::now();
    const double ns = std::chrono::duration<double, std::nano>(stop - start).count() /
                      static_cast<double>(events_);
    state_.SetIterationTime(ns * 1e-9);
    ++buckets_[bucket_of(ns)];
  }

  // Call after the loop.
  void report() {
    state_.SetItemsProcessed(state_.iterations());
    const std::uint64_t half = static_cast<std::uint64_t>(state_.iterations()) / 2;
    std::uint64_t seen = 0;
    for (std::size_t b = 0; b < buckets_.size(); ++b) {
      seen += buckets_[b];
      if (seen > half) {
        state_.counters["median_ns"] = value_of(b);
        return;
      }
    }
  }

 private:
  // Buckets 1% wide from 0.1 ns to past a millisecond: a median to within 1%.
  static constexpr double kLow = 0.1;
  static constexpr double kStep = 1.01;
  static constexpr std::size_t kBuckets = 1700;
  static std::size_t bucket_of(double ns) {
    if (ns <= kLow) return 0;
    const auto b = static_cast<std::size_t>(std::log(ns / kLow) / std::log(kStep));
    return std::min(b, kBuckets - 1);
  }
  static double value_of(std::size_t b) {
    return kLow * std::pow(kStep, static_cast<double>(b) + 0.5);
  }

  benchmark::State& state_;
  std::size_t events_;
  std::array<std::uint64_t, kBuckets> buckets_{};
};

// Rounds of this many events; MinTime is divided by the same number so that
// each benchmark runs for about half a second of timed rounds.
constexpr std::size_t kPanels = 32;
constexpr std::size_t kTicks = 256;
constexpr std::size_t kCalls = 16;
constexpr double kSeconds = 0.5;

// One port event with `chunk` bytes pending, through the line to the
// panel's MSComm1_OnComm, into a receive_data that holds `collected`
// characters. The time includes putting the chunk in the fake port, as the
// port's own read buffer would be filled.
//
// Each event grows receive_data, so to hold it near the preset size the
// collected text is emptied and refilled (untimed) before it drifts by more
// than 1% of the preset or by one chunk, whichever is larger. A round is one
// event into each of kPanels panels; every row uses the same panels and
// rounds, so rows differ only in chunk and collected size.
void BM_MSComm1_OnComm(benchmark::State& state) {
  const auto chunk_size = static_cast<std::size_t>(state.range(0));
  const auto collected = static_cast<std::size_t>(state.range(1));

  std::vector<std::unique_ptr<Panel>> panels;
  for (std::size_t i = 0; i < kPanels; ++i) panels.push_back(std::make_unique<Panel>());
  const std::string chunk = text_without_r(chunk_size);
  const std::string fill = text_without_r(collected);
  const std::size_t drift = std::max(collected / 100, chunk_size);
  const std::size_t rounds_per_fill = std::max<std::size_t>(1, drift / chunk_size);

  auto refill = [&] {
    for (auto& p : panels) {
      p->form.link.receive_data.clear();
      p->form.link.receive_data.append(fill);
    }
  };
  refill();
  std::size_t rounds_since_fill = 0;
  std::size_t largest = 0;
  Rounds rounds(state, kPanels);

  for (auto _ : state) {
    if (rounds_since_fill == rounds_per_fill) {
      refill();
      rounds_since_fill = 0;
    }
    rounds.time([&] {
      for (auto& p : panels) {
        p->port.receive(chunk);
      }
    });
    ++rounds_since_fill;
    largest = std::max(largest, panels.front()->form.link.receive_data.size());
  }

  rounds.report();
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(chunk_size));
  state.counters["max_collected"] = static_cast<double>(largest);
  if (panels.front()->form.Timer1.Enabled() || !panels.front()->boxes.shown.empty()) {
    state.SkipWithError("the receive path did something besides collecting");
  }
}
BENCHMARK(BM_MSComm1_OnComm)
    ->ArgNames({"chunk", "collected"})
    ->ArgsProduct({{1, 4, 64}, {0, 4000, 40000}})
    ->UseManualTime()
    ->MinTime(kSeconds / kPanels);

// One Timer_sweep tick halfway through a 9999-sample pass: the progress is
// computed and the bar set, and the pass goes on.
void BM_Timer_sweep_Timer(benchmark::State& state) {
  Panel p;
  p.form.Text_sample.set_Text("9999");
  p.form.Command_signal.click();
  if (!p.form.Timer_sweep.Enabled()) {
    state.SkipWithError("the sweep did not start");
    return;
  }
  // 4 characters per sample; half a pass has arrived.
  p.form.link.receive_data.append(text_without_r(4 * 9999 / 2));
  Rounds rounds(state, kTicks);

  for (auto _ : state) {
    rounds.time([&] {
      for (std::size_t i = 0; i < kTicks; ++i) p.form.sweep.Timer_sweep_Timer();
    });
  }

  rounds.report();
  state.counters["progress"] = p.form.ProgressBar_sweep.Value();
  if (!p.form.Timer_sweep.Enabled() || p.port.written.size() != 1) {
    state.SkipWithError("the tick ended or restarted the pass");
  }
}
BENCHMARK(BM_Timer_sweep_Timer)->UseManualTime()->MinTime(kSeconds / kTicks);

// Send_entry for a typed RF frequency: parse, format the display, write $F.
// The entry is typed again before each call (a short text, no allocation),
// since Send_entry replaces it with the display form.
void BM_Send_entry(benchmark::State& state) {
  Panel p;
  const std::string entry = "RF 433.92MHz";
  Rounds rounds(state, kCalls);

  for (auto _ : state) {
    forget_writes(p.port);
    rounds.time([&] {
      for (std::size_t i = 0; i < kCalls; ++i) {
        p.form.Text_send.set_Text(entry);
        p.form.tuning.Send_entry();
      }
    });
  }

  rounds.report();
  if (p.port.written.empty() || p.port.written.back() != "$F043392000") {
    state.SkipWithError("Send_entry did not write the expected command");
  }
}
BENCHMARK(BM_Send_entry)->UseManualTime()->MinTime(kSeconds / kCalls);

// SIGNAL with the fields as start-up leaves them (100MHz, 500MHz, 500): parse,
// rewrite the fields, write $W and start the tick. The fields are set back to
// the start-up texts before each click (short texts, no allocation).
void BM_Command_signal_Click(benchmark::State& state) {
  Panel p;
  const std::string star = p.form.Text_star.Text();
  const std::string end = p.form.Text_end.Text();
  const std::string sample = p.form.Text_sample.Text();
  Rounds rounds(state, kCalls);

  for (auto _ : state) {
    forget_writes(p.port);
    rounds.time([&] {
      for (std::size_t i = 0; i < kCalls; ++i) {
        p.form.Text_star.set_Text(star);
        p.form.Text_end.set_Text(end);
        p.form.Text_sample.set_Text(sample);
        p.form.sweep.Command_signal_Click();
      }
    });
  }

  rounds.report();
  if (p.port.written.empty() || p.port.written.back().rfind("$W", 0) != 0 ||
      !p.form.Timer_sweep.Enabled()) {
    state.SkipWithError("SIGNAL did not start a sweep");
  }
}
BENCHMARK(BM_Command_signal_Click)->UseManualTime()->MinTime(kSeconds / kCalls);

}  // namespace
}  // namespace talmir880
