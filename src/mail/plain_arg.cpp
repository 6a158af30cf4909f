#include "mail/plain_arg.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "base/ascii.h"
#include "mail/mail_error.h"

namespace corvane::mail {

namespace {

bool IsZero(const PlainArg& arg) {
  if (const auto* b = std::get_if<bool>(&arg)) return !*b;
  if (const auto* i = std::get_if<long long>(&arg)) return *i == 0;
  if (const auto* d = std::get_if<double>(&arg)) return *d == 0.0;
  return std::get<std::string>(arg).empty();
}

// The whole number an argument holds, if it holds one (digits only for text).
std::optional<long long> WholeNumber(const PlainArg& arg) {
  if (const auto* i = std::get_if<long long>(&arg)) return *i;
  if (const auto* d = std::get_if<double>(&arg)) {
    if (std::isfinite(*d) && std::trunc(*d) == *d && std::fabs(*d) < 1e15) {
      return static_cast<long long>(*d);
    }
    return std::nullopt;
  }
  if (const auto* s = std::get_if<std::string>(&arg)) {
    if (s->empty() || s->size() > 9 ||
        !std::all_of(s->begin(), s->end(), [](char c) { return IsAsciiDigit(c); })) {
      return std::nullopt;
    }
    return std::stoll(*s);
  }
  return std::nullopt;
}

}  // namespace

std::string DisplayNameArg(const PlainArg& arg) {
  if (const auto* s = std::get_if<std::string>(&arg)) return *s;
  if (IsZero(arg)) return {};
  ThrowRefused("recipient name", "must be text, or zero for none");
}

RecipientKind RecipientKindArg(const PlainArg& arg) {
  if (IsZero(arg)) return RecipientKind::kTo;
  if (const auto* s = std::get_if<std::string>(&arg)) {
    const std::string kind = ToLowerAscii(*s);
    if (kind == "to") return RecipientKind::kTo;
    if (kind == "cc") return RecipientKind::kCc;
    if (kind == "bcc") return RecipientKind::kBcc;
  } else if (const std::optional<long long> n = WholeNumber(arg)) {
    if (*n == 1) return RecipientKind::kCc;
    if (*n == 2) return RecipientKind::kBcc;
  }
  ThrowRefused("recipient kind", "must be 0 (To), 1 (Cc) or 2 (Bcc)");
}

std::chrono::seconds TimeLimitArg(const PlainArg& arg) {
  if (IsZero(arg)) return kDefaultTimeLimit;
  if (!std::holds_alternative<bool>(arg)) {
    if (const std::optional<long long> n = WholeNumber(arg)) {
      if (*n >= 1 && *n <= kMaxTimeLimit.count()) return std::chrono::seconds(*n);
    }
  }
  ThrowRefused("send time limit", "must be whole seconds from 1 to 3600, or zero for 60");
}

}  // namespace corvane::mail
