#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <string_view>

namespace talmir880 {

// A client of the instrument; ids are not reused.
using ClientId = std::uint64_t;
// What no client did: the front panel, the device on its own.
inline constexpr ClientId kNoClient = 0;

// Every error this instrument reports: its SCPI number and standard text.
struct ErrorRow {
  int code;
  std::string_view text;
};
inline constexpr std::array<ErrorRow, 16> kErrors = {{
    {0, "No error"},
    {-100, "Command error"},
    {-102, "Syntax error"},
    {-104, "Data type error"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-113, "Undefined header"},
    {-131, "Invalid suffix"},
    {-213, "Init ignored"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-224, "Illegal parameter value"},
    {-240, "Hardware error"},
    {-241, "Hardware missing"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
}};

// The number of the row with this text; a text no row has does not build.
consteval int error_code(std::string_view text) {
  for (const ErrorRow& row : kErrors) {
    if (row.text == text) return row.code;
  }
  throw "no such error";
}

inline constexpr int kCommandError = error_code("Command error");
inline constexpr int kSyntaxError = error_code("Syntax error");
inline constexpr int kDataTypeError = error_code("Data type error");
inline constexpr int kParameterNotAllowed = error_code("Parameter not allowed");
inline constexpr int kMissingParameter = error_code("Missing parameter");
inline constexpr int kUndefinedHeader = error_code("Undefined header");
inline constexpr int kInvalidSuffix = error_code("Invalid suffix");
inline constexpr int kInitIgnored = error_code("Init ignored");
inline constexpr int kSettingsConflict = error_code("Settings conflict");
inline constexpr int kDataOutOfRange = error_code("Data out of range");
inline constexpr int kIllegalParameterValue = error_code("Illegal parameter value");
inline constexpr int kHardwareError = error_code("Hardware error");
inline constexpr int kHardwareMissing = error_code("Hardware missing");
inline constexpr int kQueueOverflow = error_code("Queue overflow");
inline constexpr int kInputBufferOverrun = error_code("Input buffer overrun");

// The standard text of an error number ("Data out of range").
std::string_view error_text(int code);

// Thrown inside the core when a command cannot be taken; never leaves it.
struct Refused {
  int code;
  std::string_view detail = {};  // after the standard text, with a ';'
};

// A SCPI status register group: a condition, an event register that latches
// the condition's rising edges and is cleared by reading, and an enable mask
// that makes its summary bit.
class StatusRegister {
 public:
  void set_condition(int bit, bool on);
  int condition() const { return condition_; }
  int read_event();
  // The bits an enable can hold: 15, bit 15 being always 0.
  static constexpr int kMask = 0x7fff;

  void set_enable(int mask) { enable_ = mask & kMask; }
  int enable() const { return enable_; }
  bool summary() const { return (event_ & enable_) != 0; }
  void clear_event() { event_ = 0; }
  // A new client's view of a condition that is already so: nothing latched.
  void adopt(int condition) { condition_ = condition; }

 private:
  int condition_ = 0;
  int event_ = 0;
  int enable_ = 0;
};

// One client's error queue, IEEE 488.2 status registers and SCPI operation
// and questionable registers (StatusBoard keeps their conditions the
// device's, the same for all). An error sets the event status bit of its class: command
// errors CME, execution errors EXE, device errors DDE, query errors QYE.
class Status {
 public:
  // Deep enough for a script that checks only at its end; the newest error
  // gives way to -350 when it is full.
  static constexpr std::size_t kQueueSize = 32;

  // The bits of the 8-bit registers (*ESE, *SRE).
  static constexpr int kByteMask = 0xff;
  // Event status register bits.
  static constexpr int kOpc = 1 << 0;
  static constexpr int kQye = 1 << 2;
  static constexpr int kDde = 1 << 3;
  static constexpr int kExe = 1 << 4;
  static constexpr int kCme = 1 << 5;
  // Status byte bits.
  static constexpr int kQuestionableSummary = 1 << 3;
  static constexpr int kOperationSummary = 1 << 7;
  static constexpr int kEav = 1 << 2;
  static constexpr int kMav = 1 << 4;
  static constexpr int kEsb = 1 << 5;
  static constexpr int kMss = 1 << 6;

  // Queues the error with its standard text, and ";detail" when given;
  // `event`: the device's own, told to every client.
  void report(int code, std::string_view detail = {}, bool event = false);
  // The oldest error as SYST:ERR? answers it, 0,"No error" when none.
  std::string next_error();
  // Every queued error, oldest first, joined by ',' (SYST:ERR:ALL?).
  std::string all_errors();
  std::size_t queued() const { return queue_.size(); }
  // The oldest error is an event of the device, not of a command.
  bool next_is_event() const { return !queue_.empty() && queue_.front().event; }
  // Whether any error was reported since start, read or cleared since or not.
  bool any_error() const { return any_error_; }

  // *CLS: the queue and every event register; an *OPC still waiting is
  // forgotten, which it learns by comparing clears().
  void clear();
  unsigned clears() const { return clears_; }
  // Operation bit 3: a sweep pass runs.
  static constexpr int kSweeping = 1 << 3;
  // Questionable bit 9: the device did not answer the last exchange.
  static constexpr int kNotAnswering = 1 << 9;
  // Questionable bit 10: the output or the modulation is not confirmed (a
  // command for it went unanswered, or nothing was acknowledged for it
  // since the port opened): it may be on.
  static constexpr int kNotConfirmed = 1 << 10;
  StatusRegister operation;
  StatusRegister questionable;
  void operation_complete() { esr_ |= kOpc; }
  int event_status() const { return esr_; }
  // *ESR?: reading clears it.
  int read_event_status();
  void set_event_enable(int mask) { ese_ = mask & kByteMask; }
  int event_enable() const { return ese_; }
  // Bit 6 of the service request enable cannot be set.
  void set_service_enable(int mask) { sre_ = mask & kByteMask & ~kMss; }
  int service_enable() const { return sre_; }
  // *STB?: the questionable and operation summaries, EAV, MAV when the
  // asking line has answers waiting, ESB, MSS.
  int status_byte(bool message_available) const;

 private:
  struct Entry {
    int code;
    std::string text;
    bool event = false;
  };
  std::deque<Entry> queue_;
  bool any_error_ = false;
  unsigned clears_ = 0;
  int esr_ = 0;
  int ese_ = 0;
  int sre_ = 0;
};

// Every client's Status. A command's error goes to the client that sent it,
// and is dropped once that client has gone; an event of the device goes to
// every client. The operation and questionable conditions describe the
// device, so they are shared, but each client latches their edges in its
// own event registers: one client reading its events clears no one else's.
class StatusBoard {
 public:
  // A new client's status, which starts from the conditions as they are.
  Status& add(ClientId client);
  void remove(ClientId client) { statuses_.erase(client); }
  // Nothing for a client that has gone (or for kNoClient).
  Status* find(ClientId client);

  void report(ClientId client, int code, std::string_view detail = {});
  void report_all(int code, std::string_view detail = {});
  void set_operation(int bit, bool on);
  void set_questionable(int bit, bool on);
  int operation() const { return operation_; }
  int questionable() const { return questionable_; }

 private:
  std::map<ClientId, Status> statuses_;
  int operation_ = 0;
  int questionable_ = 0;
};

}  // namespace talmir880
