// The boundary to the mail component: one MailMessage object composes one e-mail and sends it
// through a mail server named by text. SendMsg (send_msg.h) drives it; tests put a recording
// component in its place to check the order of calls.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace corvane::mail {

// A plain argument: text, a number or a Boolean. SendMsg passes zero (PlainArg{0LL}), which
// reads as empty text, false or 0, whichever the parameter's meaning needs.
using PlainArg = std::variant<bool, long long, double, std::string>;

class MailMessage {
 public:
  virtual ~MailMessage() = default;  // releases the object

  // First Boolean setting: 7-bit transport. True makes the whole message 7-bit clean
  // (quoted-printable body, encoded-word headers) so any relay passes it; false lets a UTF-8
  // body travel as 8bit where the server announces 8BITMIME.
  virtual void SetSevenBit(bool on) = 0;
  // Second Boolean setting: opportunistic TLS. True uses STARTTLS whenever a plain
  // "host[:port]" server offers it; false keeps such a session in plain text. URL server forms
  // always use the TLS they name, whatever this says.
  virtual void SetOpportunisticTls(bool on) = 0;

  virtual void SetFromAddress(std::string_view address) = 0;
  virtual void SetFromName(std::string_view name) = 0;
  // `address`: one mailbox or a list as people type it ("a@x.example; Dispatch <b@y.example>"):
  // each becomes a recipient of this one message.
  // `name`: the display name of a mailbox that gives none (zero or empty text: none).
  // `kind`: 0 To, 1 Cc, 2 Bcc.
  virtual void AddRecipient(std::string_view address, const PlainArg& name,
                            const PlainArg& kind) = 0;
  virtual void SetSubject(std::string_view subject) = 0;
  virtual void SetBody(std::string_view body) = 0;
  // Delivers the message through `server` (its forms: docs/mail-servers.md). `time_limit`: the
  // whole send's limit in seconds (zero: the default). Returns the server's final reply code
  // (250 for an accepted message; 0 where no server replies, as for a pickup folder).
  // Every refusal or fault is an Error of kind kMail.
  virtual long Send(std::string_view server, const PlainArg& time_limit) = 0;
};

// How the delivery of the last message ended, for a caller that keeps a record of each message.
struct DeliveryReport {
  // The server's reply that ended it: its final reply ("250 2.0.0 Ok: queued as ...") or its
  // refusal; for a pickup folder, the file written. Empty when nothing was handed over.
  std::string reply;
  // The server refused this message for good: a permanent (5xx) reply to one of its recipients
  // or to the message itself (RFC 5321 §4.2.1, §3.3). Nothing was delivered, and sending it
  // again unchanged would be refused again.
  bool refused_for_good = false;
};

class MailComponent {
 public:
  virtual ~MailComponent() = default;
  // A new, empty message object owned by the caller.
  virtual std::unique_ptr<MailMessage> Create() = 0;
  // Of the message last created, once its Send returned or failed; empty before.
  virtual DeliveryReport last_delivery() const { return {}; }
};

}  // namespace corvane::mail
