// SQLite: a database file, opened by the program's own engine ("Provider=SQLite;Data
// Source=<file>;", optionally "Busy Timeout=<ms>;"); other parts of the string, the password
// part among them, mean nothing to a file and are ignored.
#include <sqlite3.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <filesystem>

#include "base/ascii.h"
#include "data/data_error.h"
#include "data/profiles/profiles.h"
#include "data/sql_text.h"
#include "data/sqlite/sqlite_connection.h"

namespace corvane::data {

namespace {

namespace fs = std::filesystem;

std::chrono::milliseconds BusyTimeout(const ConnectionString& read,
                                      std::chrono::milliseconds fallback) {
  const auto text = read.Find("Busy Timeout");
  if (!text) return fallback;
  long long ms = -1;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), ms);
  if (error != std::errc() || end != text->data() + text->size() || ms < 0 || ms > 2'000'000'000) {
    ThrowDatabaseError(errnum::kConnectionStringError,
                       "Busy Timeout must be a number of milliseconds, not '" + *text + "'");
  }
  return std::chrono::milliseconds(ms);
}

// A "file:" URI for `file` with the query `parameters` ('%', '?' and '#' escaped).
std::string FileUri(const fs::path& file, std::string_view parameters) {
  std::string uri = "file:";
  for (const char c : fs::absolute(file).string()) {
    if (c == '%' || c == '?' || c == '#') {
      char escaped[4];
      std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned>(c));
      uri += escaped;
    } else {
      uri += c;
    }
  }
  return uri + "?" + std::string(parameters);
}

bool OnReadOnlyMedia(const fs::path& file) {
  struct statvfs media {};
  return ::statvfs(file.c_str(), &media) == 0 && (media.f_flag & ST_RDONLY) != 0;
}

// How a look that must write nothing opens the file (measured with SQLite 3.40). It reads in one
// transaction, so every statement sees one snapshot; the shared lock (or, in WAL mode, the read
// mark) it holds keeps a writer from changing what it reads. With a write-ahead log another
// writer left, the log's index is read without being changed (a log without its index fails:
// only a writer can rebuild it); otherwise SQLite reads the file under its lock as usual: for a
// WAL database it makes the empty log and index a reader needs, as any connection does. Only a
// file on read-only media, which nothing can change, is read as immutable, without locks. A
// writer connecting or disconnecting meanwhile changes which case holds: the opening looks again.
SqliteOpening ReadOnlyOpening(const fs::path& file) {
  fs::path log = file;
  log += "-wal";
  std::error_code ignored;
  constexpr int kFlags =
      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX;
  const std::string parameters = fs::exists(log, ignored) ? "mode=ro&readonly_shm=1"
                                 : OnReadOnlyMedia(file)    ? "mode=ro&immutable=1"
                                                            : "mode=ro";
  return {file, FileUri(file, parameters), kFlags, true, [file] { return ReadOnlyOpening(file); }};
}

// Times are the machine's local time as ISO text, which compares in time order.
const LedgerDialect& SqliteLedger() {
  static const LedgerDialect dialect = MakeLedgerDialect(
      "ledger-sqlite.sql",
      "SELECT COUNT(*) AS Found FROM sqlite_master WHERE type = 'table' AND name = "
      "'CorvaneLedger' COLLATE NOCASE",
      "datetime('now', 'localtime')", "datetime('now', 'localtime', ? || ' seconds')",
      " ON CONFLICT (Pass, AlertKey) DO NOTHING");
  return dialect;
}

class Sqlite final : public EngineProfile {
 public:
  std::string_view name() const override { return "SQLite"; }

  bool Claims(const ConnectionString& read) const override {
    const auto provider = read.Find("Provider");
    return provider && EqualsNoCase(*provider, "SQLite");
  }

  // A relative Data Source resolves against options.base_folder. Read-write without CREATE: a
  // mistyped path must fail, never leave a new empty database. No mutex: the connection is
  // used by one thread only, and each SQLite call would otherwise take one. The wait on a locked
  // file is Busy Timeout when given, else options.timeout. Fails for a missing file, for a file
  // that is no database, and for a string without a Data Source.
  std::unique_ptr<Connection> Open(const ConnectionString& read,
                                   const ConnectOptions& options) const override {
    const auto source = read.Find("Data Source");
    if (!source || source->empty()) {
      ThrowDatabaseError(errnum::kConnectionStringError,
                         "The SQLite connection string names no Data Source (the database file)");
    }
    fs::path file(*source);
    if (file.is_relative() && !options.base_folder.empty()) file = options.base_folder / file;
    const SqliteOpening opening =
        options.read_only
            ? ReadOnlyOpening(file)
            : SqliteOpening{file, file.string(),
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_EXRESCODE | SQLITE_OPEN_NOMUTEX,
                            false, {}};
    auto database = std::make_shared<SqliteDatabase>(
        opening,
        BusyTimeout(read, std::chrono::duration_cast<std::chrono::milliseconds>(options.timeout)),
        options.statement_limit, options.watch);
    return std::make_unique<SqliteConnection>(*this, std::move(database));
  }

  // The SQLite ODBC driver, too.
  bool IsServer(std::string_view dbms_name, std::string_view) const override {
    return dbms_name == "SQLite";
  }

  // No TOP; dates are ISO text, which compares right only with ISO literals.
  std::string AdaptQuery(std::string_view sql) const override {
    return UsDateLiteralsToIso(TopToLimit(sql));
  }

  // A file has no privileges: the file and its folder (for the journal) must be writable by
  // the program's account. Asked of the kernel rather than guessed from the mode bits (ACLs,
  // read-only mounts).
  std::optional<bool> MayUpdate(Connection& connection, std::string_view,
                                std::string_view) const override {
    auto main = connection.OpenRowSet("SELECT file FROM pragma_database_list WHERE name = 'main'");
    if (main->eof() || !main->Field("file").is_text()) return std::nullopt;
    const fs::path file = main->Field("file").text();
    return ::access(file.c_str(), W_OK) == 0 &&
           ::access(file.parent_path().c_str(), W_OK | X_OK) == 0;
  }

  // No lock of SQLite's outlives a statement and still lets the connection's own writes
  // through: a write transaction held for the run would keep every claim, record and mark
  // uncommitted until the end (a run that dies forgets what it sent) and shut the operator's
  // own programs out of the file. The ledger holds a lease instead (TryRunLock's default).
  const LedgerDialect* Ledger() const override { return &SqliteLedger(); }

  // The file holds the ledger: what lets the login write the marks lets it keep the ledger.
  std::optional<bool> MayKeepLedger(Connection& connection) const override {
    return MayUpdate(connection, "CorvaneLedger", "State");
  }
};

}  // namespace

const EngineProfile& SqliteProfile() {
  static const Sqlite profile;
  return profile;
}

}  // namespace corvane::data
