// What one message object has been given: the input of composing and delivering. Every text is
// already checked (address_check.h) and UTF-8 (base/utf8.h).
#pragma once

#include <string>
#include <vector>

namespace corvane::mail {

enum class RecipientKind { kTo, kCc, kBcc };

struct Recipient {
  std::string address;
  std::string name;  // display name; empty: none
  RecipientKind kind = RecipientKind::kTo;
};

struct OutgoingMessage {
  std::string from_address;
  std::string from_name;
  std::vector<Recipient> recipients;
  std::string subject;
  std::string body;
  bool seven_bit = true;  // the first Boolean setting
};

// The composed message, CR LF line breaks, not yet dot-stuffed.
struct ComposedMessage {
  std::string seven_bit;  // always usable: headers and body 7-bit clean
  std::string eight_bit;  // the body as 8bit, for servers announcing 8BITMIME; empty: none
};

}  // namespace corvane::mail
