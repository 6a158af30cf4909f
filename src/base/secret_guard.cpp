#include "base/secret_guard.h"

#include <algorithm>
#include <cstring>

#include "base/ascii.h"
#include "base/one_line.h"

namespace corvane {

namespace {

constexpr std::size_t kPiece = SecretGuard::kShortestFound;

std::uint32_t PieceAt(std::string_view text, std::size_t at) {
  std::uint32_t piece = 0;
  std::memcpy(&piece, text.data() + at, kPiece);
  return piece;
}

// `text` as written between quotes or braces that close with `closer`: the closer doubled.
std::string Doubled(std::string_view text, char closer) {
  std::string out;
  for (const char c : text) {
    out += c;
    if (c == closer) out += c;
  }
  return out;
}

// The characters of base64(`offset` bytes, then `secret`) that depend on the secret alone: what
// any SASL response holding the secret at that offset (modulo 3) shows of it.
std::string Base64Alone(std::string_view secret, std::size_t offset) {
  const std::string encoded = Base64(std::string(offset, '\0') + std::string(secret));
  const std::size_t first = (8 * offset + 5) / 6;
  const std::size_t end = 8 * (offset + secret.size()) / 6;
  return end > first ? encoded.substr(first, end - first) : std::string();
}

}  // namespace

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

void SecretGuard::AddForm(std::string_view form) {
  for (std::size_t i = 0; i + kPiece <= form.size(); ++i) pieces_.insert(PieceAt(form, i));
}

void SecretGuard::AddSecret(std::string_view secret, std::string_view what) {
  if (secret.empty()) return;
  const std::lock_guard lock(mutex_);
  if (secret.size() < kShortestFound) {
    if (std::find(short_.begin(), short_.end(), what) == short_.end()) short_.emplace_back(what);
    return;
  }
  bool complete = true;
  for (const std::string& plain : {std::string(secret), PercentDecoded(secret, complete)}) {
    AddForm(Base64(plain));  // whole, padding included, as a LOGIN line sends it
    for (std::size_t offset = 0; offset < 3; ++offset) AddForm(Base64Alone(plain, offset));
    for (const std::string& written :
         {plain, Doubled(plain, '}'), Doubled(plain, '"'), Doubled(plain, '\'')}) {
      AddForm(written);
      AddForm(OneLineText(written));
      AddForm(Quoted(written));
    }
  }
}

void SecretGuard::AddLogin(std::string_view user, std::string_view password) {
  if (password.empty()) return;
  const std::lock_guard lock(mutex_);
  std::string plain(1, '\0');
  plain.append(user).append(1, '\0').append(password);
  AddForm(Base64(plain));
  AddForm(Base64(password));
}

void SecretGuard::AddShownAs(std::string_view text, std::string shown) {
  if (text.empty() || text == shown) return;
  const std::lock_guard lock(mutex_);
  shown_as_.emplace_back(std::string(text), std::move(shown));
  // The longest first, so that a text holding a shorter one is shown whole as its own.
  std::stable_sort(shown_as_.begin(), shown_as_.end(),
                   [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

void SecretGuard::AddGrammar(std::function<std::string(std::string_view)> masker) {
  const std::lock_guard lock(mutex_);
  grammars_.push_back(std::move(masker));
}

std::vector<std::string> SecretGuard::ShortSecrets() const {
  const std::lock_guard lock(mutex_);
  return short_;
}

GuardedText SecretGuard::Mask(std::string_view text) const {
  const std::lock_guard lock(mutex_);
  std::string out(text);
  for (const auto& [whole, shown] : shown_as_) {
    for (std::size_t at = out.find(whole); at != std::string::npos;
         at = out.find(whole, at + shown.size())) {
      out.replace(at, whole.size(), shown);
    }
  }
  for (const auto& grammar : grammars_) out = grammar(out);
  if (pieces_.empty() || out.size() < kPiece) return GuardedText(std::move(out));
  // Every byte inside a piece of a secret is covered; each run of covered bytes becomes one mask,
  // so what stays of the text holds no piece of a secret either.
  std::vector<bool> covered(out.size(), false);
  for (std::size_t i = 0; i + kPiece <= out.size(); ++i) {
    if (pieces_.contains(PieceAt(out, i)))
      std::fill_n(covered.begin() + static_cast<long>(i), kPiece, true);
  }
  std::string masked;
  masked.reserve(out.size());
  for (std::size_t i = 0; i < out.size();) {
    if (!covered[i]) {
      masked += out[i++];
      continue;
    }
    masked += kMask;
    while (i < out.size() && covered[i]) ++i;
  }
  return GuardedText(std::move(masked));
}

}  // namespace corvane
