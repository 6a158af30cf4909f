#include "mail/delivering_component.h"

#include <algorithm>

#include "base/ascii.h"
#include "base/utf8.h"
#include "mail/compose/address_check.h"
#include "mail/compose/message_composer.h"
#include "mail/compose/message_stamp.h"
#include "mail/mail_error.h"
#include "mail/plain_arg.h"

namespace corvane::mail {

// Blanks around names and addresses are dropped: fixed-width CHAR columns pad their values.
void DeliveringMailMessage::SetFromAddress(std::string_view address) {
  address = TrimBlanks(address);
  CheckMailbox(address, "sender address");
  message_.from_address = std::string(address);
}

void DeliveringMailMessage::SetFromName(std::string_view name) {
  name = TrimBlanks(name);
  CheckHeaderText(name, "sender name");
  message_.from_name = ToUtf8(name);
}

void DeliveringMailMessage::AddRecipient(std::string_view address, const PlainArg& name,
                                         const PlainArg& kind) {
  // Checked whole before anything is kept: a list with one bad entry adds no recipient.
  const std::vector<Mailbox> mailboxes = ParseMailboxList(address, "recipient address");
  const std::string default_name = DisplayNameArg(name);
  CheckHeaderText(default_name, "recipient name");
  const RecipientKind recipient_kind = RecipientKindArg(kind);
  for (const Mailbox& mailbox : mailboxes) {
    // A mailbox named twice gets the message once: one RCPT, listed once, where first named.
    const bool listed =
        std::any_of(message_.recipients.begin(), message_.recipients.end(),
                    [&](const Recipient& r) { return SameMailbox(r.address, mailbox.address); });
    if (listed) continue;
    Recipient recipient;
    recipient.name = ToUtf8(mailbox.name.empty() ? default_name : mailbox.name);
    recipient.kind = recipient_kind;
    recipient.address = mailbox.address;
    message_.recipients.push_back(std::move(recipient));
  }
}

void DeliveringMailMessage::SetSubject(std::string_view subject) {
  CheckHeaderText(subject, "subject");
  message_.subject = ToUtf8(subject);
}

void DeliveringMailMessage::SetBody(std::string_view body) {
  message_.body = ToUtf8(body);
}

long DeliveringMailMessage::Send(std::string_view server, const PlainArg& time_limit) {
  if (message_.from_address.empty()) ThrowRefused("message", "has no sender address");
  if (message_.recipients.empty()) ThrowRefused("message", "has no recipient");
  const DeliveryOptions options{TimeLimitArg(time_limit), opportunistic_tls_};
  MailTransport& transport = transports_.For(server);

  const MessageStamp stamp{MailDateNow(),
                           MakeMessageId(transports_.tokens().Next(), message_.from_address)};
  const ComposedMessage composed = ComposeMessage(message_, stamp, transport.bcc_header());
  Envelope envelope;
  envelope.from = message_.from_address;
  for (const Recipient& recipient : message_.recipients) {
    envelope.recipients.push_back(recipient.address);
  }
  transports_.Delivering(transport);
  const long reply = transport.Deliver(envelope, composed, options);
  transports_.NoteReply(transport.last_reply());
  return reply;
}

DeliveringMailComponent::DeliveringMailComponent(std::filesystem::path program_folder,
                                                 MailOptions options)
    : transports_(std::move(program_folder), std::move(options)) {}

std::unique_ptr<MailMessage> DeliveringMailComponent::Create() {
  transports_.ForgetDelivery();
  return std::make_unique<DeliveringMailMessage>(transports_);
}

std::string DeliveringMailComponent::CheckServer(std::string_view server,
                                                 const std::vector<Envelope>& envelopes) {
  for (const Envelope& envelope : envelopes) {
    CheckMailbox(envelope.from, "sender address");
    for (const std::string& recipient : envelope.recipients) {
      CheckMailbox(recipient, "recipient address");
    }
  }
  return transports_.For(server).Check(envelopes, DeliveryOptions{kDefaultTimeLimit, true});
}

}  // namespace corvane::mail
