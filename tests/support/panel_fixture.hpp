#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/form1.hpp"
#include "support/fake_serial_port.hpp"
#include "support/scripted_boxes.hpp"
#include "toolkit/manual_clock.hpp"

namespace talmir880::testing {

inline const std::string kNoConnectEn = "no connect,operate error!";
inline const std::string kPanelTitleText = "TALMIR-880控制软件";

// The whole core after start-up, with a fake port, scripted boxes and a
// hand-driven clock: no display, no real time.
class PanelTest : public ::testing::Test {
 protected:
  PanelTest() {
    clock.attach(form.Timer1);
    clock.attach(form.Timer_sweep);
    form.Form_Load();
  }

  void open_port() {
    form.Command_uart_port_open.click();
    deliver();
    ASSERT_TRUE(port.open);
  }
  void english() { form.Combo3.pick(2); }
  void press(std::initializer_list<Button*> keys) {
    for (Button* key : keys) {
      form.run([key] { key->click(); });
      deliver();
    }
  }
  std::vector<std::string> texts_shown() const {
    std::vector<std::string> out;
    for (const Message& m : boxes.shown) out.push_back(m.text);
    return out;
  }

  FakeSerialPort port;
  ScriptedBoxes boxes;
  Form1 form{port, boxes};
  ManualClock clock;
};

}  // namespace talmir880::testing
