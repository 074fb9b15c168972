#include "programs/talmir880-scpi/served_generator.hpp"

#include <chrono>
#include <filesystem>
#include <utility>

#include "generator/status.hpp"
#include "link/qt/port_names.hpp"
#include "link/qt/qt_serial_port.hpp"
#include "link/qt/qt_tcp_port.hpp"
#include "programs/common/command_line.hpp"

namespace talmir880::programs {

ServedGenerator::ServedGenerator(const PortChoice& choice, const ServerOptions& options)
    : choice_(choice),
      line_(open_line(choice)),
      device_(choice.port_text()),
      // A TCP link is tried at the first command, and told then; a host
      // name that does not resolve is told now.
      journal_(device_, choice.remote_host.empty() ? adapter_there(choice) : resolves(choice),
               options.off_after_s),
      clocks_([quiet_time =
                   pass_quiet_time(parse_settings(options.settings).baud)] { return quiet_time; },
              [this]() -> scpi::Instrument& { return *instrument_; }),
      instrument_(std::make_unique<scpi::Instrument>(*line_, clocks_.countdowns())),
      unattended_(std::chrono::seconds(options.off_after_s),
                  [this] { instrument_->idle_ran_out(); }) {
  line_->set_Settings(options.settings);
  // The adapter may be plugged in later, the name resolve later: said, and
  // served all the same.
  if (!journal_.reachable() && choice.remote_host.empty()) {
    say(device_ + ": no such port; commands that need the device get " +
        std::to_string(kHardwareMissing) + " until it is there");
  } else if (!journal_.reachable()) {
    say(device_ + ": the host name " + choice.remote_host + " does not resolve (" + unresolved_ +
        "); commands that need the device get " + std::to_string(kHardwareMissing) +
        " until it does");
  }
  instrument_->name(choice.name);
  instrument_->set_baud(parse_settings(options.settings).baud);
  instrument_->take_turns(clocks_.next_turn());
  instrument_->observe(journal_);
  keep_safe(options);
}

bool ServedGenerator::present() const {
  if (!journal_.reachable()) return false;
  if (!choice_.remote_host.empty()) return unresolved_.empty() || journal_.reached();
  return adapter_there(choice_);
}

void ServedGenerator::look_for_device() {
  if (!journal_.reachable() && (!choice_.remote_host.empty() || adapter_there(choice_))) {
    instrument_->probe();
  }
}

void ServedGenerator::take_over(const ServerOptions& options) {
  instrument_->switch_off_when_reached(!options.leave_running);
}

void ServedGenerator::switch_off_for_exit(std::function<void()> done) {
  instrument_->keep_safe({});
  journal(device_ + ": RF and modulation off: the server stops");
  instrument_->switch_off(std::move(done));
}

// The switch-offs and the command log the options ask for.
void ServedGenerator::keep_safe(const ServerOptions& options) {
  instrument_->keep_safe(
      {options.off_when_unused, options.off_after_s > 0 ? &unattended_ : nullptr});
  if (options.log_commands) {
    // With several generators each line names its port first.
    journal_.log_commands(options.ports.size() > 1);
    instrument_->log_commands(true);
  }
}

bool ServedGenerator::resolves(const PortChoice& choice) {
  return QtTcpPort::resolves(choice.remote_host, unresolved_);
}

bool ServedGenerator::adapter_there(const PortChoice& choice) {
  std::error_code unknown;  // a device that cannot be looked at is not there
  return choice.device.empty() ? serial_port_location(choice.comm_port).has_value()
                               : std::filesystem::exists(choice.device, unknown);
}

std::unique_ptr<SerialPort> ServedGenerator::open_line(const PortChoice& choice) {
  if (!choice.remote_host.empty()) {
    return std::make_unique<QtTcpPort>(choice.remote_host, choice.remote_port);
  }
  auto serial = std::make_unique<QtSerialPort>();
  if (choice.device.empty()) {
    serial->set_CommPort(choice.comm_port);
  } else {
    serial->set_device_path(choice.device);
  }
  return serial;
}

}  // namespace talmir880::programs
