#pragma once

#include <gtest/gtest.h>

#include <memory>

#include <string>
#include <utility>
#include <vector>

#include "scpi/instrument.hpp"
#include "support/fake_serial_port.hpp"
#include "support/manual_countdown.hpp"

namespace talmir880::testing {

// One instrument on a fake port with hand-run countdowns, and four clients
// attached, whose ids are 1 to 4.
class InstrumentTest : public ::testing::Test {
 protected:
  // Keeps what the instrument tells one client.
  struct Recorder : scpi::ClientEvents {
    Recorder(InstrumentTest& test, ClientId id) : test(test), id(id) {}
    void answer(std::string text) override { test.answers.emplace_back(id, std::move(text)); }
    void room() override { ++rooms; }
    void finished() override { ++finishes; }
    InstrumentTest& test;
    ClientId id;
    int rooms = 0;
    int finishes = 0;
  };

  // `settled`: as a server that took the generator over, the device known
  // off; otherwise as one that starts, the port closed and nothing known.
  explicit InstrumentTest(bool settled = true) {
    watchdog.ran_out = [this] { instrument.watchdog_ran_out(); };
    stall.ran_out = [this] { instrument.stall_ran_out(); };
    quiet.ran_out = [this] { instrument.quiet_ran_out(); };
    reopen.ran_out = [this] { instrument.reopen_ran_out(); };
    for (ClientId id = 1; id <= 4; ++id) {
      clients.push_back(std::make_unique<Recorder>(*this, id));
      EXPECT_EQ(instrument.attach(*clients.back()), id);
    }
    if (!settled) return;
    instrument.switch_off();
    acknowledge_all();
    port.written.clear();
    port.open_calls = port.open_attempts = 0;
  }

  // The RF output and the modulation on, as most tests want them; the
  // commands that did it are forgotten.
  void switch_on() {
    run("OUTP ON;:OUTP:MOD ON");
    port.written.clear();
  }
  // The device acknowledges every command that waits for it, including
  // those the acknowledgements let through.
  void acknowledge_all() {
    deliver();
    while (watchdog.running()) port.receive("R");
  }
  // A client's line comes in, and the loop runs once: what it did is heard,
  // the device has not answered yet.
  void submit(ClientId client, const std::string& line) {
    instrument.submit(client, line);
    deliver();
  }
  // A line of a client (1 unless told) with a willing device; its answer,
  // if any.
  std::string run(const std::string& line, ClientId client = 1) {
    const std::size_t before = answers.size();
    instrument.submit(client, line);
    acknowledge_all();
    for (std::size_t i = answers.size(); i > before; --i) {
      if (answers[i - 1].first == client) return answers[i - 1].second;
    }
    return "";
  }
  // Every error queued for a client, oldest first, as SYST:ERR? gives them.
  std::vector<std::string> errors(ClientId client = 1) {
    std::vector<std::string> out;
    for (std::string e = run("SYST:ERR?", client); e != "0,\"No error\"";
         e = run("SYST:ERR?", client)) {
      out.push_back(e);
      if (out.size() > 100) break;
    }
    return out;
  }
  std::vector<std::string> written_since(std::size_t from) const {
    return {port.written.begin() + static_cast<std::ptrdiff_t>(from), port.written.end()};
  }
  // n points' worth of the device's sweep reports, then as long a quiet
  // line as the end of a pass needs.
  void report_points(std::size_t n) {
    port.receive(std::string(4 * n, '.'));
    quiet.run_out();
  }

  FakeSerialPort port;
  ManualCountdown watchdog;
  ManualCountdown stall;
  ManualCountdown quiet;
  ManualCountdown reopen;
  scpi::Instrument instrument{port, {watchdog, stall, quiet, reopen}};
  std::vector<std::pair<ClientId, std::string>> answers;
  std::vector<std::unique_ptr<Recorder>> clients;
};

}  // namespace talmir880::testing
