// The messages of one alert (a tour drop's one message; a ticket's or an action's messages),
// handed to SendMsg in order. In a run that keeps a ledger (alerts/ledger/message_ledger.h) each
// goes out only when the ledger has it due, and the recipients of every due message are
// checked before the first of them goes out, so an alert never goes out half; without a ledger
// each is sent as it always was.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/ledger/ledger_table.h"
#include "alerts/pass_context.h"
#include "base/date_time.h"
#include "base/value.h"

namespace corvane::alerts {

// The passes as the ledger names them.
inline constexpr std::string_view kTourDropPass = "tour drop";
inline constexpr std::string_view kTicketPass = "ticket";
inline constexpr std::string_view kActionPass = "action";

class AlertMessages {
 public:
  // `alert_key` names the alert in the ledger; `alert_day` is the company's date it is for.
  AlertMessages(PassContext& context, std::string_view pass, std::string alert_key,
                DateTime alert_day);

  // A message of the alert to `to`. `place` names it among the alert's messages (the column its
  // address comes from), or is empty for an alert's one message.
  void Add(std::string_view place, Value to);

  struct Sent {
    bool all = true;  // every message is out: sent now, or by an earlier run
    int now = 0;      // sent by this call
  };
  // Sends each message that is due through `send` (which calls SendMsg with its address).
  Sent SendEach(const std::function<void(const Value& to)>& send);

 private:
  struct Message {
    LedgerMessage entry;
    Value to;
  };

  PassContext& context_;
  std::string pass_;
  std::string alert_key_;
  DateTime alert_day_;
  std::vector<Message> messages_;
};

}  // namespace corvane::alerts
