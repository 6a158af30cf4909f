// What may leave the process (base/output.h): the program's own words, the numbers it measured,
// and text from outside that has passed the run's SecretGuard (base/secret_guard.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace corvane {

class SecretGuard;

// The program's own words: a text fixed when the program was built (consteval, so nothing read
// at run time can pose as one). They leave the process as they are, so that a password that
// happens to be an ordinary word cannot swallow the words of a report.
class Own {
 public:
  template <std::size_t N>
  consteval Own(const char (&words)[N]) : text_(words, N - 1) {}  // NOLINT: implicit on purpose
  consteval explicit Own(std::string_view words) : text_(words) {}
  constexpr std::string_view text() const { return text_; }

 private:
  std::string_view text_;
};

// Text that may leave the process: the program's own words, the numbers it measured, and text
// that has passed the guard, joined in any order. Outputs take nothing else without masking it
// whole (base/output.h).
class GuardedText {
 public:
  GuardedText() = default;
  GuardedText(Own words) : text_(words.text()) {}  // NOLINT: implicit on purpose
  static GuardedText Number(long long value);
  // Fixed-point, `decimals` after the point, whatever the locale.
  static GuardedText Number(double value, int decimals);

  GuardedText& operator+=(const GuardedText& more) {
    text_ += more.text_;
    return *this;
  }
  friend GuardedText operator+(GuardedText a, const GuardedText& b) { return a += b; }
  // Blanks at the end up to `width` characters, for a column.
  GuardedText& PadTo(std::size_t width) {
    if (text_.size() < width) text_.resize(width, ' ');
    return *this;
  }

  const std::string& str() const { return text_; }
  bool empty() const { return text_.empty(); }

 private:
  friend class SecretGuard;
  explicit GuardedText(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

}  // namespace corvane
