#include "scpi/status.hpp"

namespace talmir880::scpi {

std::string_view error_text(int code) {
  switch (code) {
    case 0:
      return "No error";
    case kCommandError:
      return "Command error";
    case kSyntaxError:
      return "Syntax error";
    case kDataTypeError:
      return "Data type error";
    case kParameterNotAllowed:
      return "Parameter not allowed";
    case kMissingParameter:
      return "Missing parameter";
    case kUndefinedHeader:
      return "Undefined header";
    case kInvalidSuffix:
      return "Invalid suffix";
    case kInitIgnored:
      return "Init ignored";
    case kSettingsConflict:
      return "Settings conflict";
    case kDataOutOfRange:
      return "Data out of range";
    case kIllegalParameterValue:
      return "Illegal parameter value";
    case kHardwareError:
      return "Hardware error";
    case kHardwareMissing:
      return "Hardware missing";
    case kQueueOverflow:
      return "Queue overflow";
    case kInputBufferOverrun:
      return "Input buffer overrun";
    default:
      return "Error";
  }
}

namespace {

int event_bit(int code) {
  if (code <= -100 && code > -200) return Status::kCme;
  if (code <= -200 && code > -300) return Status::kExe;
  if (code <= -300 && code > -400) return Status::kDde;
  if (code <= -400 && code > -500) return Status::kQye;
  return 0;
}

}  // namespace

void Status::report(int code, std::string_view detail) {
  any_error_ = true;
  esr_ |= event_bit(code);
  std::string text(error_text(code));
  if (!detail.empty()) text.append(";").append(detail);
  if (queue_.size() < kQueueSize) {
    queue_.push_back({code, std::move(text)});
  } else if (queue_.back().code != kQueueOverflow) {
    queue_.back() = {kQueueOverflow, std::string(error_text(kQueueOverflow))};
  }
}

std::string Status::next_error() {
  if (queue_.empty()) return "0,\"No error\"";
  Entry e = std::move(queue_.front());
  queue_.pop_front();
  return std::to_string(e.code) + ",\"" + e.text + "\"";
}

void Status::clear() {
  queue_.clear();
  esr_ = 0;
}

int Status::read_event_status() {
  const int value = esr_;
  esr_ = 0;
  return value;
}

int Status::status_byte(bool message_available) const {
  int stb = 0;
  if (!queue_.empty()) stb |= kEav;
  if (message_available) stb |= kMav;
  if ((esr_ & ese_) != 0) stb |= kEsb;
  if ((stb & sre_) != 0) stb |= kMss;
  return stb;
}

}  // namespace talmir880::scpi
