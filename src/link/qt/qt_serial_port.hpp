#pragma once

#include <QSerialPort>
#include <string>
#include <string_view>

#include "link/serial_port.hpp"

namespace talmir880 {

// The serial-port service on QSerialPort. Events arrive on the thread that
// made the object, which is the user-interface thread.
//
// What the device sends is told as it comes, one OnComm per readyRead: a USB
// adapter already hands a stream over in batches (every 16 ms is common), so
// batching it again here saves nothing (docs/performance.md).
//
// A device that goes away while the port is open (a pulled USB adapter, a
// simulator that quits) is reported once: OnComm is raised, the next Input
// throws PortError, later ones return nothing, and Output throws. The port
// still reads as open, since only the user closes it; closing then succeeds
// and a later open finds the device again once it is back.
class QtSerialPort final : public SerialPort {
 public:
  QtSerialPort();
  ~QtSerialPort() override;
  QtSerialPort(const QtSerialPort&) = delete;
  QtSerialPort& operator=(const QtSerialPort&) = delete;

  void set_CommPort(int number) override;
  void set_Settings(const std::string& settings) override;
  bool PortOpen() const override { return state_ != State::Closed; }
  void set_PortOpen(bool open) override;
  void Output(std::string_view data) override;
  std::string Input() override;

  // Opens this device from now on, whatever CommPort says; for a program
  // told a device path instead of a port number.
  void set_device_path(std::string path);

  int CommPort() const { return comm_port_; }
  const std::string& Settings() const { return settings_; }
  // The device the port was last opened on, for messages and tests.
  const std::string& device() const { return device_; }
  // True from the moment the device is known to be gone until the user closes.
  bool lost() const { return state_ == State::Lost; }

 private:
  enum class State { Closed, Open, Lost };

  void open();
  void close();
  void on_error(QSerialPort::SerialPortError error);
  void lose(std::string why);
  std::string describe(const QString& what) const;

  int comm_port_ = 1;
  std::string device_path_;
  std::string settings_ = "9600,n,8,1";
  LineSettings line_;
  std::string device_;
  State state_ = State::Closed;
  // Bumped by each open, so a late call queued for an earlier session stays
  // away from the port opened since.
  unsigned session_ = 0;
  std::string fault_;
  bool fault_untold_ = false;
  // Last, so it goes first: its queued calls and connections refer to the
  // members above.
  QSerialPort port_;
};

}  // namespace talmir880
