#include "toolkit/controls.hpp"

#include <stdexcept>

namespace talmir880 {

void Button::set_Caption(std::string caption) {
  caption_ = std::move(caption);
  changed();
}

void Button::set_Enabled(bool enabled) {
  enabled_ = enabled;
  changed();
}

void Label::set_Caption(std::string caption) {
  caption_ = std::move(caption);
  changed();
}

void Label::set_ForeColor(int color) {
  fore_color_ = color;
  changed();
}

void TextBox::set_Text(std::string text) {
  text_ = std::move(text);
  changed();
}

void ComboBox::AddItem(std::string text, int index) {
  if (index < 0 || index > ListCount()) throw std::out_of_range("ComboBox::AddItem");
  items_.insert(items_.begin() + index, std::move(text));
  if (list_index_ >= index) ++list_index_;
  changed();
}

void ComboBox::set_List(int index, std::string text) {
  items_.at(static_cast<std::size_t>(index)) = std::move(text);
  changed();
}

void ComboBox::set_ListIndex(int index) {
  if (index < -1 || index >= ListCount()) throw std::out_of_range("ComboBox::ListIndex");
  list_index_ = index;
  changed();
  if (Click) Click();
}

void ProgressBar::set_Value(float value) {
  if (!(value >= Min && value <= Max)) throw std::out_of_range("ProgressBar::Value");
  value_ = value;
  changed();
}

void Timer::set_Enabled(bool enabled) {
  enabled_ = enabled;
  changed();
}

void Window::set_Caption(std::string caption) {
  caption_ = std::move(caption);
  changed();
}

void Window::set_Enabled(bool enabled) {
  enabled_ = enabled;
  changed();
}

}  // namespace talmir880
