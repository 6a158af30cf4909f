#include "mail/compose/message_composer.h"

#include "base/utf8.h"
#include "mail/compose/address_check.h"
#include "mail/compose/header_encoding.h"
#include "mail/compose/quoted_printable.h"

namespace corvane::mail {

namespace {

constexpr std::size_t kMaxLine = 998;  // RFC 5322 §2.1.1, without the CR LF

// True when the body can travel unencoded: CR LF line breaks only, no NUL, no line over the
// limit, and the last line ended, so the transport adds no CR LF of its own.
bool NeedsNoEncoding(std::string_view body) {
  if (!body.empty() && !body.ends_with("\r\n")) return false;
  std::size_t line = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    const char c = body[i];
    if (c == '\r') {
      if (i + 1 >= body.size() || body[i + 1] != '\n') return false;
      ++i;
      line = 0;
    } else if (c == '\n' || c == '\0' || ++line > kMaxLine) {
      return false;
    }
  }
  return true;
}

std::string AddressList(std::string_view header, const OutgoingMessage& message,
                        RecipientKind kind) {
  HeaderTokens tokens;
  for (const Recipient& recipient : message.recipients) {
    if (recipient.kind != kind) continue;
    if (!tokens.empty()) tokens.back() += ',';
    for (std::string& token : MailboxTokens(recipient.name, recipient.address, header)) {
      tokens.push_back(std::move(token));
    }
  }
  return tokens.empty() ? std::string() : FoldHeader(header, tokens);
}

}  // namespace

std::string MakeMessageId(std::string_view token, std::string_view from_address) {
  std::string id = "<";  // appends: GCC 12 warns falsely on "<" + std::string
  id.append(token).append("@").append(DomainOf(from_address)).append(">");
  return id;
}

ComposedMessage ComposeMessage(const OutgoingMessage& message, const MessageStamp& stamp,
                               BccHeader bcc) {
  std::string head;
  head += "Date: " + stamp.date + "\r\n";
  head += FoldHeader("From", MailboxTokens(message.from_name, message.from_address, "From"));
  std::string to = AddressList("To", message, RecipientKind::kTo);
  // A message with only blind copies still needs a destination field (RFC 5322 §3.6.3).
  head += to.empty() ? "To: undisclosed-recipients:;\r\n" : to;
  head += AddressList("Cc", message, RecipientKind::kCc);
  if (bcc == BccHeader::kWrite) head += AddressList("Bcc", message, RecipientKind::kBcc);
  head += FoldHeader("Subject", UnstructuredTokens(message.subject, "Subject"));
  head += "Message-ID: " + stamp.message_id + "\r\n";
  head += "MIME-Version: 1.0\r\n";
  head += "Content-Type: text/plain; charset=utf-8\r\n";

  ComposedMessage composed;
  const std::string_view body = message.body;
  // Kept though SendMsg always asks for 7-bit: it is the other value of the boundary's switch.
  if (!message.seven_bit && NeedsNoEncoding(body)) {
    if (IsAscii(body)) {
      composed.seven_bit = head + "Content-Transfer-Encoding: 7bit\r\n\r\n" + message.body;
      return composed;
    }
    composed.eight_bit = head + "Content-Transfer-Encoding: 8bit\r\n\r\n" + message.body;
  }
  composed.seven_bit = std::move(head) + "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                       EncodeQuotedPrintable(body);
  return composed;
}

}  // namespace corvane::mail
