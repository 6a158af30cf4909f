// The run's guard over random secrets and random text around them: whatever the text holds (a
// secret as written, its base64, PLAIN's response with it, its one-line or quoted form, pieces of
// any of these, or nothing of them), no 4-character piece of a secret or of those forms survives
// masking but for windows of the mask's own asterisks.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/one_line.h"
#include "base/secret_guard.h"

namespace {

using corvane::SecretGuard;

// The form of `secret` the text holds, as the program would give it.
std::string Form(FuzzedDataProvider& input, const std::string& secret, const std::string& user) {
  switch (input.ConsumeIntegralInRange(0, 4)) {
    case 0:
      return corvane::Base64(secret);
    case 1:
      return corvane::Base64(std::string(1, '\0') + user + std::string(1, '\0') + secret);
    case 2:
      return corvane::OneLineText(secret);
    case 3:
      return corvane::Quoted(secret);
    default:
      return secret;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  SecretGuard guard;
  std::vector<std::string> promised;  // texts of which no piece may survive
  std::string text = input.ConsumeRandomLengthString(64);
  for (int count = input.ConsumeIntegralInRange(1, 3); count > 0; --count) {
    const std::string secret = input.ConsumeRandomLengthString(40);
    const std::string user = input.ConsumeRandomLengthString(12);
    guard.AddSecret(secret, "a secret");
    guard.AddLogin(user, secret);
    const std::string form = Form(input, secret, user);
    if (secret.size() >= SecretGuard::kShortestFound) {
      promised.push_back(secret);
      promised.push_back(form);
    }
    // The whole form, or a piece of it (a reply cut short, a line folded).
    const std::size_t from = input.ConsumeIntegralInRange<std::size_t>(0, form.size());
    text += form.substr(from, input.ConsumeIntegralInRange<std::size_t>(0, form.size()));
    text += input.ConsumeRandomLengthString(32);
  }
  const std::string masked = guard.Mask(text).str();
  for (const std::string& secret : promised) {
    for (std::size_t i = 0; i + SecretGuard::kShortestFound <= secret.size(); ++i) {
      const std::string piece = secret.substr(i, SecretGuard::kShortestFound);
      if (piece.find('*') == std::string::npos && masked.find(piece) != std::string::npos) {
        std::abort();
      }
    }
  }
  return 0;
}
