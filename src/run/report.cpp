#include "run/report.h"

#include "base/ascii.h"
#include "base/one_line.h"

namespace corvane::run {

namespace {

// What failed, for a code that is not a classic number.
Own FailedPart(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kDatabase:
      return "database";
    case ErrorKind::kMail:
      return "mail";
    case ErrorKind::kSettings:
      return "settings";
    case ErrorKind::kValue:
      return "value";
    case ErrorKind::kUnsafe:
      return "permission";
    case ErrorKind::kSystem:
    case ErrorKind::kInternal:
      break;
  }
  return "system";
}

}  // namespace

std::string OneLine(std::string_view text) {
  return std::string(TrimBlanks(OneLineText(text)));
}

GuardedText OneLineMasked(std::string_view text, const SecretGuard& guard) {
  // Masked once made one line too: the guard knows each secret as a one-line text shows it.
  return guard.Mask(OneLine(text));
}

GuardedText ReportBody(const Error& error, const RunTrace* trace, const SecretGuard& guard) {
  GuardedText body;
  if (error.code().empty()) {
    body = GuardedText(Own("run-time error ")) + GuardedText::Number(error.number()) + Own(": ");
  } else {
    body = GuardedText(FailedPart(error.kind())) + Own(" error (") +
           guard.Mask(OneLine(error.code())) + Own("): ");
  }
  body += OneLineMasked(error.description(), guard);
  const auto [stage, row] = trace != nullptr ? trace->Place() : RunTrace().Place();
  if (!stage.text().empty()) {
    body += GuardedText(Own(" [in ")) + stage;
    if (!row.empty()) body += GuardedText(Own(", row ")) + OneLineMasked(row, guard);
    body += Own("]");
  }
  return body;
}

GuardedText ReportLine(const Error& error, const RunTrace* trace, const SecretGuard& guard) {
  return GuardedText(Own(kProgramName)) + Own(": ") + ReportBody(error, trace, guard) + Own("\n");
}

GuardedText WarningLine(const GuardedText& text) {
  return GuardedText(Own(kProgramName)) + Own(": warning: ") + text + Own("\n");
}

}  // namespace corvane::run
