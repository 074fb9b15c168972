// The whole panel after start-up, driven by a stream of events: replies in
// any chunks, time passing, the sweep buttons, entries, language and port.
// Each event is one byte (its value modulo 10) and the bytes it needs.

#include <array>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

#include "app/form1.hpp"
#include "check.hpp"
#include "support/fake_serial_port.hpp"
#include "support/scripted_boxes.hpp"
#include "toolkit/manual_clock.hpp"

namespace {

using talmir880::fuzzing::check;
using talmir880::fuzzing::fail;
using talmir880::fuzzing::shown;

constexpr std::array<std::string_view, 3> kNoConnect = {
    "没有连机，操作错误！", "沒有連機，操作錯誤！", "no connect,operate error!"};

constexpr std::array<std::string_view, 10> kEntries = {
    "RF 433.92MHz", "MOD 2.5kHz", "RF MHz",   "MOD kHz",     "100MHz",
    "RF0GHz",       "MOD0MHz",    "RF -5MHz", "RF 1E400GHz", ""};

constexpr std::array<std::string_view, 6> kSamples = {"500", "0", "1", "2.5", "-3", "1E-300"};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool done() const { return at_ >= size_; }
  std::uint8_t byte() { return done() ? 0 : data_[at_++]; }
  std::string bytes(std::size_t n) {
    n = std::min(n, size_ - at_);
    std::string out(reinterpret_cast<const char*>(data_) + at_, n);
    at_ += n;
    return out;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

class Session {
 public:
  Session() {
    clock.attach(form.Timer1);
    clock.attach(form.Timer_sweep);
    form.Form_Load();
    form.Command_uart_port_open.click();
    check(port.open, "the fake port did not open");
  }

  void step(Reader& in) {
    const int op = in.byte() % 10;
    const bool armed_before = form.Timer1.Enabled();
    const std::size_t told_before = boxes.shown.size();
    const int watchdog_before = watchdog_messages();
    trace += std::to_string(op);

    try {
      switch (op) {
        case 0: {
          const std::string chunk = in.bytes(in.byte() % 64);
          trace += shown(chunk);
          const std::size_t length_before = form.link.receive_data.size();
          form.run([&] { port.receive(chunk); });
          const auto& received = form.link.receive_data;
          if (chunk.find('R') != std::string::npos) {
            check(received.empty() && !form.Timer1.Enabled(),
                  "a reply with an R did not disarm the watchdog and empty receive_data", trace);
          } else {
            check(received.size() == length_before + chunk.size(),
                  "receive_data did not grow by the chunk", trace);
            check(form.Timer1.Enabled() == armed_before,
                  "a reply without an R changed the watchdog", trace);
          }
          break;
        }
        case 1: {
          const int ms = in.byte() * 5;
          trace += "+" + std::to_string(ms);
          form.run([&] { clock.advance(ms); });
          const int fired = watchdog_messages() - watchdog_before;
          check(fired <= 1, "the watchdog spoke twice in one stretch of time", trace);
          check(fired == 0 || armed_before, "the watchdog spoke without being armed", trace);
          if (armed_before && ms >= 500) {
            check(fired == 1 && !form.Timer1.Enabled(),
                  "the armed watchdog stayed silent for 500 ms", trace);
          }
          // A continuous sweep may tell its own message in the same stretch.
          const auto language = static_cast<std::size_t>(form.Combo3.ListIndex());
          int in_language = 0;
          for (std::size_t k = told_before; k < boxes.shown.size(); ++k) {
            if (boxes.shown[k].text == kNoConnect.at(language)) ++in_language;
          }
          check(in_language == fired, "the watchdog message is not in the current language", trace);
          break;
        }
        case 2:
          form.run([&] { form.Command_signal.click(); });
          break;
        case 3:
          form.run([&] { form.Command_cont.click(); });
          break;
        case 4:
          form.run([&] { form.Command_stop.click(); });
          break;
        case 5: {
          const std::uint8_t pick = in.byte();
          const std::string entry =
              pick < kEntries.size() ? std::string(kEntries[pick]) : in.bytes(pick % 24);
          trace += shown(entry);
          form.Text_send.type(entry);
          form.run([&] { form.tuning.Send_entry(); });
          if (boxes.shown.size() == told_before) ++arms;
          break;
        }
        case 6:
          form.Combo3.pick(in.byte() % 3);
          break;
        case 7:
          if (port.open) {
            form.run([&] { form.Command_uart_port_closed.click(); });
          } else {
            form.run([&] { form.Command_uart_port_open.click(); });
          }
          break;
        case 8:
          form.Text_sample.type(std::string(kSamples[in.byte() % kSamples.size()]));
          break;
        case 9:
          form.run([&] { form.Combo1.pick(in.byte() % 4); });
          if (form.Timer1.Enabled()) ++arms;
          break;
      }
    } catch (const std::exception& e) {
      fail("an event let an exception escape", trace + ": " + e.what());
    }

    // Arming a disarmed watchdog by anything else counts too.
    if (op != 5 && op != 9 && !armed_before && form.Timer1.Enabled()) ++arms;
    if (op != 1) {
      check(watchdog_messages() == watchdog_before, "the watchdog spoke while no time passed",
            trace);
    }
    check(watchdog_messages() <= arms, "more watchdog messages than armings", trace);
    check(form.link.receive_data.text().find('R') == std::string::npos, "receive_data holds an R",
          trace);
    check(form.link.receive_data.text().size() <= form.link.receive_data.size(),
          "receive_data keeps more than it counts", trace);
    const float value = form.ProgressBar_sweep.Value();
    check(value >= 0.0f && value <= 100.0f, "the progress bar left 0..100", trace);
    check(!(form.Timer_sweep.Enabled() && form.Command_signal.Enabled()),
          "Timer_sweep runs while SIGNAL is enabled", trace);
    trace += ' ';
  }

 private:
  int watchdog_messages() const {
    int n = 0;
    for (const auto& m : boxes.shown) {
      for (std::string_view text : kNoConnect) {
        if (m.text == text) ++n;
      }
    }
    return n;
  }

  talmir880::testing::FakeSerialPort port;
  talmir880::testing::ScriptedBoxes boxes;
  talmir880::Form1 form{port, boxes};
  talmir880::ManualClock clock;
  int arms = 0;
  std::string trace = "events ";
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Reader in(data, size);
  Session session;
  while (!in.done()) session.step(in);
  return 0;
}
