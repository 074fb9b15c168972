#pragma once

#include <array>
#include <string>
#include <string_view>

#include "toolkit/controls.hpp"

namespace talmir880 {

enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

struct Message {
  std::string text;
  std::string title;
  Buttons buttons = Buttons::Ok;
};

// A modal message box with no icon. The call returns the answer; while the
// box is open, timers and serial events keep being handled.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual Answer show(const Message& message) = 0;
};

// One text per language, in the order of the language list.
using Phrase = std::array<std::string_view, 3>;

inline constexpr std::string_view kPanelTitle = "TALMIR-880控制软件";
inline constexpr std::string_view kApplicationTitle = "TALMIR-880";

// Message boxes in the window's current language, which is nothing but the
// selected index of the language list.
class Notices {
 public:
  Notices(MessageBoxes& boxes, const ComboBox& language) : boxes_(boxes), language_(language) {}

  int language() const;
  std::string_view pick(const Phrase& phrase) const {
    return phrase[static_cast<std::size_t>(language())];
  }
  void tell(const Phrase& phrase, std::string_view title = kPanelTitle) const;
  Answer ask(std::string text) const;

 private:
  MessageBoxes& boxes_;
  const ComboBox& language_;
};

}  // namespace talmir880
