#include "base/one_line.h"

#include <cstdio>

namespace corvane {

namespace {

void AppendEscape(std::string& out, const char* format, unsigned code) {
  char escape[8];
  std::snprintf(escape, sizeof escape, format, code);
  out += escape;
}

}  // namespace

std::string OneLineText(std::string_view text, Tabs tabs) {
  const auto folds = [tabs](char c) {
    return c == ' ' || c == '\r' || c == '\n' || (c == '\t' && tabs == Tabs::kBlank);
  };
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t end = i;
    bool breaks = false;
    for (; end < text.size() && folds(text[end]); ++end) breaks = breaks || text[end] != ' ';
    if (end > i) {
      // Plain blanks stay as they are: fixed-width columns pad with them.
      if (breaks) {
        out += ' ';
      } else {
        out.append(text.substr(i, end - i));
      }
      i = end;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    if ((b < 0x20 && b != '\t') || b == 0x7F) {
      AppendEscape(out, "\\x%02X", b);
    } else if (b == 0xC2 && next >= 0x80 && next <= 0x9F) {
      AppendEscape(out, "\\u%04X", next);  // U+0080..U+009F: CSI and NEL among them
      ++i;
    } else {
      out += text[i];
    }
    ++i;
  }
  return out;
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    if (ch == '\r') {
      out += "\\r";
    } else if (ch == '\n') {
      out += "\\n";
    } else if (ch == '"' || ch == '\\') {
      out += '\\';
      out += ch;
    } else if (b < 0x20 || b > 0x7E) {
      AppendEscape(out, "\\x%02X", b);
    } else {
      out += ch;
    }
  }
  out += '"';
  return out;
}

}  // namespace corvane
