#include "alerts/ledger/message_ledger.h"

#include <algorithm>

#include "base/text_form.h"
#include "mail/compose/address_check.h"

namespace corvane::alerts {

namespace {

bool MayTakeOver(const LedgerRow& row, const LedgerMessage& message) {
  return (row.state == "claimed" && row.claim_ended) ||
         (row.state == "refused" && row.recipients != message.recipients);
}

std::string Named(const LedgerMessage& message) {
  return message.pass + " " + message.key + " (" + message.recipients + ")";
}

}  // namespace

std::string LedgerTimeText(const Value& time) {
  if (time.is_date()) return GeneralDate(time.date());
  if (time.is_text()) {
    if (const auto parsed = DateTime::FromIso(time.text())) return GeneralDate(*parsed);
  }
  return JoinText(time);
}

MessageLedger::MessageLedger(std::unique_ptr<LedgerTable> table, const mail::MailComponent& mail,
                             std::chrono::seconds claim_limit, bool look_only, Say say)
    : table_(std::move(table)),
      mail_(mail),
      claim_limit_(claim_limit),
      look_only_(look_only),
      say_(std::move(say)) {}

data::RunLockAnswer MessageLedger::TakeRunLock(DateTime today) {
  return table_->TryRunLock(claim_limit_, today);
}

std::optional<LedgerRow> MessageLedger::Known(const LedgerMessage& message) {
  if (!by_day_.contains(message.pass)) return table_->Find(message.pass, message.key);
  if (days_read_.emplace(message.pass, message.alert_day).second) {
    for (LedgerRow& row : table_->Day(message.pass, message.alert_day)) {
      day_rows_.insert_or_assign({row.pass, row.key}, std::move(row));
    }
  }
  const auto found = day_rows_.find({message.pass, message.key});
  if (found == day_rows_.end()) return std::nullopt;
  return found->second;
}

Standing MessageLedger::Claim(const LedgerMessage& message) {
  std::optional<LedgerRow> row = Known(message);
  if (look_only_) return row && !MayTakeOver(*row, message) ? Skip(message, *row) : Standing::kDue;
  if (!row) {
    std::optional<LedgerRecord> previous = std::move(accepted_);
    accepted_.reset();
    if (table_->Claim(message, claim_limit_, previous)) {
      claimed_.push_back(message);
      return Standing::kDue;
    }
    // Another run claimed it since the day was read, or the row was there already.
    row = table_->Find(message.pass, message.key);
  }
  if (row && MayTakeOver(*row, message)) {
    WriteAccepted();
    if (table_->TakeOver(message, claim_limit_)) {
      claimed_.push_back(message);
      return Standing::kDue;
    }
    row = table_->Find(message.pass, message.key);
  }
  if (!row) {
    // Gone between two looks: only a person deleting rows does that; the next run looks anew.
    row.emplace();
    row->state = "claimed";
    row->host = "another host";
  }
  return Skip(message, *row);
}

Standing MessageLedger::Skip(const LedgerMessage& message, const LedgerRow& row) {
  const std::string reply = row.reply.empty() ? "" : ": " + row.reply;
  if (row.state == "sent") {
    if (look_only_) {
      say_("== skip: " + Named(message) + ": sent " + LedgerTimeText(row.sent_at) + " on " +
           row.host + " ==");
    }
    return Standing::kSentBefore;
  }
  if (row.state == "refused") {
    const std::string refused = Named(message) + ": refused for good " +
                                LedgerTimeText(row.sent_at) + " on " + row.host + reply;
    say_(look_only_ ? "== skip: " + refused + " =="
                    : refused + "; skipped until its recipients change");
    return Standing::kRefused;
  }
  const std::string held = Named(message) + ": claimed by a run on " + row.host + " until " +
                           LedgerTimeText(row.claimed_until);
  say_(look_only_ ? "== skip: " + held + " ==" : held + "; left to a later run");
  return Standing::kHeldElsewhere;
}

void MessageLedger::CheckRecipients(const LedgerMessage& message) {
  step_ = Step::kChecking;
  in_hand_ = message;
  mail::ParseMailboxList(message.recipients, "recipient address");
  step_ = Step::kNone;
}

void MessageLedger::HandOver(const LedgerMessage& message, const std::function<void()>& hand_over) {
  step_ = Step::kHandingOver;
  in_hand_ = message;
  hand_over();
  step_ = Step::kNone;
  if (look_only_) return;
  Forget(message);
  WriteAccepted();  // a message whose record could not travel with a claim: the one before
  accepted_ = LedgerRecord{message.pass, message.key, "sent", mail_.last_delivery().reply};
}

void MessageLedger::WriteAccepted() {
  if (!accepted_) return;
  const LedgerRecord record = std::move(*accepted_);
  accepted_.reset();
  table_->Record(record);
}

void MessageLedger::Forget(const LedgerMessage& message) {
  std::erase_if(claimed_, [&](const LedgerMessage& claimed) {
    return claimed.pass == message.pass && claimed.key == message.key;
  });
}

void MessageLedger::Finish() {
  if (look_only_) return;
  WriteAccepted();
  for (const LedgerMessage& left : claimed_) table_->Release(left, "");
  claimed_.clear();
  table_->EndLease();
}

void MessageLedger::SettleAfter(const Error& failure) {
  if (look_only_ || failure.kind() == ErrorKind::kDatabase) return;
  WriteAccepted();
  if (step_ == Step::kChecking && failure.kind() == ErrorKind::kMail) {
    table_->Record({in_hand_.pass, in_hand_.key, "refused", failure.description()});
    Forget(in_hand_);
  } else if (step_ == Step::kHandingOver) {
    const mail::DeliveryReport report = mail_.last_delivery();
    if (report.refused_for_good) {
      table_->Record({in_hand_.pass, in_hand_.key, "refused", report.reply});
    } else {
      table_->Release(in_hand_, report.reply);
    }
    Forget(in_hand_);
  }
  step_ = Step::kNone;
  Finish();
}

}  // namespace corvane::alerts
