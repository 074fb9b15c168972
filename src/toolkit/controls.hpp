#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace talmir880 {

// The window's controls as plain objects. A face (the Qt binding, or a test)
// watches a control through on_change and mirrors every property change;
// user events come back in through the public event methods.
class Control {
 public:
  explicit Control(std::string name) : name_(std::move(name)) {}
  virtual ~Control() = default;
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  const std::string& name() const { return name_; }
  void on_change(std::function<void()> watcher) { watcher_ = std::move(watcher); }

 protected:
  void changed() const {
    if (watcher_) watcher_();
  }

 private:
  std::string name_;
  std::function<void()> watcher_;
};

class Button : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void set_Caption(std::string caption);
  bool Enabled() const { return enabled_; }
  void set_Enabled(bool enabled);

  std::function<void()> Click;
  // A press by the user; a disabled button cannot be pressed.
  void click() const {
    if (enabled_ && Click) Click();
  }

 private:
  std::string caption_;
  bool enabled_ = true;
};

// OLE colour values: red in the lowest byte.
inline constexpr int kBlack = 0;
inline constexpr int kRed = 255;

class Label : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void set_Caption(std::string caption);
  int ForeColor() const { return fore_color_; }
  void set_ForeColor(int color);

 private:
  std::string caption_;
  int fore_color_ = kBlack;
};

class TextBox : public Control {
 public:
  using Control::Control;
  const std::string& Text() const { return text_; }
  void set_Text(std::string text);
  // Typing by the user.
  void type(std::string text) { set_Text(std::move(text)); }

 private:
  std::string text_;
};

// A pick-only list. Setting ListIndex runs Click at once, also from code and
// also when the index does not change, as the panel's start-up relies on.
class ComboBox : public Control {
 public:
  using Control::Control;
  void AddItem(std::string text, int index);
  const std::vector<std::string>& items() const { return items_; }
  const std::string& List(int index) const { return items_.at(static_cast<std::size_t>(index)); }
  void set_List(int index, std::string text);
  int ListCount() const { return static_cast<int>(items_.size()); }
  int ListIndex() const { return list_index_; }
  void set_ListIndex(int index);

  std::function<void()> Click;
  // A pick by the user.
  void pick(int index) { set_ListIndex(index); }

 private:
  std::vector<std::string> items_;
  int list_index_ = -1;
};

class ProgressBar : public Control {
 public:
  using Control::Control;
  float Value() const { return value_; }
  // Like the real bar, a value outside Min..Max is refused.
  void set_Value(float value);
  static constexpr float Min = 0.0f;
  static constexpr float Max = 100.0f;

 private:
  float value_ = 0.0f;
};

// An interval timer. Enabling it (again) starts a fresh interval.
class Timer : public Control {
 public:
  Timer(std::string name, int interval_ms) : Control(std::move(name)), interval_(interval_ms) {}
  int Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  void set_Enabled(bool enabled);

  std::function<void()> Tick;
  void tick() const {
    if (Tick) Tick();
  }

 private:
  int interval_;
  bool enabled_ = false;
};

class Window : public Control {
 public:
  using Control::Control;
  const std::string& Caption() const { return caption_; }
  void set_Caption(std::string caption);
  // Off: no control of the window takes input; each keeps its own state.
  bool Enabled() const { return enabled_; }
  void set_Enabled(bool enabled);

 private:
  std::string caption_;
  bool enabled_ = true;
};

}  // namespace talmir880
