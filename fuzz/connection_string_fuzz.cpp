// Connection strings with password parts in every written form (plain, "...", '...', {...} with
// doubled closers, an unterminated last value, any letter case, blanks around '='), among
// arbitrary other parts: masking leaves no piece of any password. The passwords are made of
// bytes above 0x7F and the characters that delimit values; everything else is ASCII, so a
// single byte above 0x7F after masking is a piece of a password that survived.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "data/connection_string.h"

namespace {

constexpr std::string_view kNames[] = {"PWD", "pwd", "Password", "PASSWORD", "pAsSwOrD"};
constexpr std::string_view kDelimiters = ";\"'{}= \t";

std::string Blanks(FuzzedDataProvider& input) {
  return std::string(input.ConsumeIntegralInRange<std::size_t>(0, 2), ' ');
}

// A password: high bytes kept, the others mapped onto the delimiters.
std::string Secret(FuzzedDataProvider& input) {
  std::string secret = input.ConsumeRandomLengthString(48);
  for (char& c : secret) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) c = kDelimiters[b % kDelimiters.size()];
  }
  return secret;
}

// `value` between `opener` and `closer`, the closer doubled inside; no closer when `open`.
std::string Enclosed(std::string_view value, char opener, char closer, bool open) {
  std::string out(1, opener);
  for (const char c : value) {
    out += c;
    if (c == closer) out += c;
  }
  if (!open) out += closer;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  std::string text;
  bool ended = false;  // an unterminated value runs to the end
  while (input.remaining_bytes() > 0 && !ended) {
    if (input.ConsumeBool()) {  // any other part, ASCII only
      std::string other = input.ConsumeRandomLengthString(32);
      for (char& c : other) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
      text += other + ";";
      continue;
    }
    text += std::string(kNames[input.ConsumeIntegralInRange<std::size_t>(0, 4)]) + Blanks(input) +
            "=" + Blanks(input);
    const std::string secret = Secret(input);
    switch (input.ConsumeIntegralInRange(0, 4)) {
      case 0:  // plain, where the grammar allows it
        if (secret.find(';') == std::string::npos &&
            kDelimiters.substr(1).find(secret.empty() ? 'x' : secret.front()) ==
                std::string_view::npos) {
          text += secret;
          break;
        }
        [[fallthrough]];
      case 1:
        text += Enclosed(secret, '{', '}', false);
        break;
      case 2:
        text += Enclosed(secret, '"', '"', false);
        break;
      case 3:
        text += Enclosed(secret, '\'', '\'', false);
        break;
      default:
        text += Enclosed(secret, "{\"'"[secret.size() % 3], "}\"'"[secret.size() % 3], true);
        ended = true;
        break;
    }
    if (!ended) text += ";";
  }
  const std::string masked = corvane::data::MaskPasswordValues(text, "****");
  for (const char c : masked) {
    if (static_cast<unsigned char>(c) >= 0x80) std::abort();
  }
  return 0;
}
