#include "generator/status.hpp"

#include <array>

namespace talmir880 {

std::string_view error_text(int code) {
  for (const ErrorRow& e : kErrors) {
    if (e.code == code) return e.text;
  }
  return "Error";
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

void Status::report(int code, std::string_view detail, bool event) {
  any_error_ = true;
  esr_ |= event_bit(code);
  std::string text(error_text(code));
  if (!detail.empty()) text.append(";").append(detail);
  if (queue_.size() < kQueueSize) {
    queue_.push_back({code, std::move(text), event});
  } else if (queue_.back().code != kQueueOverflow) {
    queue_.back() = {kQueueOverflow, std::string(error_text(kQueueOverflow))};
  }
}

std::string Status::next_error() {
  if (queue_.empty()) return "0,\"" + std::string(error_text(0)) + "\"";
  Entry e = std::move(queue_.front());
  queue_.pop_front();
  return std::to_string(e.code) + ",\"" + e.text + "\"";
}

std::string Status::all_errors() {
  std::string out = next_error();
  while (!queue_.empty()) out += "," + next_error();
  return out;
}

void Status::clear() {
  queue_.clear();
  esr_ = 0;
  ++clears_;
  operation.clear_event();
  questionable.clear_event();
}

void StatusRegister::set_condition(int bit, bool on) {
  if (on && (condition_ & bit) == 0) event_ |= bit;
  condition_ = on ? condition_ | bit : condition_ & ~bit;
}

int StatusRegister::read_event() {
  const int value = event_;
  event_ = 0;
  return value;
}

int Status::read_event_status() {
  const int value = esr_;
  esr_ = 0;
  return value;
}

int Status::status_byte(bool message_available) const {
  int stb = 0;
  if (questionable.summary()) stb |= kQuestionableSummary;
  if (operation.summary()) stb |= kOperationSummary;
  if (!queue_.empty()) stb |= kEav;
  if (message_available) stb |= kMav;
  if ((esr_ & ese_) != 0) stb |= kEsb;
  if ((stb & sre_) != 0) stb |= kMss;
  return stb;
}

Status& StatusBoard::add(ClientId client) {
  Status& status = statuses_[client];
  status.operation.adopt(operation_);
  status.questionable.adopt(questionable_);
  return status;
}

Status* StatusBoard::find(ClientId client) {
  const auto at = statuses_.find(client);
  return at == statuses_.end() ? nullptr : &at->second;
}

void StatusBoard::report(ClientId client, int code, std::string_view detail) {
  if (Status* status = find(client)) status->report(code, detail);
}

void StatusBoard::report_all(int code, std::string_view detail) {
  for (auto& [client, status] : statuses_) status.report(code, detail, true);
}

void StatusBoard::set_operation(int bit, bool on) {
  operation_ = on ? operation_ | bit : operation_ & ~bit;
  for (auto& [client, status] : statuses_) status.operation.set_condition(bit, on);
}

void StatusBoard::set_questionable(int bit, bool on) {
  questionable_ = on ? questionable_ | bit : questionable_ & ~bit;
  for (auto& [client, status] : statuses_) status.questionable.set_condition(bit, on);
}

}  // namespace talmir880
