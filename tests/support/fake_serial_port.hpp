#pragma once

#include <string>
#include <vector>

#include "link/serial_port.hpp"
#include "support/deliver.hpp"

namespace talmir880::testing {

// A serial port played by the test: it records every write and hands the
// test's bytes to Input.
class FakeSerialPort : public SerialPort {
 public:
  void set_CommPort(int number) override {
    if (fail_config) throw PortError("no such port", PortError::Cause::missing);
    comm_port = number;
  }
  void set_Settings(const std::string& text) override {
    parse_settings(text);
    settings = text;
  }
  bool PortOpen() const override { return open; }
  void set_PortOpen(bool value) override {
    if (value) ++open_attempts;
    if (value && fail_open) throw PortError("port busy", open_cause);
    open = value;
    ++open_calls;
  }
  void Output(std::string_view data) override {
    if (fail_write) throw PortError("device gone", lost_cause);
    written.emplace_back(data);
  }
  std::string Input() override {
    if (fail_read) throw PortError("read failed", lost_cause);
    std::string out;
    out.swap(pending);
    return out;
  }

  // Bytes arrive and the port raises its event, as the real one does; what
  // the rooms tell each other is heard once it has returned, as from the
  // program's loop.
  void receive(const std::string& bytes) {
    pending += bytes;
    raise_OnComm();
    deliver();
  }

  std::vector<std::string> written;
  std::string pending;
  int comm_port = 0;
  std::string settings;
  bool open = false;
  int open_calls = 0;
  int open_attempts = 0;
  bool fail_config = false;
  bool fail_open = false;
  PortError::Cause open_cause = PortError::Cause::busy;
  bool fail_write = false;
  bool fail_read = false;
  // Why a write or a read fails: a device gone, or the network to it.
  PortError::Cause lost_cause = PortError::Cause::gone;
};

}  // namespace talmir880::testing
