#include "data/sqlite/sqlite_connection.h"

#include <sqlite3.h>
#include <unistd.h>

#include <charconv>

#include "base/ascii.h"
#include "data/connection_string.h"
#include "data/data_error.h"
#include "data/dialect.h"
#include "data/sqlite/sqlite_row_set.h"

namespace corvane::data {

namespace {

std::chrono::milliseconds BusyTimeout(const ConnectionString& parsed,
                                      std::chrono::milliseconds fallback) {
  const auto text = parsed.Find("Busy Timeout");
  if (!text) return fallback;
  long long ms = -1;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), ms);
  if (error != std::errc() || end != text->data() + text->size() || ms < 0 || ms > 2'000'000'000) {
    ThrowDatabaseError(errnum::kConnectionStringError,
                       "Busy Timeout must be a number of milliseconds, not '" + *text + "'");
  }
  return std::chrono::milliseconds(ms);
}

}  // namespace

bool IsSqliteConnectionString(std::string_view connection_string) {
  const auto provider = ConnectionString::Parse(connection_string).Find("Provider");
  return provider && EqualsNoCase(*provider, "SQLite");
}

SqliteConnection::SqliteConnection(const ConnectOptions& options) {
  const ConnectionString parsed = ConnectionString::Parse(options.connection_string);
  const auto source = parsed.Find("Data Source");
  if (!source || source->empty()) {
    ThrowDatabaseError(errnum::kConnectionStringError,
                       "The SQLite connection string names no Data Source (the database file)");
  }
  std::filesystem::path file(*source);
  if (file.is_relative() && !options.base_folder.empty()) file = options.base_folder / file;
  file_ = file;
  database_ = std::make_shared<SqliteDatabase>(
      file,
      BusyTimeout(parsed, std::chrono::duration_cast<std::chrono::milliseconds>(options.timeout)),
      options.statement_limit, options.watch, options.read_only);
}

SqliteConnection::~SqliteConnection() {
  if (database_) database_->Close();
}

std::unique_ptr<RowSet> SqliteConnection::OpenRowSet(std::string_view query,
                                                     std::span<const Value> parameters) {
  if (!database_) {
    ThrowDatabaseError(errnum::kObjectClosed, "Operation is not allowed: the connection is closed");
  }
  // SQLite has no TOP, and holds dates as ISO text, which compares right only with ISO literals.
  std::string sql = AdaptQuery(query, Dialect{.has_top = false, .iso_date_literals = true});
  SqliteStatementPtr statement = database_->Take(sql);
  // A statement that writes could show up in, or disturb, row sets that are still stepping.
  if (!sqlite3_stmt_readonly(statement.get())) database_->BeforeWrite();
  return std::make_unique<SqliteRowSet>(database_, std::move(sql), std::move(statement),
                                        parameters);
}

std::optional<bool> SqliteConnection::MayUpdate(std::string_view, std::string_view) {
  // Asked of the kernel rather than guessed from the mode bits (ACLs, read-only mounts).
  return ::access(file_.c_str(), W_OK) == 0 &&
         ::access(file_.parent_path().c_str(), W_OK | X_OK) == 0;
}

void SqliteConnection::Close() {
  if (!database_) return;
  database_->Close();
  database_.reset();  // the file closes once no row set uses it any more
}

}  // namespace corvane::data
