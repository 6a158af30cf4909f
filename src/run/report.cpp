#include "run/report.h"

#include <cstdio>

#include "base/ascii.h"

namespace corvane::run {

namespace {

constexpr std::string_view kMask = "****";

// Where the value of a password part ends: at the next ';', or past a braced {...} value.
std::size_t ValueEnd(std::string_view text, std::size_t start) {
  if (start < text.size() && text[start] == '{') {
    const std::size_t close = text.find('}', start);
    return close == std::string_view::npos ? text.size() : close + 1;
  }
  const std::size_t semicolon = text.find(';', start);
  return semicolon == std::string_view::npos ? text.size() : semicolon;
}

// The password parts' values masked: "PWD=x" and "Password = x", any letter case.
std::string MaskPasswordParts(std::string_view text) {
  static constexpr std::string_view kNames[] = {"pwd", "password"};
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    bool masked = false;
    for (const std::string_view name : kNames) {
      const bool starts_word = i == 0 || !IsAsciiAlnum(text[i - 1]);
      if (!starts_word || !StartsWithNoCase(text.substr(i), name)) continue;
      std::size_t j = i + name.size();
      while (j < text.size() && IsBlank(text[j])) ++j;
      if (j >= text.size() || text[j] != '=') continue;
      ++j;
      while (j < text.size() && IsBlank(text[j])) ++j;
      out.append(text.substr(i, j - i));
      out += kMask;
      i = ValueEnd(text, j);
      masked = true;
      break;
    }
    if (!masked) out += text[i++];
  }
  return out;
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    // A run of blanks that holds a line break or a tab becomes one blank.
    std::size_t end = i;
    bool breaks = false;
    while (end < text.size() &&
           (text[end] == ' ' || text[end] == '\r' || text[end] == '\n' || text[end] == '\t')) {
      breaks = breaks || text[end] != ' ';
      ++end;
    }
    if (end > i) {
      if (breaks) {
        out += ' ';
      } else {
        out.append(text.substr(i, end - i));
      }
      i = end;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(b));
      out += escape;
    } else {
      out += text[i];
    }
    ++i;
  }
  return std::string(TrimBlanks(out));
}

std::string MaskSecrets(std::string_view text, std::span<const std::string> secrets) {
  std::string out = MaskPasswordParts(text);
  for (const std::string& secret : secrets) {
    if (secret.empty()) continue;
    for (std::size_t at = out.find(secret); at != std::string::npos;
         at = out.find(secret, at + kMask.size())) {
      out.replace(at, secret.size(), kMask);
    }
  }
  return out;
}

std::string ReportLine(long number, std::string_view description, std::string_view where,
                       std::span<const std::string> secrets) {
  std::string line = std::string(kProgramName) + ": run-time error " + std::to_string(number) +
                     ": " + std::string(description);
  if (!where.empty()) line += " [in " + std::string(where) + "]";
  return OneLine(MaskSecrets(line, secrets)) + '\n';
}

}  // namespace corvane::run
