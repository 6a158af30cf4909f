// Connection strings, two ways:
//  - Parts of any content written in either grammar and read back in it give the same parts,
//    and masking the written text leaves no piece of a password.
//  - Password parts in every form a person writes (plain, "...", '...', {...} with doubled
//    closers, an unterminated last value, any letter case, blanks around '=') among arbitrary
//    other parts: masking leaves no piece of any password.
// Passwords are made of bytes above 0x7F and the characters that delimit values; everything else
// is ASCII, so a single byte above 0x7F after masking is a piece of a password that survived.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "data/connection_string.h"

namespace {

using corvane::data::ConnectionPart;
using corvane::data::ConnectionString;
using corvane::data::Grammar;

constexpr std::string_view kPasswordNames[] = {"PWD", "pwd", "Password", "PASSWORD", "pAsSwOrD"};
constexpr std::string_view kDelimiters = ";\"'{}= \t\r\n";

std::string Blanks(FuzzedDataProvider& input) {
  return std::string(input.ConsumeIntegralInRange<std::size_t>(0, 2), ' ');
}

std::string PasswordName(FuzzedDataProvider& input) {
  return std::string(kPasswordNames[input.ConsumeIntegralInRange<std::size_t>(0, 4)]);
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

std::string Ascii(FuzzedDataProvider& input, std::size_t length) {
  std::string text = input.ConsumeRandomLengthString(length);
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
  return text;
}

// A name as a reader gives it: not empty, no '=' or ';', no blanks or line ends around it.
std::string OtherName(FuzzedDataProvider& input) {
  std::string name;
  for (const char c : Ascii(input, 16)) {
    if (c != '=' && c != ';' && c > ' ') name += c;
  }
  return name.empty() ? "Server" : name;
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

void RequireNoPasswordByte(const std::string& text) {
  const std::string masked = corvane::data::MaskPasswordValues(text, "****");
  for (const char c : masked) {
    if (static_cast<unsigned char>(c) >= 0x80) std::abort();
  }
}

void RoundTrip(FuzzedDataProvider& input) {
  const Grammar grammar = input.ConsumeBool() ? Grammar::kOleDb : Grammar::kOdbc;
  std::vector<ConnectionPart> parts;
  while (input.remaining_bytes() > 0 && parts.size() < 8) {
    if (input.ConsumeBool()) {
      parts.push_back({PasswordName(input), Secret(input)});
    } else {
      parts.push_back({OtherName(input), Ascii(input, 32)});
    }
  }
  const ConnectionString written(grammar, parts);
  const std::string text = written.Write(grammar);
  const ConnectionString read = ConnectionString::Read(text, grammar);
  if (read.parts().size() != parts.size()) std::abort();
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (read.parts()[i].name != parts[i].name || read.parts()[i].value != parts[i].value) {
      std::abort();
    }
  }
  RequireNoPasswordByte(text);
}

void WrittenByHand(FuzzedDataProvider& input) {
  std::string text;
  bool ended = false;  // an unterminated value runs to the end
  while (input.remaining_bytes() > 0 && !ended) {
    if (input.ConsumeBool()) {  // any other part, ASCII only
      text += Ascii(input, 32) + ";";
      continue;
    }
    text += PasswordName(input) + Blanks(input) + "=" + Blanks(input);
    const std::string secret = Secret(input);
    switch (input.ConsumeIntegralInRange(0, 4)) {
      case 0:  // plain, where the grammar allows it
        if (secret.find(';') == std::string::npos &&
            std::string_view(kDelimiters).substr(1).find(secret.empty() ? 'x' : secret.front()) ==
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
  RequireNoPasswordByte(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  if (input.ConsumeBool()) {
    RoundTrip(input);
  } else {
    WrittenByHand(input);
  }
  return 0;
}
