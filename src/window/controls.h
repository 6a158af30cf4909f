// Headless models of the window's controls: what a toolkit would hold, with no display.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace corvane::window {

// Position and size in twips from the top-left corner of the client area.
struct Bounds {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
};

// A multi-line text box. Its text can be read and written whole; AppendText adds to the end
// without copying what is there, so a log of n lines costs O(total length), not O(n^2).
class TextBox {
 public:
  TextBox(std::string name, Bounds bounds, int tab_index)
      : name_(std::move(name)), bounds_(bounds), tab_index_(tab_index) {}

  const std::string& name() const { return name_; }
  const Bounds& bounds() const { return bounds_; }
  int tab_index() const { return tab_index_; }
  bool multi_line() const { return true; }

  const std::string& text() const { return text_; }
  void set_text(std::string text) { text_ = std::move(text); }
  // new text = old text followed by `tail`, nothing between them.
  void AppendText(std::string_view tail) { text_.append(tail); }

 private:
  std::string name_;
  Bounds bounds_;
  int tab_index_;
  std::string text_;
};

class CommandButton {
 public:
  CommandButton(std::string name, std::string caption, Bounds bounds, int tab_index,
                std::function<void()> on_click)
      : name_(std::move(name)),
        caption_(std::move(caption)),
        bounds_(bounds),
        tab_index_(tab_index),
        on_click_(std::move(on_click)) {}

  const std::string& name() const { return name_; }
  const std::string& caption() const { return caption_; }
  const Bounds& bounds() const { return bounds_; }
  int tab_index() const { return tab_index_; }
  // What a click of the user does.
  void Click() const { on_click_(); }

 private:
  std::string name_;
  std::string caption_;
  Bounds bounds_;
  int tab_index_;
  std::function<void()> on_click_;
};

// A timer with no visible part. It ticks only while enabled; nothing drives it during a run.
class Timer {
 public:
  Timer(std::string name, std::chrono::milliseconds interval, bool enabled,
        std::function<void()> on_tick)
      : name_(std::move(name)),
        interval_(interval),
        enabled_(enabled),
        on_tick_(std::move(on_tick)) {}

  const std::string& name() const { return name_; }
  std::chrono::milliseconds interval() const { return interval_; }
  bool enabled() const { return enabled_; }
  void set_enabled(bool enabled) { enabled_ = enabled; }
  // Lets `elapsed` pass: one tick per full interval, and none while disabled. Returns the ticks.
  // Only tests call it: a headless window has no message loop, so they stand in for its clock.
  int Advance(std::chrono::milliseconds elapsed);

 private:
  std::string name_;
  std::chrono::milliseconds interval_;
  bool enabled_;
  std::function<void()> on_tick_;
  std::chrono::milliseconds pending_{0};
};

}  // namespace corvane::window
