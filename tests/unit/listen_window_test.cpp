// Served or not, the hand's sweeps leave the same window and write the same
// bytes: two panels, one alone and one serving an idle script client, get
// the same keys and the same device replies, sweep after random sweep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "app/form1.hpp"
#include "app/served_panel.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"
#include "support/scripted_boxes.hpp"
#include "toolkit/manual_clock.hpp"

namespace talmir880::testing {
namespace {

using Lines = std::vector<std::string>;

struct Panel {
  Panel() {
    clock.attach(form.Timer1);
    clock.attach(form.Timer_sweep);
    form.Form_Load();
    form.Command_uart_port_open.click();
  }
  virtual ~Panel() = default;

  // Everything a user can see of the window, one line per control, and
  // every box it opened.
  Lines window() {
    Lines out;
    for (Control* c : form.controls()) {
      std::string line = c->name() + ":";
      if (auto* b = dynamic_cast<Button*>(c)) {
        line += b->Caption() + (b->Enabled() ? "|on" : "|off");
      } else if (auto* l = dynamic_cast<Label*>(c)) {
        line += l->Caption() + "|" + std::to_string(l->ForeColor());
      } else if (auto* t = dynamic_cast<TextBox*>(c)) {
        line += t->Text();
      } else if (auto* k = dynamic_cast<ComboBox*>(c)) {
        line += std::to_string(k->ListIndex());
        for (const std::string& item : k->items()) line += "|" + item;
      } else if (auto* p = dynamic_cast<ProgressBar*>(c)) {
        line += std::to_string(p->Value());
      } else if (auto* m = dynamic_cast<Timer*>(c)) {
        line += m->Enabled() ? "on" : "off";
      } else if (auto* w = dynamic_cast<Window*>(c)) {
        line += w->Caption() + (w->Enabled() ? "|on" : "|off");
      }
      out.push_back(line);
    }
    for (const Message& m : boxes.shown) out.push_back("box:" + m.text);
    return out;
  }

  FakeSerialPort port;
  ScriptedBoxes boxes;
  Form1 form{port, boxes};
  ManualClock clock;
};

struct Served : Panel {
  struct Idle : scpi::ClientEvents {
    void answer(std::string) override {}
  };
  Served() {
    watchdog.ran_out = [this] { served.instrument().watchdog_ran_out(); };
    quiet.ran_out = [this] { served.instrument().quiet_ran_out(); };
    client = *served.instrument().attach(script);
  }
  // A script's line, each of its device commands acknowledged.
  void remote(const std::string& line) {
    served.instrument().submit(client, line);
    deliver();
    for (int i = 0; i < 20 && watchdog.running(); ++i) port.receive("R");
  }
  // The device runs the pass last written, and the sweep's tick sees its end.
  void pass_runs() {
    const std::string& w = port.written.back();
    port.receive(
        std::string(std::stoul(w.substr(w.size() - 4)) * protocol::kCharsPerSweepPoint, '.'));
    clock.advance(50);
    deliver();
    quiet.run_out();
  }

  ManualCountdown watchdog, stall, quiet, reopen;
  ServedPanel served{form, {watchdog, stall, quiet, reopen}};
  Idle script;
  ClientId client = 0;
};

// A frequency field as a user types it: whole or with decimals, with or
// without a unit, as the fields' own start-up texts are.
std::string frequency_text(std::mt19937& rng) {
  const std::uint32_t mhz = 1 + rng() % 4400;
  std::string text = std::to_string(mhz);
  switch (rng() % 3) {
    case 0:
      text += "." + std::to_string(rng() % 10);
      break;
    case 1:
      text += "." + std::to_string(10 + rng() % 90);
      break;
    default:
      break;
  }
  const char* const units[] = {"", "MHz", " MHz", "M"};
  return text + units[rng() % 4];
}

std::string samples_text(std::mt19937& rng) {
  const char* const odd[] = {"7.5", "12 points", "10001", "0"};
  if (rng() % 5 == 0) return odd[rng() % 4];
  return std::to_string(1 + rng() % 40);
}

// The points of the last "$W" written.
std::size_t points_written(const Lines& written) {
  return std::stoul(written.back().substr(written.back().size() - 4));
}

TEST(ListenWindowTest, RandomHandSweepsLeaveTheSameWindowAndBytesWithOrWithoutAServer) {
  std::mt19937 rng(23);
  Panel alone;
  Served served;
  std::vector<Panel*> both{&alone, &served};
  const auto each = [&](const auto& act) {
    for (Panel* p : both) p->form.run([&] { act(*p); });
  };
  // The device's reply to the running pass, in pieces, the sweep's tick
  // between them.
  const auto device_runs_pass = [&] {
    if (!alone.form.Timer_sweep.Enabled()) return;
    std::size_t left = points_written(alone.port.written) * protocol::kCharsPerSweepPoint;
    while (left > 0) {
      const std::size_t piece = std::min<std::size_t>(left, 1 + rng() % 24);
      left -= piece;
      for (Panel* p : both) {
        p->port.receive(std::string(piece, '.'));
        p->clock.advance(50);
      }
    }
    for (Panel* p : both) p->clock.advance(50);
  };

  const auto same_window = [&] {
    const Lines mine = served.window();
    const Lines theirs = alone.window();
    EXPECT_EQ(mine.size(), theirs.size());
    for (std::size_t i = 0; i < std::min(mine.size(), theirs.size()); ++i) {
      EXPECT_EQ(mine[i], theirs[i]);
    }
    return mine == theirs;
  };

  int differing = 0;
  for (int sweep = 0; sweep < 40; ++sweep) {
    const std::string start = frequency_text(rng);
    const std::string end = frequency_text(rng);
    const std::string samples = samples_text(rng);
    const bool repeat = rng() % 4 == 0;
    SCOPED_TRACE("sweep " + std::to_string(sweep) + ": \"" + start + "\" / \"" + end + "\" / \"" +
                 samples + "\"" + (repeat ? " with CONT" : ""));
    each([&](Panel& p) {
      p.form.Text_star.type(start);
      p.form.Text_end.type(end);
      p.form.Text_sample.type(samples);
    });
    ASSERT_EQ(served.port.written.size(), alone.port.written.size());
    const auto from = static_cast<std::ptrdiff_t>(alone.port.written.size());
    each([&](Panel& p) { (repeat ? p.form.Command_cont : p.form.Command_signal).click(); });
    same_window();  // the fields rewritten, SIGNAL greyed
    device_runs_pass();
    if (repeat) {
      device_runs_pass();  // the tick wrote the next pass
      each([](Panel& p) { p.form.Command_stop.click(); });
      device_runs_pass();
    }
    EXPECT_EQ(Lines(served.port.written.begin() + from, served.port.written.end()),
              Lines(alone.port.written.begin() + from, alone.port.written.end()));
    differing += same_window() ? 0 : 1;
  }
  EXPECT_EQ(differing, 0) << "of 40 sweeps";
  EXPECT_GT(alone.port.written.size(), 30u) << "the sweeps ran";
}

// A script's sweep reads as the hand's setup of the same pass would leave
// the fields: the panel's number form, its end one step past the script's
// stop, and SIGNAL on them sends the script's "$W" again.
TEST(ListenWindowTest, AScriptsSweepFieldsReadAsThePanelsSetupOfTheSamePass) {
  struct Case {
    std::string line;
    std::string start, end, samples;
  };
  const Case cases[] = {
      {"FREQ:STAR 200 MHZ;STOP 300 MHZ;:SWE:POIN 5", " 200 MHz", " 325 MHz", " 5"},
      {"FREQ:STAR 26.7 MHZ;STOP 3026.94 MHZ", " 26.7 MHz", " 3777 MHz", " 5"},
      {"FREQ:STAR 433.92 MHZ;STOP 2.45 GHZ;:SWE:POIN 9", " 433.92 MHz", " 2702.01 MHz", " 9"},
      {"FREQ:STAR 0.5 MHZ;STOP 100.5 MHZ;:SWE:POIN 11", " .5 MHz", " 110.5 MHz", " 11"},
      {"FREQ:STAR 3026940000;STOP 3027940000;:SWE:POIN 5", " 3026.94 MHz", " 3028.19 MHz", " 5"},
      {"FREQ:CENT 1 GHZ;SPAN 100 MHZ;:SWE:POIN 6", " 950 MHz", " 1070 MHz", " 6"},
      // The step as the device is sent it: 16.666667 MHz in 10 Hz.
      {"FREQ:STAR 100 MHZ;STOP 200 MHZ;:SWE:POIN 7", " 100 MHz", " 216.66669 MHz", " 7"},
      {"FREQ:STAR 10;STOP 1 MHZ;:SWE:POIN 100", " 1E-05 MHz", " 1.01001 MHz", " 100"},
      {"FREQ:STAR 4300 MHZ;STOP 4400 MHZ;:SWE:POIN 9999", " 4300 MHz", " 4399.99 MHz", " 9999"},
  };
  Served panel;
  panel.remote("OUTP ON;:FREQ:MODE SWE");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    panel.remote(c.line);
    EXPECT_EQ(panel.form.Text_star.Text(), c.start);
    EXPECT_EQ(panel.form.Text_end.Text(), c.end);
    EXPECT_EQ(panel.form.Text_sample.Text(), c.samples);

    panel.remote("INIT");
    const std::string scripts = panel.port.written.back();
    ASSERT_EQ(scripts.substr(0, 2), "$W");
    panel.pass_runs();
    panel.form.run([&] { panel.form.Command_signal.click(); });
    EXPECT_EQ(panel.port.written.back(), scripts) << "the hand's pass on the fields shown";
    EXPECT_EQ(panel.form.Text_end.Text(), c.end);
    panel.pass_runs();
  }
  EXPECT_TRUE(panel.boxes.shown.empty());
}

}  // namespace
}  // namespace talmir880::testing
