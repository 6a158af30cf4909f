// The ledger's table, CorvaneLedger (made by an administrator with sql/ledger-<engine>.sql): one
// row per message a ledger run claimed, keyed by its pass and its alert key, with the day of the
// alert, its recipients, its state (claimed, sent, refused), the host of the run that claimed
// it, when it was claimed, until when the claim holds, when it was sent, and the mail server's
// reply. One more row, ('run', 'lock'), names the last run that took the run lock.
//
// The engine's own SQL comes from its profile (data/engine_profile.h, LedgerDialect); what is
// the same on every engine is written here once. Every statement runs on the run's connection,
// so each is a watched wait under the run's limits; none is ever joined from a value.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/date_time.h"
#include "base/value.h"
#include "data/connection.h"
#include "data/engine_profile.h"

namespace corvane::alerts {

inline constexpr std::string_view kLedgerTable = "CorvaneLedger";

// One message as the ledger knows it.
struct LedgerMessage {
  std::string pass;  // "tour drop", "ticket", "action"
  std::string key;   // which alert and which of its messages
  DateTime alert_day;
  std::string recipients;  // the address text the message goes to
};

// A row as read back.
struct LedgerRow {
  std::string pass;
  std::string key;
  std::string recipients;
  std::string state;  // "claimed", "sent", "refused"
  std::string host;
  std::string reply;
  Value claimed_at;
  Value claimed_until;
  Value sent_at;
  bool claim_ended = false;  // its claim's time has passed, by the server's clock
};

// What a claimed message ended with: "sent" or "refused", and the reply that said so.
struct LedgerRecord {
  std::string pass;
  std::string key;
  std::string state;
  std::string reply;
};

class LedgerTable {
 public:
  // `host` names this run in the rows it claims. Fails (kSettings) where the engine has no
  // ledger.
  LedgerTable(data::Connection& connection, std::string host);
  LedgerTable(const LedgerTable&) = delete;
  LedgerTable& operator=(const LedgerTable&) = delete;

  // Fails (kSettings, 3265) when the table is not there, or this login may not see it, naming
  // the file that makes it.
  void RequireTable();
  // Reads every column of the table once, reading no row: fails with the engine's message for
  // a column that is missing.
  void ReadColumns();
  // Whether this login may read, add and change the rows (the profile's question).
  std::optional<bool> MayKeep();
  std::string_view setup_file() const { return dialect_.setup_file; }

  // Claims `message` for `hold` unless a row has its key; with `previous`, records that claimed
  // message's end in the same round trip where the engine can. True when claimed.
  bool Claim(const LedgerMessage& message, std::chrono::seconds hold,
             const std::optional<LedgerRecord>& previous);
  // Takes the row over for `hold` when its claim has ended, or when it was refused and
  // `message`'s recipients are not the ones refused. True when taken.
  bool TakeOver(const LedgerMessage& message, std::chrono::seconds hold);
  // Ends a claim with its record.
  void Record(const LedgerRecord& record);
  // Ends this run's claim of `message` (its recipients) at once, so that the next run may
  // send it, noting `reply`.
  void Release(const LedgerMessage& message, std::string_view reply);

  std::optional<LedgerRow> Find(std::string_view pass, std::string_view key);
  // The rows of one pass and alert day.
  std::vector<LedgerRow> Day(std::string_view pass, DateTime alert_day);
  // The messages claimed in the last `back`, newest first (the run lock's row left out).
  void History(std::chrono::seconds back, const std::function<void(const LedgerRow&)>& each);

  // Takes the run lock: the engine's own for the session, or where it has none a lease of the
  // row ('run', 'lock') for `lease`, taken like a claim, given back by EndLease; a lease whose
  // process on this host is gone is taken over at once. The answer names the holder's host when
  // another run holds it.
  data::RunLockAnswer TryRunLock(std::chrono::seconds lease, DateTime today);
  // Gives the lease back, if this run holds one; an engine's lock goes with the session.
  void EndLease();

 private:
  data::PreparedStatement& Statement(std::unique_ptr<data::PreparedStatement>& slot,
                                     const std::string& sql);
  void ForEachRow(data::PreparedStatement& statement, std::span<const Value> where,
                  const std::function<void(const LedgerRow&)>& each);
  std::vector<LedgerRow> Rows(data::PreparedStatement& statement, std::span<const Value> where);

  data::Connection& connection_;
  const data::LedgerDialect& dialect_;
  std::string host_;
  std::string columns_;  // the SELECT of every column
  std::unique_ptr<data::PreparedStatement> claim_;
  std::unique_ptr<data::PreparedStatement> record_then_claim_;
  std::unique_ptr<data::PreparedStatement> take_over_;
  std::unique_ptr<data::PreparedStatement> record_;
  std::unique_ptr<data::PreparedStatement> release_;
  std::unique_ptr<data::PreparedStatement> find_;
  std::unique_ptr<data::PreparedStatement> day_;
  LedgerMessage lease_;  // the lease this run asked for
  bool leased_ = false;
};

}  // namespace corvane::alerts
