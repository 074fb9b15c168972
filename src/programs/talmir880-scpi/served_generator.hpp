#pragma once

// One generator the server serves: its port, its instrument with the clocks
// and switch-offs it runs on, and its lines in the journal.

#include <functional>
#include <memory>
#include <string>

#include "link/qt/qt_countdown.hpp"
#include "link/serial_port.hpp"
#include "programs/common/qt/instrument_clocks.hpp"
#include "programs/talmir880-scpi/journal.hpp"
#include "programs/talmir880-scpi/options.hpp"
#include "scpi/instrument.hpp"

namespace talmir880::programs {

class ServedGenerator {
 public:
  ServedGenerator(const PortChoice& choice, const ServerOptions& options);
  ServedGenerator(const ServedGenerator&) = delete;
  ServedGenerator& operator=(const ServedGenerator&) = delete;

  scpi::Instrument& instrument() { return *instrument_; }
  const std::string& device() const { return device_; }

  // Whether it is there to be announced: not after the device went; for a
  // serial port only while the adapter's device is (cheap enough to ask
  // every few seconds; nothing is opened), for one whose host name did not
  // resolve at start only once it has been reached.
  bool present() const;
  // A device that went, or was absent at start, is tried again where it
  // may be back, so that it is announced again without a client's command.
  void look_for_device();

  // A server takes a generator over as an instrument powers up: off, once
  // its faces listen, so that the first line says where.
  void take_over(const ServerOptions& options);
  // The switch-off for the exit, the only one from then on.
  void switch_off_for_exit(std::function<void()> done);

 private:
  void keep_safe(const ServerOptions& options);
  bool resolves(const PortChoice& choice);
  static bool adapter_there(const PortChoice& choice);
  static std::unique_ptr<SerialPort> open_line(const PortChoice& choice);

  PortChoice choice_;
  std::unique_ptr<SerialPort> line_;
  std::string device_;
  std::string unresolved_;  // why the host name did not resolve at start
  JournalEvents journal_;   // outlives the instrument
  InstrumentClocks clocks_;
  std::unique_ptr<scpi::Instrument> instrument_;
  QtCountdown unattended_;
};

}  // namespace talmir880::programs
