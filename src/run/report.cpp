#include "run/report.h"

#include <algorithm>
#include <vector>

#include "base/ascii.h"
#include "base/one_line.h"
#include "data/connection_string.h"

namespace corvane::run {

namespace {

constexpr std::string_view kMask = "****";
constexpr std::string_view kRowSeparator = ", row ";  // as RunTrace::Describe joins them

// A text from outside, masked and on one line.
std::string Outside(std::string_view text, std::span<const std::string> secrets) {
  return OneLine(MaskSecrets(text, secrets));
}

}  // namespace

std::string OneLine(std::string_view text) {
  return std::string(TrimBlanks(OneLineText(text)));
}

std::string MaskSecrets(std::string_view text, std::span<const std::string> secrets) {
  std::string out = data::MaskPasswordValues(text, kMask);
  // The longest first, so that a secret holding a shorter one leaves no piece of itself.
  std::vector<std::string_view> ordered(secrets.begin(), secrets.end());
  std::sort(ordered.begin(), ordered.end(),
            [](std::string_view a, std::string_view b) { return a.size() > b.size(); });
  for (const std::string_view secret : ordered) {
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
                     ": " + Outside(description, secrets);
  if (!where.empty()) {
    const std::size_t row = where.find(kRowSeparator);
    line += " [in " + OneLine(where.substr(0, row));
    if (row != std::string_view::npos) {
      line +=
          std::string(kRowSeparator) + Outside(where.substr(row + kRowSeparator.size()), secrets);
    }
    line += ']';
  }
  return line + '\n';
}

std::string WarningLine(std::string_view text, std::span<const std::string> secrets) {
  return std::string(kProgramName) + ": warning: " + OneLine(MaskSecrets(text, secrets)) + '\n';
}

}  // namespace corvane::run
