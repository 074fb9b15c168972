#include "link/receive_text.hpp"

#include "protocol/commands.hpp"

namespace talmir880 {

static_assert(ReceiveText::kKept > protocol::kCharsPerSweepPoint * protocol::kMaxSweepPoints,
              "the kept text holds the longest sweep");

bool ReceiveText::append(std::string_view chunk) {
  length_ += chunk.size();
  if (text_.size() < kKept) text_.append(chunk.substr(0, kKept - text_.size()));
  // Only the new chunk needs looking at: an R seen earlier stays seen.
  has_r_ = has_r_ || protocol::acknowledges(chunk);
  return has_r_;
}

void ReceiveText::clear() {
  text_.clear();
  length_ = 0;
  has_r_ = false;
}

}  // namespace talmir880
