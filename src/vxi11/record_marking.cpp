#include "vxi11/record_marking.hpp"

#include <algorithm>

namespace talmir880::vxi11 {

std::size_t RecordReader::wanted() const {
  if (complete_ || failed_) return 0;
  return in_fragment_ ? fragment_left_ : 4 - header_have_;
}

std::size_t RecordReader::feed(std::string_view bytes) {
  std::size_t used = 0;
  while (used < bytes.size() && !complete_ && !failed_) {
    if (!in_fragment_) {
      header_[header_have_++] = static_cast<std::uint8_t>(bytes[used++]);
      if (header_have_ < 4) continue;
      header_have_ = 0;
      const std::uint32_t word = (std::uint32_t{header_[0]} << 24) |
                                 (std::uint32_t{header_[1]} << 16) |
                                 (std::uint32_t{header_[2]} << 8) | std::uint32_t{header_[3]};
      last_ = (word & 0x80000000u) != 0;
      fragment_left_ = word & 0x7fffffffu;
      taken_ += 4;
      if (taken_ + fragment_left_ > kMaxRecord) {
        failed_ = true;
        break;
      }
      in_fragment_ = true;
    } else {
      const std::size_t n = std::min(fragment_left_, bytes.size() - used);
      record_.append(bytes.substr(used, n));
      used += n;
      fragment_left_ -= n;
      taken_ += n;
    }
    if (in_fragment_ && fragment_left_ == 0) {
      in_fragment_ = false;
      complete_ = last_;
    }
  }
  return used;
}

std::string RecordReader::take_record() {
  std::string out;
  out.swap(record_);
  taken_ = 0;
  complete_ = false;
  return out;
}

std::string frame_record(std::string_view message) {
  const auto length = static_cast<std::uint32_t>(message.size()) | 0x80000000u;
  std::string out;
  out.reserve(message.size() + 4);
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(length >> shift));
  out.append(message);
  return out;
}

}  // namespace talmir880::vxi11
