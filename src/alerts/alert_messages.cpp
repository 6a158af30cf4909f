#include "alerts/alert_messages.h"

#include "alerts/ledger/message_ledger.h"
#include "base/text_form.h"

namespace corvane::alerts {

AlertMessages::AlertMessages(PassContext& context, std::string_view pass, std::string alert_key,
                             DateTime alert_day)
    : context_(context), pass_(pass), alert_key_(std::move(alert_key)), alert_day_(alert_day) {}

void AlertMessages::Add(std::string_view place, Value to) {
  std::string key = alert_key_;
  if (!place.empty()) key += " to " + std::string(place);
  messages_.push_back(
      {LedgerMessage{pass_, std::move(key), alert_day_, JoinText(to)}, std::move(to)});
}

AlertMessages::Sent AlertMessages::SendEach(const std::function<void(const Value& to)>& send_to) {
  Sent sent;
  MessageLedger* ledger = context_.ledger;
  if (ledger == nullptr) {
    for (const Message& message : messages_) {
      send_to(message.to);
      ++sent.now;
    }
    return sent;
  }
  std::vector<const Message*> due;
  for (const Message& message : messages_) {
    const Standing standing = ledger->Claim(message.entry);
    if (standing == Standing::kDue) due.push_back(&message);
    if (standing != Standing::kDue && standing != Standing::kSentBefore) sent.all = false;
  }
  for (const Message* message : due) ledger->CheckRecipients(message->entry);
  for (const Message* message : due) {
    ledger->HandOver(message->entry, [&] { send_to(message->to); });
    ++sent.now;
  }
  return sent;
}

}  // namespace corvane::alerts
