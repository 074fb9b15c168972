// SIGNAL with any three sweep fields, then ticks and replies as they come.
// Input: Text_star, Text_end, Text_sample, then a stream of steps, cut at 0x00.
// Each step is one byte: odd bytes bring (byte >> 1) % 48 received bytes that
// follow, even ones advance the clock by (byte >> 1) ms; 0xFE and 0xFC press
// CONT and STOP SWEEP.

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
using talmir880::fuzzing::split_at_zero;

bool only_digits_and_minus(std::string_view text) {
  for (char c : text) {
    if ((c < '0' || c > '9') && c != '-') return false;
  }
  return true;
}

// A rewritten field: the sign column, a number, and the unit when there is one.
bool normalised(const std::string& text, bool mhz) {
  if (text.empty() || (text[0] != ' ' && text[0] != '-')) return false;
  return !mhz || (text.size() > 4 && text.compare(text.size() - 4, 4, " MHz") == 0);
}

void check_sweep_state(const talmir880::Form1& form, const std::string& what) {
  const float value = form.ProgressBar_sweep.Value();
  check(value >= 0.0f && value <= 100.0f, "the progress bar left 0..100", what);
  // Idle, single, continuous or blocked: a running pass never has SIGNAL enabled.
  check(!(form.Timer_sweep.Enabled() && form.Command_signal.Enabled()),
        "Timer_sweep runs while SIGNAL is enabled", what);
}

void check_commands(const talmir880::testing::FakeSerialPort& port, const std::string& what) {
  for (const std::string& command : port.written) {
    check(command.size() >= 23 && command.compare(0, 2, "$W") == 0 &&
              only_digits_and_minus(command.substr(2)),
          "a sweep command is not $W and at least 21 digits or '-'", what + ": " + shown(command));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = split_at_zero({reinterpret_cast<const char*>(data), size}, 4);
  const std::string what =
      "start " + shown(parts[0]) + ", end " + shown(parts[1]) + ", samples " + shown(parts[2]);

  talmir880::testing::FakeSerialPort port;
  talmir880::testing::ScriptedBoxes boxes;
  talmir880::Form1 form(port, boxes);
  talmir880::ManualClock clock;
  clock.attach(form.Timer1);
  clock.attach(form.Timer_sweep);
  form.Form_Load();
  form.Command_uart_port_open.click();
  check(port.open, "the fake port did not open");
  form.Text_star.type(parts[0]);
  form.Text_end.type(parts[1]);
  form.Text_sample.type(parts[2]);

  try {
    form.run([&] { form.Command_signal.click(); });
  } catch (const std::exception& e) {
    fail("SIGNAL let an exception escape", what + ": " + e.what());
  }

  if (port.written.size() == 1) {
    check_commands(port, what);
    check(boxes.shown.empty(), "a sent sweep also showed a message", what);
    check(form.Timer_sweep.Enabled() && !form.Command_signal.Enabled(),
          "a sent sweep did not leave the timer on and SIGNAL off", what);
    check(normalised(form.Text_star.Text(), true) && normalised(form.Text_end.Text(), true) &&
              normalised(form.Text_sample.Text(), false),
          "the sweep fields were not rewritten",
          what + " became " + shown(form.Text_star.Text()) + ", " + shown(form.Text_end.Text()) +
              ", " + shown(form.Text_sample.Text()));
  } else {
    check(port.written.empty(), "SIGNAL wrote more than one command", what);
    check(boxes.shown.size() == 1 && boxes.shown[0].text == "扫描参数错误！",
          "a sweep that was not sent did not show exactly the sweep message", what);
    check(
        !form.Timer_sweep.Enabled() && form.Command_signal.Enabled() && form.Command_cont.Enabled(),
        "a sweep that was not sent did not go back to idle", what);
  }

  const std::string& steps = parts[3];
  for (std::size_t i = 0; i < steps.size();) {
    const auto step = static_cast<unsigned char>(steps[i++]);
    try {
      if (step == 0xFE) {
        form.run([&] { form.Command_cont.click(); });
      } else if (step == 0xFC) {
        form.run([&] { form.Command_stop.click(); });
      } else if (step & 1) {
        const std::size_t n = std::min<std::size_t>((step >> 1) % 48, steps.size() - i);
        const std::string chunk = steps.substr(i, n);
        i += n;
        form.run([&] { port.receive(chunk); });
      } else {
        form.run([&] { clock.advance(step >> 1); });
      }
    } catch (const std::exception& e) {
      fail("a sweep step let an exception escape", what + ": " + e.what());
    }
    check_sweep_state(form, what);
  }
  check_commands(port, what);
  return 0;
}
