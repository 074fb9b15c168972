#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "scpi/instrument.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"

namespace talmir880::testing {

using scpi::ClientId;

// One instrument on a fake port with hand-run countdowns. The port starts
// closed, as the server's does.
class InstrumentTest : public ::testing::Test {
 protected:
  InstrumentTest() {
    watchdog.ran_out = [this] { instrument.watchdog_ran_out(); };
    stall.ran_out = [this] { instrument.stall_ran_out(); };
    instrument.answer = [this](ClientId client, std::string text) {
      answers.emplace_back(client, std::move(text));
    };
  }

  // The device acknowledges every command that waits for it, including
  // those the acknowledgements let through.
  void acknowledge_all() {
    while (watchdog.running()) port.receive("R");
  }
  // A line of client 1 with a willing device; its answer, if any.
  std::string run(const std::string& line) {
    const std::size_t before = answers.size();
    instrument.submit(1, line);
    acknowledge_all();
    return answers.size() > before ? answers.back().second : "";
  }
  // Every queued error, oldest first, as SYST:ERR? gives them.
  std::vector<std::string> errors() {
    std::vector<std::string> out;
    for (std::string e = run("SYST:ERR?"); e != "0,\"No error\""; e = run("SYST:ERR?")) {
      out.push_back(e);
      if (out.size() > 100) break;
    }
    return out;
  }
  std::vector<std::string> written_since(std::size_t from) const {
    return {port.written.begin() + static_cast<std::ptrdiff_t>(from), port.written.end()};
  }
  // n points' worth of the device's sweep reports.
  void report_points(std::size_t n) { port.receive(std::string(4 * n, '.')); }

  FakeSerialPort port;
  ManualCountdown watchdog;
  ManualCountdown stall;
  scpi::Instrument instrument{port, watchdog, stall};
  std::vector<std::pair<ClientId, std::string>> answers;
};

}  // namespace talmir880::testing
