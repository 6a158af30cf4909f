// Arbitrary sender, recipient, subject and body through the address and header checks and the
// message composer, as a message object takes them. A text the checks refuse is refused with the
// mail component's "invalid argument" error and nothing else; a message that is composed must
// parse back: CR LF line breaks only, no line over 998 octets, 7-bit headers from a fixed set,
// each once, ending with an empty line; the From, To and Subject decode to exactly the texts
// given; the body decodes to exactly the body given.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/error.h"
#include "base/utf8.h"
#include "mail/compose/address_check.h"
#include "mail/compose/message_composer.h"

namespace {

using corvane::mail::BccHeader;
using corvane::mail::Recipient;
using corvane::mail::RecipientKind;

void Require(bool condition) {
  if (!condition) std::abort();
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "=XX" at `i` of `text`, as a byte; aborts on anything else.
char DecodeHex(std::string_view text, std::size_t i) {
  Require(i + 2 < text.size() && text[i] == '=');
  const int high = HexValue(text[i + 1]);
  const int low = HexValue(text[i + 2]);
  Require(high >= 0 && low >= 0);
  return static_cast<char>(high * 16 + low);
}

// RFC 2047 Q encoding of one "=?utf-8?q?...?=" word.
std::string DecodeEncodedWord(std::string_view word) {
  constexpr std::string_view kStart = "=?utf-8?q?";
  Require(word.starts_with(kStart) && word.ends_with("?=") && word.size() <= 75);
  const std::string_view payload = word.substr(kStart.size(), word.size() - kStart.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    if (payload[i] == '_') {
      out += ' ';
    } else if (payload[i] == '=') {
      out += DecodeHex(payload, i);
      i += 2;
    } else {
      Require(payload[i] > 0x20 && payload[i] < 0x7F && payload[i] != '?');
      out += payload[i];
    }
  }
  return out;
}

std::vector<std::string_view> SplitBlanks(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t blank = std::min(text.find(' ', start), text.size());
    words.push_back(text.substr(start, blank - start));
    start = blank + 1;
  }
  return words;
}

// A phrase or unstructured text: plain words as they stand, or encoded words only.
std::string DecodeText(std::string_view value) {
  if (!value.starts_with("=?")) return std::string(value);
  std::string out;
  for (const std::string_view word : SplitBlanks(value)) out += DecodeEncodedWord(word);
  return out;
}

struct Mailbox {
  std::string name;
  std::string address;
};

// "address", or a display name (atoms, a quoted string or encoded words) then "<address>".
Mailbox DecodeMailbox(std::string_view value) {
  if (!value.ends_with('>')) return {"", std::string(value)};
  const std::size_t open = value.rfind(" <");
  Require(open != std::string_view::npos);
  Mailbox mailbox{"", std::string(value.substr(open + 2, value.size() - open - 3))};
  const std::string_view phrase = value.substr(0, open);
  if (phrase.starts_with('"')) {
    Require(phrase.size() >= 2 && phrase.ends_with('"'));
    for (std::size_t i = 1; i + 1 < phrase.size(); ++i) {
      if (phrase[i] == '\\')
        ++i;
      else
        Require(phrase[i] != '"');
      mailbox.name += phrase[i];
    }
  } else {
    mailbox.name = DecodeText(phrase);
  }
  return mailbox;
}

// Quoted-printable (RFC 2045 §6.7) back to bytes; every encoded line at most 76 characters.
std::string DecodeQuotedPrintable(std::string_view encoded) {
  std::string out;
  std::size_t start = 0;
  while (start < encoded.size()) {
    const std::size_t end = encoded.find("\r\n", start);
    Require(end != std::string_view::npos);  // the encoded body ends with CR LF
    std::string_view line = encoded.substr(start, end - start);
    Require(line.size() <= 76);
    const bool soft = line.ends_with('=');  // a literal "=" is always written =3D
    if (soft) line.remove_suffix(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
      if (line[i] == '=') {
        out += DecodeHex(line, i);
        i += 2;
      } else {
        Require((line[i] >= 0x21 && line[i] <= 0x7E) || line[i] == ' ' || line[i] == '\t');
        out += line[i];
      }
    }
    if (!soft) out += "\r\n";
    start = end + 2;
  }
  return out;
}

void CheckComposed(const std::string& text, const corvane::mail::OutgoingMessage& message,
                   BccHeader bcc) {
  // Line breaks are CR LF and nothing else; no line passes 998 octets; no NUL.
  std::size_t line = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    Require(text[i] != '\0');
    if (text[i] == '\r') {
      Require(i + 1 < text.size() && text[i + 1] == '\n');
      ++i;
      line = 0;
    } else {
      Require(text[i] != '\n');
      Require(++line <= 998);
    }
  }
  const std::size_t split = text.find("\r\n\r\n");
  Require(split != std::string::npos);
  const std::string head = text.substr(0, split + 2);
  const std::string_view body = std::string_view(text).substr(split + 4);

  // Unfold (RFC 5322 §2.2.3) into fields; every header byte is printable ASCII.
  std::map<std::string, std::vector<std::string>> fields;
  std::string last;
  std::size_t start = 0;
  while (start < head.size()) {
    const std::size_t end = head.find("\r\n", start);
    const std::string_view row = std::string_view(head).substr(start, end - start);
    for (const char c : row) Require(c >= 0x20 && c <= 0x7E);
    if (row.starts_with(' ')) {
      Require(!last.empty());
      fields[last].back() += row;
    } else {
      const std::size_t colon = row.find(':');
      Require(colon != std::string_view::npos && colon > 0);
      last = std::string(row.substr(0, colon));
      fields[last].push_back(std::string(row.substr(colon + 1)));
    }
    start = end + 2;
  }
  const RecipientKind kind = message.recipients.at(0).kind;
  const bool to_shown = kind == RecipientKind::kTo;
  const bool cc_shown = kind == RecipientKind::kCc;
  const bool bcc_shown = kind == RecipientKind::kBcc && bcc == BccHeader::kWrite;
  std::map<std::string, std::size_t> expected = {
      {"Date", 1},         {"From", 1},
      {"To", 1},           {"Subject", 1},
      {"Message-ID", 1},   {"MIME-Version", 1},
      {"Content-Type", 1}, {"Content-Transfer-Encoding", 1}};
  if (cc_shown) expected["Cc"] = 1;
  if (bcc_shown) expected["Bcc"] = 1;
  Require(fields.size() == expected.size());
  for (const auto& [name, values] : fields) {
    Require(expected.count(name) == 1 && values.size() == expected[name]);
  }
  auto value = [&](const std::string& name) {
    const std::string& v = fields[name].at(0);
    Require(v.empty() || v.starts_with(' '));
    return std::string_view(v).substr(v.empty() ? 0 : 1);
  };

  const Mailbox from = DecodeMailbox(value("From"));
  Require(from.name == message.from_name && from.address == message.from_address);
  const Recipient& recipient = message.recipients.at(0);
  const std::string shown_in = to_shown ? "To" : cc_shown ? "Cc" : bcc_shown ? "Bcc" : "";
  if (!to_shown) Require(value("To") == "undisclosed-recipients:;");
  if (!shown_in.empty()) {
    const Mailbox to = DecodeMailbox(value(shown_in));
    Require(to.name == recipient.name && to.address == recipient.address);
  }
  Require(DecodeText(value("Subject")) == message.subject);

  const std::string_view encoding = value("Content-Transfer-Encoding");
  if (encoding == "quoted-printable") {
    Require(DecodeQuotedPrintable(body) == message.body);
  } else {
    Require(encoding == "7bit" || encoding == "8bit");
    Require(!message.seven_bit && body == message.body);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string from_address = input.ConsumeRandomLengthString(300);
  const std::string from_name = input.ConsumeRandomLengthString(300);
  const std::string to_address = input.ConsumeRandomLengthString(300);
  const std::string to_name = input.ConsumeRandomLengthString(300);
  const std::string subject = input.ConsumeRandomLengthString(2000);
  const bool seven_bit = input.ConsumeBool();
  const auto kind = static_cast<RecipientKind>(input.ConsumeIntegralInRange<int>(0, 2));
  const BccHeader bcc = input.ConsumeBool() ? BccHeader::kWrite : BccHeader::kOmit;
  const std::string body = input.ConsumeRemainingBytesAsString();

  namespace mail = corvane::mail;
  mail::OutgoingMessage message;
  message.seven_bit = seven_bit;
  try {
    // What a message object does with each text as it arrives.
    mail::CheckMailbox(from_address, "sender address");
    mail::CheckHeaderText(from_name, "sender name");
    mail::CheckMailbox(to_address, "recipient address");
    mail::CheckHeaderText(to_name, "recipient name");
    mail::CheckHeaderText(subject, "subject");
  } catch (const corvane::Error& error) {
    Require(error.kind() == corvane::ErrorKind::kMail &&
            error.number() == corvane::errnum::kInvalidProcedureCall);
    Require(error.description().find_first_of("\r\n") == std::string::npos);
    return 0;
  }
  // An accepted address is one plain ASCII mailbox: nothing that could end an SMTP path.
  for (const std::string& address : {from_address, to_address}) {
    Require(address.find_first_of("<>\r\n", 0) == std::string::npos);
    Require(address.find('\0') == std::string::npos && corvane::IsAscii(address));
  }
  message.from_address = from_address;
  message.from_name = corvane::ToUtf8(from_name);
  message.recipients.push_back({to_address, corvane::ToUtf8(to_name), kind});
  message.subject = corvane::ToUtf8(subject);
  message.body = corvane::ToUtf8(body);
  Require(corvane::IsValidUtf8(message.from_name) && corvane::IsValidUtf8(message.subject) &&
          corvane::IsValidUtf8(message.body));

  const mail::MessageStamp stamp{"Tue, 08 Dec 2026 06:33:00 +0100",
                                 mail::MakeMessageId("20261208T063300.1.000001.ab", from_address)};
  const mail::ComposedMessage composed = mail::ComposeMessage(message, stamp, bcc);
  CheckComposed(composed.seven_bit, message, bcc);
  if (!composed.eight_bit.empty()) {
    Require(!seven_bit);
    CheckComposed(composed.eight_bit, message, bcc);
  }
  return 0;
}
