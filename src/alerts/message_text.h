// How the passes build their texts: message bodies line by line, each line ending in CR LF,
// and the one shape of every log line.
#pragma once

#include <string>
#include <string_view>

#include "base/date_time.h"
#include "base/one_line.h"
#include "base/text_form.h"

namespace corvane::alerts {

inline constexpr std::string_view kCrLf = "\r\n";

class MessageBody {
 public:
  // `label` followed by `value` and CR LF.
  MessageBody& Line(std::string_view label, std::string_view value = {}) {
    text_ += label;
    text_ += value;
    text_ += kCrLf;
    return *this;
  }
  // Text with no line break after it (the end of a body).
  MessageBody& Text(std::string_view text) {
    text_ += text;
    return *this;
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

// `head`, two TABs, `name`, three TABs, the date and time in their general form, CR LF. Head
// and name carry database values: each is shown on one line (OneLineText), so an alert is one
// line of the log whatever its row holds.
inline std::string LogLine(std::string_view head, std::string_view name, DateTime now) {
  std::string line = OneLineText(head);
  line += "\t\t";
  line += OneLineText(name);
  line += "\t\t\t";
  line += GeneralDate(now);
  line += kCrLf;
  return line;
}

}  // namespace corvane::alerts
