#include "device/receive_text.hpp"

#include "protocol/commands.hpp"

namespace talmir880 {

static_assert(ReceiveText::kKept > protocol::kCharsPerSweepPoint * protocol::kMaxSweepPoints,
              "the kept text holds the longest sweep");

void ReceiveText::append(std::string_view chunk) {
  length_ += chunk.size();
  if (text_.size() < kKept) text_.append(chunk.substr(0, kKept - text_.size()));
}

void ReceiveText::clear() {
  text_.clear();
  length_ = 0;
}

}  // namespace talmir880
