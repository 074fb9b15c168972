#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace talmir880::scpi {

// Cuts a client's byte stream into program lines: each ends at an LF, and a
// CR before the LF is dropped. A line longer than kMaxLine is not kept: it
// is dropped whole, up to its LF, and reported once, so a client that never
// sends an LF costs at most kMaxLine bytes and still gets answers to its
// next line.
class LineSplitter {
 public:
  static constexpr std::size_t kMaxLine = 64 * 1024;

  void feed(std::string_view bytes, const std::function<void(std::string line)>& on_line,
            const std::function<void()>& on_overrun);
  // Takes the bytes up to and including the first LF (all of them when
  // there is none) and returns how many it took, so that a reader can stop
  // after any line and leave the rest where it is.
  std::size_t feed_one(std::string_view bytes, const std::function<void(std::string line)>& on_line,
                       const std::function<void()>& on_overrun);
  // The start of a line whose LF has not come yet.
  const std::string& partial() const { return partial_; }

 private:
  std::string partial_;
  bool dropping_ = false;
};

}  // namespace talmir880::scpi
