#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace talmir880 {

// A fault of the serial port, carrying the system's own description and,
// where it is known, what kind of fault it is, so a program can say why.
class PortError : public std::runtime_error {
 public:
  enum class Cause {
    other,
    busy,        // another program holds the port
    missing,     // no such port
    gone,        // the device went away while the port was open
    closed,      // the port is another's to open, and it is closed
    network,     // the network link to the device dropped, or could not be made
    unresolved,  // the device's host name does not resolve
  };
  explicit PortError(const std::string& what, Cause cause = Cause::other)
      : std::runtime_error(what), cause_(cause) {}
  Cause cause() const { return cause_; }

 private:
  Cause cause_;
};

// The serial-port service the panel drives, with exactly the operations it
// uses. CommPort and Settings are written only while the port is closed;
// opening reports a missing, busy or misconfigured port by throwing PortError.
// Output writes the bytes as given, adding nothing. Input returns every byte
// received and not yet read (one char each, in arrival order) and forgets
// them. OnComm is raised on the user-interface thread whenever bytes arrive
// and on the port's other events, to the one who hears the port.
class PortEvents {
 public:
  virtual void OnComm() = 0;

 protected:
  ~PortEvents() = default;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  virtual void set_CommPort(int number) = 0;
  virtual void set_Settings(const std::string& settings) = 0;
  virtual bool PortOpen() const = 0;
  virtual void set_PortOpen(bool open) = 0;
  virtual void Output(std::string_view data) = 0;
  virtual std::string Input() = 0;

  // Who hears the port's events from now on; nullptr: nobody.
  void hear(PortEvents* hearer) { hearer_ = hearer; }
  PortEvents* hearer() const { return hearer_; }

 protected:
  void raise_OnComm() {
    if (hearer_ != nullptr) hearer_->OnComm();
  }

 private:
  PortEvents* hearer_ = nullptr;
};

// The ports the panel's list offers, COM1 to COM10, and the one it starts
// at; the server's --port takes the same.
inline constexpr int kFirstCommPort = 1;
inline constexpr int kLastCommPort = 10;
inline constexpr int kStartUpCommPort = 9;

// "57600,n,8,1": baud rate, parity letter, data bits, stop bits.
struct LineSettings {
  int baud = 0;
  char parity = 'n';
  int data_bits = 8;
  int stop_bits = 1;
};

// Throws PortError for a string the port cannot take.
LineSettings parse_settings(std::string_view settings);

}  // namespace talmir880
