#include "toolkit/message_box.hpp"

namespace talmir880 {

int Notices::language() const {
  int index = language_.ListIndex();
  return index >= 0 && index <= 2 ? index : 0;
}

void Notices::tell(const Phrase& phrase, std::string_view title) const {
  boxes_.show({std::string(pick(phrase)), std::string(title), Buttons::Ok});
}

Answer Notices::ask(std::string text) const {
  return boxes_.show({std::move(text), std::string(kPanelTitle), Buttons::OkCancel});
}

}  // namespace talmir880
