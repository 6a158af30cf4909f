// The ledger of a run (--ledger): every message of the passes is claimed in the ledger's table
// before it is handed to the mail server, so that no two runs, on one host or on two, hand it
// over both; it is recorded sent once the server accepted it, and a later run skips it. A
// claim holds for the claiming run's limit: a run cannot outlive it, so a claim whose time has
// passed belongs to a run that died, and the next run takes it over and sends the message again
// (at least once over runs; exactly once while the runs live). A message the server refused for
// good (or whose address the program's own check refuses) is recorded refused; later runs skip
// it with one warning until its recipients change.
//
// The record of an accepted message travels with the claim of the next one, in one round trip
// where the engine runs both as one statement (LedgerDialect::record_then_claim), so a message
// costs one round trip; the last record is written by Finish. A run that fails leaves its
// message in hand to SettleAfter, called at the top of the run, the one place a failure is
// caught.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "alerts/ledger/ledger_table.h"
#include "base/error.h"
#include "mail/mail_message.h"

namespace corvane::alerts {

// Where a message stands for this run.
enum class Standing {
  kDue,            // claimed by this run (in a look only: it would be sent)
  kSentBefore,     // an earlier run sent it
  kRefused,        // refused for good earlier, to the same recipients
  kHeldElsewhere,  // another run claimed it and its claim still holds
};

class MessageLedger {
 public:
  // How a skipped message is told: one line, a warning in a run, a note in a look.
  using Say = std::function<void(const std::string& line)>;

  // `claim_limit`: this run's limit, how long its claims hold. `look_only` (a dry run): nothing
  // is written, and every message the ledger would skip is told. `mail` tells how each
  // delivery ended.
  MessageLedger(std::unique_ptr<LedgerTable> table, const mail::MailComponent& mail,
                std::chrono::seconds claim_limit, bool look_only, Say say);

  LedgerTable& table() { return *table_; }

  // The run lock (LedgerTable::TryRunLock), held until the connection ends (or Finish gives a
  // lease back).
  data::RunLockAnswer TakeRunLock(DateTime today);

  // The messages of `pass` are read a whole alert day at a time, on the first need: one round
  // trip for all of a day's alerts (a pass whose alerts go out once per day).
  void ReadByDay(std::string_view pass) { by_day_.emplace(pass); }

  // Where `message` stands; a due message is claimed for this run (in a look only, nothing is
  // claimed). A skipped message is told, but one sent before only in a look.
  Standing Claim(const LedgerMessage& message);
  // Checks the recipients of a claimed message as a message to them would (the program's own
  // address check); fails as it does.
  void CheckRecipients(const LedgerMessage& message);
  // Hands a claimed message over through `hand_over`, which returns once the server accepted it.
  void HandOver(const LedgerMessage& message, const std::function<void()>& hand_over);

  // After the last pass: the last record written, a lease given back.
  void Finish();
  // At the top of the run, after `failure` ended it: what the run had accepted is recorded; the
  // message in hand is recorded refused when its recipients were refused for good (by the
  // server, or by the address check), else its claim is given up so the next run sends it; the
  // other claims are given up, and a lease given back. Nothing when the database itself failed:
  // the claims then end with their limit.
  void SettleAfter(const Error& failure);

 private:
  enum class Step { kNone, kChecking, kHandingOver };

  // The message's row: from its day when the pass is read by day, else looked up.
  std::optional<LedgerRow> Known(const LedgerMessage& message);
  Standing Skip(const LedgerMessage& message, const LedgerRow& row);
  void WriteAccepted();
  void Forget(const LedgerMessage& message);

  std::unique_ptr<LedgerTable> table_;
  const mail::MailComponent& mail_;
  std::chrono::seconds claim_limit_;
  bool look_only_;
  Say say_;
  std::set<std::string, std::less<>> by_day_;
  std::set<std::pair<std::string, DateTime>> days_read_;
  std::map<std::pair<std::string, std::string>, LedgerRow> day_rows_;
  std::vector<LedgerMessage> claimed_;    // claimed by this run, not handed over yet
  std::optional<LedgerRecord> accepted_;  // accepted, its record not written yet
  Step step_ = Step::kNone;
  LedgerMessage in_hand_;  // the message of step_
};

// A time the ledger holds, as the run log shows times; a text a server gave is shown as given.
std::string LedgerTimeText(const Value& time);

}  // namespace corvane::alerts
