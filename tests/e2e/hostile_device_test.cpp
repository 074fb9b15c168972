// The panel against a device the test plays itself on a pseudo-terminal:
// exact bytes on the line, and devices that send what no device should.
#include "e2e/panel_on_sim.hpp"
#include "platform/ports_folder.hpp"

namespace talmir880::testing {
namespace {

class PanelOnPty : public PanelOnSim {
 protected:
  void SetUp() override {
    PanelOnSim::SetUp();
    ASSERT_TRUE(device.ok());
    ensure_ports_folder();
    ASSERT_EQ(::symlink(device.slave_path().c_str(), port_link_path(9).c_str()), 0);
    open_port();
  }
  // Everything the panel wrote, once it has gone out.
  std::string line_out() {
    settle(50);
    return device.take();
  }
  // Feeds the panel a large amount in pieces the pseudo-terminal can hold,
  // letting the event loop read in between.
  void flood(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::write(device.master(), bytes.data() + sent, bytes.size() - sent);
      if (n > 0) sent += static_cast<std::size_t>(n);
      QCoreApplication::processEvents();
    }
  }

  Pty device;
};

TEST_F(PanelOnPty, TheKeypadWritesExactlyTheCommandAndNothingMore) {
  keys({"Command16", "Command1", "Command10", "Command10", "Command14"});
  EXPECT_EQ(line_out(), "$F010000000");
  EXPECT_EQ(text_of("Label_RF"), "RF 0 100.000 000 MHz");
  keys({"Command17", "Command2", "Command11", "Command5", "Command13"});
  pick("Combo1", 3);
  click("Command24");
  EXPECT_EQ(line_out(), "$M0002500$P0$S0");
}

TEST_F(PanelOnPty, AFivePointSweepEndsWithTheTwentiethCharacter) {
  type("Text_sample", "5");
  click("Command_signal");
  EXPECT_EQ(line_out(), "$W010000000080000000005");
  device.send("0001000200030004000");
  settle(150);
  EXPECT_EQ(widget<QProgressBar>("ProgressBar_sweep").value(), 95);
  EXPECT_FALSE(widget<QPushButton>("Command_signal").isEnabled());
  device.send("5");
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }));
  EXPECT_EQ(widget<QProgressBar>("ProgressBar_sweep").value(), 100);
  EXPECT_TRUE(widget<QPushButton>("Command_cont").isEnabled());
  EXPECT_FALSE(form.Timer_sweep.Enabled());
}

TEST_F(PanelOnPty, AMegabyteWithoutAnRIsCountedNotKeptAndTheNextRStillCounts) {
  flood(std::string(1 << 20, 'x'));
  ASSERT_TRUE(run_until([&] { return form.link.receive_data.size() == (1u << 20); }));
  EXPECT_LE(form.link.receive_data.text().size(), ReceiveText::kKept);
  device.send("R");  // an R while idle empties what collected
  ASSERT_TRUE(run_until([&] { return form.link.receive_data.empty(); }));
  keys({"Command16", "Command1", "Command14"});
  EXPECT_EQ(line_out(), "$F000100000");
  device.send("*R*");
  ASSERT_TRUE(run_until([&] { return !form.Timer1.Enabled(); }));
  settle(600);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(PanelOnPty, NulAndEightBitBytesAreOneCharacterEach) {
  type("Text_sample", "5");
  click("Command_signal");
  line_out();
  const std::string odd(
      "\0\xff\x80\x7f\x01\xfe\x0d\x0a\0\0\x81\xc3\xa9\x11\x13\x1b\x00\xaa\xbb\xcc", 20);
  device.send(odd);
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }));
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 100.0f);
  keys({"Command16", "Command1", "Command14"});
  device.send(std::string("\0\xd2R", 3));  // an R among binary bytes acknowledges
  ASSERT_TRUE(run_until([&] { return !form.Timer1.Enabled(); }));
}

TEST_F(PanelOnPty, ALowerCaseReplyIsToldOnceInTheCurrentLanguage) {
  pick("Combo3", 1);
  keys({"Command16", "Command1", "Command14"});
  device.send("*r*");
  settle(700);
  EXPECT_EQ(shown(), std::vector<std::string>{"沒有連機，操作錯誤！"});
}

TEST_F(PanelOnPty, ANoisyDeviceDuringAPassMakesItEndEarlyNeverBreaksTheBar) {
  type("Text_sample", "5");
  click("Command_signal");
  line_out();
  device.send(std::string(500, '0'));  // far more than 4 per point
  ASSERT_TRUE(run_until([&] { return widget<QPushButton>("Command_signal").isEnabled(); }));
  EXPECT_EQ(form.ProgressBar_sweep.Value(), 100.0f);
}

}  // namespace
}  // namespace talmir880::testing
