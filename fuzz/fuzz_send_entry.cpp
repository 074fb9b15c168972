// Send_entry with whatever the entry line and the two labels may hold.
// Input: entry line, Label_RF caption and Label_MOD caption, cut at 0x00.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/form1.hpp"
#include "check.hpp"
#include "common/text.hpp"
#include "support/fake_serial_port.hpp"
#include "support/scripted_boxes.hpp"

namespace {

using talmir880::contains;
using talmir880::fuzzing::all_digits;
using talmir880::fuzzing::check;
using talmir880::fuzzing::shown;
using talmir880::fuzzing::split_at_zero;

// The digits a display text shows, or "" when the text is not one:
// "RF d ddd.ddd ddd MHz" (10 digits) or "MOD d ddd.ddd kHz" (7 digits).
std::string display_digits(const std::string& text, bool rf) {
  const std::string head = rf ? "RF " : "MOD ";
  const std::string tail = rf ? " MHz" : " kHz";
  const std::size_t body_size = rf ? 13 : 9;  // "d ddd.ddd ddd" / "d ddd.ddd"
  if (text.size() != head.size() + body_size + tail.size()) return "";
  if (text.compare(0, head.size(), head) != 0) return "";
  if (text.compare(text.size() - tail.size(), tail.size(), tail) != 0) return "";
  const std::string body = text.substr(head.size(), body_size);
  const std::string pattern = rf ? "d ddd.ddd ddd" : "d ddd.ddd";
  std::string digits;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == 'd') {
      if (body[i] < '0' || body[i] > '9') return "";
      digits += body[i];
    } else if (body[i] != pattern[i]) {
      return "";
    }
  }
  return digits;
}

// What the entry becomes once the re-send forms have put a label in its place.
std::string after_resend(std::string entry, const std::string& rf_caption,
                         const std::string& mod_caption) {
  for (const char* form : {"RF H", "RF k", "RF G", "RF M"}) {
    if (contains(entry, form)) {
      entry = rf_caption;
      break;
    }
  }
  for (const char* form : {"MOD H", "MOD k", "MOD G", "MOD M"}) {
    if (contains(entry, form)) {
      entry = mod_caption;
      break;
    }
  }
  return entry;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parts = split_at_zero({reinterpret_cast<const char*>(data), size}, 3);
  const std::string& entry = parts[0];
  const std::string& rf_before = parts[1];
  const std::string& mod_before = parts[2];
  const std::string what = "entry " + shown(entry) + ", Label_RF " + shown(rf_before) +
                           ", Label_MOD " + shown(mod_before);

  talmir880::testing::FakeSerialPort port;
  talmir880::testing::ScriptedBoxes boxes;
  talmir880::Form1 form(port, boxes);
  form.Form_Load();
  form.Command_uart_port_open.click();
  check(port.open, "the fake port did not open");
  form.Text_send.type(entry);
  form.Label_RF.set_Caption(rf_before);
  form.Label_MOD.set_Caption(mod_before);
  form.Timer1.set_Enabled(false);
  port.written.clear();
  boxes.shown.clear();
  form.link.receive_data.append("stale");

  form.run([&] { form.tuning.Send_entry(); });

  const std::string recognised = after_resend(entry, rf_before, mod_before);
  const bool rf = contains(recognised, "RF");
  const bool mod = !rf && contains(recognised, "MOD");
  const bool refused = !boxes.shown.empty();
  const std::string& rf_after = form.Label_RF.Caption();
  const std::string& mod_after = form.Label_MOD.Caption();
  const std::string result =
      what + "; wrote " + (port.written.empty() ? std::string("nothing") : shown(port.written[0])) +
      ", Label_RF " + shown(rf_after) + ", Label_MOD " + shown(mod_after);

  check(port.written.size() <= 1, "Send_entry wrote more than one command", result);
  check(form.link.receive_data.empty(), "Send_entry left earlier replies in receive_data", result);
  check(form.Timer1.Enabled() == !refused, "Timer1 is not armed exactly when nothing was refused",
        result);
  check(boxes.shown.size() <= 1, "Send_entry showed more than one message", result);
  if (refused) {
    check(boxes.shown[0].text == "频率超出范围！", "Send_entry showed an unexpected message",
          result + ": " + boxes.shown[0].text);
    check(rf || mod, "an entry without RF or MOD was refused", result);
  }

  if (!rf && !mod) {
    check(port.written.empty(), "an entry with neither RF nor MOD was sent", result);
    check(rf_after == rf_before && mod_after == mod_before,
          "an entry with neither RF nor MOD changed a label", result);
    check(form.Text_send.Text() == recognised, "the unrecognised entry line was not kept", result);
    return 0;
  }
  if (refused) {
    check(port.written.empty(), "a refused entry was sent", result);
    check(rf_after == rf_before && mod_after == mod_before, "a refused entry changed a label",
          result);
    return 0;
  }

  check(port.written.size() == 1, "an accepted entry with the port open wrote nothing", result);
  const std::string& command = port.written[0];
  if (rf) {
    check(mod_after == mod_before, "an RF entry changed Label_MOD", result);
    check(form.Text_send.Text() == rf_after, "the entry line does not show Label_RF", result);
    if (rf_after == "RF OFF") {
      check(command == "$F000000001", "RF OFF was not sent as $F000000001", result);
      return 0;
    }
    const std::string digits = display_digits(rf_after, true);
    check(!digits.empty(), "Label_RF is neither an RF display text nor RF OFF", result);
    check(command.size() == 11 && command.compare(0, 2, "$F") == 0 && all_digits(command.substr(2)),
          "the RF command is not $F and nine digits", result);
    check(command.substr(2) == digits.substr(0, 9),
          "the RF command does not carry the first nine digits Label_RF shows", result);
  } else {
    check(rf_after == rf_before, "a MOD entry changed Label_RF", result);
    check(form.Text_send.Text() == mod_after, "the entry line does not show Label_MOD", result);
    if (mod_after == "MOD OFF") {
      check(command == "$M0000000", "MOD OFF was not sent as $M0000000", result);
      return 0;
    }
    const std::string digits = display_digits(mod_after, false);
    check(!digits.empty(), "Label_MOD is neither a modulation display text nor MOD OFF", result);
    check(command.size() >= 9 && command.compare(0, 2, "$M") == 0 && all_digits(command.substr(2)),
          "the MOD command is not $M and seven or more digits", result);
    check(command.size() == 9 || command[2] != '0',
          "the MOD command is longer than seven digits below 10 MHz", result);
    check(command.substr(2, 7) == digits,
          "the MOD command does not start with the digits Label_MOD shows", result);
  }
  return 0;
}
