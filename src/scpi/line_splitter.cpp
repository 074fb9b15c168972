#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {

void LineSplitter::feed(std::string_view bytes, const std::function<void(std::string)>& on_line,
                        const std::function<void()>& on_overrun) {
  while (!bytes.empty()) bytes.remove_prefix(feed_one(bytes, on_line, on_overrun));
}

std::size_t LineSplitter::feed_one(std::string_view bytes,
                                   const std::function<void(std::string)>& on_line,
                                   const std::function<void()>& on_overrun) {
  const std::size_t lf = bytes.find('\n');
  const std::string_view piece = bytes.substr(0, lf);
  if (!dropping_) {
    if (partial_.size() + piece.size() > kMaxLine) {
      partial_.clear();
      dropping_ = true;
      on_overrun();
    } else {
      partial_.append(piece);
    }
  }
  if (lf == std::string_view::npos) return bytes.size();
  if (dropping_) {
    dropping_ = false;
  } else {
    if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
    std::string line;
    line.swap(partial_);
    on_line(std::move(line));
  }
  return lf + 1;
}

}  // namespace talmir880::scpi
