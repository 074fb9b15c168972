#pragma once

#include <deque>
#include <functional>
#include <vector>

#include "toolkit/message_box.hpp"

namespace talmir880::testing {

// Message boxes answered by the test: records what was shown, answers from a
// script (OK when the script is empty), and can run code while "open".
class ScriptedBoxes : public MessageBoxes {
 public:
  Answer show(const Message& message) override {
    shown.push_back(message);
    if (while_open) while_open();
    if (answers.empty()) return Answer::Ok;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::vector<Message> shown;
  std::deque<Answer> answers;
  std::function<void()> while_open;
};

}  // namespace talmir880::testing
