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
  Served() { served.instrument().attach(script); }

  ManualCountdown watchdog, stall, quiet, reopen;
  ServedPanel served{form, {watchdog, stall, quiet, reopen}};
  Idle script;
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

}  // namespace
}  // namespace talmir880::testing
