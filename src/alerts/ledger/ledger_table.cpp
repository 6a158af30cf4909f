#include "alerts/ledger/ledger_table.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include "base/error.h"
#include "base/one_line.h"
#include "base/text_form.h"
#include "base/utf8.h"

namespace corvane::alerts {

namespace {

// The row that names the last run to take the run lock (and holds SQLite's lease).
constexpr std::string_view kRunPass = "run";
constexpr std::string_view kRunKey = "lock";

// Replies are kept on one line and short enough for every engine's column.
constexpr std::size_t kReplyBytes = 1000;

std::string StoredReply(std::string_view reply) {
  std::string text = OneLineText(ToUtf8(reply));
  if (text.size() > kReplyBytes) {
    std::size_t end = kReplyBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
  }
  return text;
}

Value Seconds(std::chrono::seconds seconds) {
  return Value(static_cast<long long>(seconds.count()));
}

const data::LedgerDialect& DialectOf(const data::Connection& connection) {
  const data::LedgerDialect* dialect = connection.profile().Ledger();
  if (dialect == nullptr) {
    throw Error(ErrorKind::kSettings, errnum::kItemNotFound,
                "Item not found: the program keeps no ledger on " + connection.EngineName() +
                    " (--ledger works on SQLite, PostgreSQL, MariaDB, MySQL and SQL Server)");
  }
  return *dialect;
}

// Whether the process a lease names ("process <pid>") is no longer running on this machine.
bool ProcessGone(std::string_view holder) {
  constexpr std::string_view kPrefix = "process ";
  if (!holder.starts_with(kPrefix)) return false;
  holder.remove_prefix(kPrefix.size());
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(holder.data(), holder.data() + holder.size(), pid);
  if (error != std::errc() || end != holder.data() + holder.size() || pid <= 0) return false;
  return ::kill(pid, 0) != 0 && errno == ESRCH;
}

bool IsOne(const Value& value) {
  return value.is_number() && ToNumber(value) == 1;
}

}  // namespace

LedgerTable::LedgerTable(data::Connection& connection, std::string host)
    : connection_(connection),
      dialect_(DialectOf(connection)),
      host_(std::move(host)),
      columns_(
          "SELECT Pass, AlertKey, AlertDay, Recipients, State, Host, ClaimedAt, "
          "ClaimedUntil, SentAt, Reply, CASE WHEN ClaimedUntil <= " +
          dialect_.now + " THEN 1 ELSE 0 END AS Ended FROM CorvaneLedger") {}

void LedgerTable::RequireTable() {
  auto found = connection_.OpenRowSet(dialect_.table_question);
  if (!found->eof() && IsOne(found->Field("Found"))) return;
  throw Error(ErrorKind::kSettings, errnum::kItemNotFound,
              "Item not found: the ledger table CorvaneLedger is not in the database, or this "
              "login may not use it; an administrator makes it with sql/" +
                  std::string(dialect_.setup_file));
}

void LedgerTable::ReadColumns() {
  connection_.OpenRowSet(columns_ + " WHERE 1 = 0")->Close();
}

std::optional<bool> LedgerTable::MayKeep() {
  return connection_.profile().MayKeepLedger(connection_);
}

data::PreparedStatement& LedgerTable::Statement(std::unique_ptr<data::PreparedStatement>& slot,
                                                const std::string& sql) {
  if (!slot) slot = connection_.Prepare(sql);
  return *slot;
}

bool LedgerTable::Claim(const LedgerMessage& message, std::chrono::seconds hold,
                        const std::optional<LedgerRecord>& previous) {
  std::vector<Value> parameters;
  const bool together = previous && !dialect_.record_then_claim.empty();
  if (together) {
    parameters = {Value(previous->state), Value(StoredReply(previous->reply)),
                  Value(previous->pass), Value(previous->key)};
  } else if (previous) {
    Record(*previous);
  }
  parameters.insert(parameters.end(),
                    {Value(message.pass), Value(message.key), Value(message.alert_day),
                     Value(message.recipients), Value(host_), Seconds(hold)});
  data::PreparedStatement& claim = together
                                       ? Statement(record_then_claim_, dialect_.record_then_claim)
                                       : Statement(claim_, dialect_.claim);
  return claim.Execute(parameters) == 1;
}

bool LedgerTable::TakeOver(const LedgerMessage& message, std::chrono::seconds hold) {
  const Value parameters[] = {Value(message.alert_day),
                              Value(message.recipients),
                              Value(host_),
                              Seconds(hold),
                              Value(message.pass),
                              Value(message.key),
                              Value(message.recipients)};
  return Statement(take_over_,
                   "UPDATE CorvaneLedger SET State = 'claimed', AlertDay = ?, Recipients = ?, "
                   "Host = ?, ClaimedAt = " +
                       dialect_.now + ", ClaimedUntil = " + dialect_.seconds_from_now +
                       ", SentAt = NULL, Reply = NULL WHERE Pass = ? AND AlertKey = ? AND "
                       "((State = 'claimed' AND ClaimedUntil <= " +
                       dialect_.now + ") OR (State = 'refused' AND Recipients <> ?))")
             .Execute(parameters) == 1;
}

void LedgerTable::Record(const LedgerRecord& record) {
  const Value parameters[] = {Value(record.state), Value(StoredReply(record.reply)),
                              Value(record.pass), Value(record.key)};
  // A row another run took over after this one's claim ended is that run's now: left alone.
  Statement(record_, "UPDATE CorvaneLedger SET State = ?, SentAt = " + dialect_.now +
                         ", Reply = ? WHERE Pass = ? AND AlertKey = ? AND State = 'claimed'")
      .Execute(parameters);
}

void LedgerTable::Release(const LedgerMessage& message, std::string_view reply) {
  const Value parameters[] = {Value(StoredReply(reply)), Value(message.pass), Value(message.key),
                              Value(message.recipients)};
  Statement(release_, "UPDATE CorvaneLedger SET ClaimedUntil = " + dialect_.now +
                          ", Reply = ? WHERE Pass = ? AND AlertKey = ? AND State = 'claimed' "
                          "AND Recipients = ?")
      .Execute(parameters);
}

void LedgerTable::ForEachRow(data::PreparedStatement& statement, std::span<const Value> where,
                             const std::function<void(const LedgerRow&)>& each) {
  for (auto found = statement.OpenRowSet(where); !found->eof(); found->MoveNext()) {
    LedgerRow row;
    row.pass = JoinText(found->Field("Pass"));
    row.key = JoinText(found->Field("AlertKey"));
    row.recipients = JoinText(found->Field("Recipients"));
    row.state = JoinText(found->Field("State"));
    row.host = JoinText(found->Field("Host"));
    row.reply = JoinText(found->Field("Reply"));
    row.claimed_at = found->Field("ClaimedAt");
    row.claimed_until = found->Field("ClaimedUntil");
    row.sent_at = found->Field("SentAt");
    row.claim_ended = IsOne(found->Field("Ended"));
    each(row);
  }
}

std::vector<LedgerRow> LedgerTable::Rows(data::PreparedStatement& statement,
                                         std::span<const Value> where) {
  std::vector<LedgerRow> rows;
  ForEachRow(statement, where, [&rows](const LedgerRow& row) { rows.push_back(row); });
  return rows;
}

std::optional<LedgerRow> LedgerTable::Find(std::string_view pass, std::string_view key) {
  const Value where[] = {Value(pass), Value(key)};
  std::vector<LedgerRow> rows =
      Rows(Statement(find_, columns_ + " WHERE Pass = ? AND AlertKey = ?"), where);
  if (rows.empty()) return std::nullopt;
  return std::move(rows.front());
}

std::vector<LedgerRow> LedgerTable::Day(std::string_view pass, DateTime alert_day) {
  const Value where[] = {Value(pass), Value(alert_day)};
  return Rows(Statement(day_, columns_ + " WHERE Pass = ? AND AlertDay = ?"), where);
}

void LedgerTable::History(std::chrono::seconds back,
                          const std::function<void(const LedgerRow&)>& each) {
  const Value where[] = {Value(kRunPass), Seconds(-back)};
  auto history = connection_.Prepare(columns_ + " WHERE Pass <> ? AND ClaimedAt >= " +
                                     dialect_.seconds_from_now + " ORDER BY ClaimedAt DESC");
  ForEachRow(*history, where, each);
}

data::RunLockAnswer LedgerTable::TryRunLock(std::chrono::seconds lease, DateTime today) {
  if (auto answer = connection_.profile().TryRunLock(connection_, host_)) return *answer;
  // The lease's row names the process that holds it, in its Recipients.
  lease_ = LedgerMessage{std::string(kRunPass), std::string(kRunKey), today,
                         "process " + std::to_string(::getpid())};
  bool held = Claim(lease_, lease, std::nullopt) || TakeOver(lease_, lease);
  std::optional<LedgerRow> holder;
  if (!held) holder = Find(kRunPass, kRunKey);
  // A lease of this host whose process is gone belongs to a run that died (killed, or the
  // machine restarted): it ends now rather than at its limit.
  if (holder && holder->host == host_ && ProcessGone(holder->recipients)) {
    Release({std::string(kRunPass), std::string(kRunKey), today, holder->recipients}, "");
    held = TakeOver(lease_, lease);
    if (!held) holder = Find(kRunPass, kRunKey);
  }
  leased_ = held;
  if (held) return {true, ""};
  return {false, holder ? holder->host : ""};
}

void LedgerTable::EndLease() {
  if (!leased_) return;
  Release(lease_, "");
  leased_ = false;
}

}  // namespace corvane::alerts
