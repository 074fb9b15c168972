#include "scpi/line_splitter.hpp"

namespace talmir880::scpi {

void LineSplitter::feed(std::string_view bytes, const std::function<void(std::string)>& on_line,
                        const std::function<void()>& on_overrun) {
  while (!bytes.empty()) {
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
    if (lf == std::string_view::npos) return;
    bytes.remove_prefix(lf + 1);
    if (dropping_) {
      dropping_ = false;
      continue;
    }
    if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
    std::string line;
    line.swap(partial_);
    on_line(std::move(line));
  }
}

}  // namespace talmir880::scpi
