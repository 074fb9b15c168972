#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace talmir880::scpi {

// The SCPI error numbers this instrument reports.
inline constexpr int kCommandError = -100;
inline constexpr int kSyntaxError = -102;
inline constexpr int kDataTypeError = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kInvalidSuffix = -131;
inline constexpr int kInitIgnored = -213;
inline constexpr int kSettingsConflict = -221;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kHardwareError = -240;
inline constexpr int kHardwareMissing = -241;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kInputBufferOverrun = -363;

// The standard text of an error number ("Data out of range").
std::string_view error_text(int code);

// Thrown inside the core when a command cannot be taken; never leaves it.
struct Refused {
  int code;
};

// The error queue and the IEEE 488.2 status registers, shared by every client
// as on a real instrument. An error sets the event status bit of its class:
// command errors CME, execution errors EXE, device errors DDE, query errors QYE.
class Status {
 public:
  // Deep enough for a script that checks only at its end; the newest error
  // gives way to -350 when it is full.
  static constexpr std::size_t kQueueSize = 32;

  // Event status register bits.
  static constexpr int kOpc = 1 << 0;
  static constexpr int kQye = 1 << 2;
  static constexpr int kDde = 1 << 3;
  static constexpr int kExe = 1 << 4;
  static constexpr int kCme = 1 << 5;
  // Status byte bits.
  static constexpr int kEav = 1 << 2;
  static constexpr int kMav = 1 << 4;
  static constexpr int kEsb = 1 << 5;
  static constexpr int kMss = 1 << 6;

  // Queues the error with its standard text, and ";detail" when given.
  void report(int code, std::string_view detail = {});
  // The oldest error as SYST:ERR? answers it, 0,"No error" when none.
  std::string next_error();
  std::size_t queued() const { return queue_.size(); }
  // Whether any error was reported since start, read or cleared since or not.
  bool any_error() const { return any_error_; }

  // *CLS: the queue and the event status register.
  void clear();
  void operation_complete() { esr_ |= kOpc; }
  int event_status() const { return esr_; }
  // *ESR?: reading clears it.
  int read_event_status();
  void set_event_enable(int mask) { ese_ = mask & 0xff; }
  int event_enable() const { return ese_; }
  // Bit 6 of the service request enable cannot be set.
  void set_service_enable(int mask) { sre_ = mask & 0xff & ~kMss; }
  int service_enable() const { return sre_; }
  // *STB?: EAV, MAV when the asking line has answers waiting, ESB, MSS.
  int status_byte(bool message_available) const;

 private:
  struct Entry {
    int code;
    std::string text;
  };
  std::deque<Entry> queue_;
  bool any_error_ = false;
  int esr_ = 0;
  int ese_ = 0;
  int sre_ = 0;
};

}  // namespace talmir880::scpi
