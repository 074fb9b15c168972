#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace talmir880 {

// What the device sent since the text was last emptied. Only its length and
// whether it holds an upper-case R matter to the panel, so a device that
// streams without end costs bounded memory: the text itself is kept up to a
// cap well above the longest sweep, the length always.
class ReceiveText {
 public:
  static constexpr std::size_t kKept = 64 * 1024;

  // Appends in time proportional to the chunk.
  void append(std::string_view chunk);
  void clear();
  bool empty() const { return length_ == 0; }
  std::size_t size() const { return length_; }
  // The first kKept characters.
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  std::size_t length_ = 0;
};

}  // namespace talmir880
