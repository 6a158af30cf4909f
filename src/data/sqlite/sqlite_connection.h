// The embedded SQLite engine, chosen by "Provider=SQLite;Data Source=<file>;" (optionally
// "Busy Timeout=<ms>;"). Other parts of the string, the password part among them, mean nothing
// to a file database and are ignored.
#pragma once

#include <memory>
#include <string>

#include "data/connection.h"
#include "data/sqlite/sqlite_database.h"

namespace corvane::data {

class SqliteConnection : public Connection {
 public:
  // A relative Data Source resolves against options.base_folder. The wait on a locked file is
  // "Busy Timeout" when given, else options.timeout. Fails for a missing file (nothing is
  // created), for a file that is no database, and for a string without a Data Source.
  // options.read_only: see SqliteDatabase.
  explicit SqliteConnection(const ConnectOptions& options);
  ~SqliteConnection() override;

  std::unique_ptr<RowSet> OpenRowSet(std::string_view query,
                                     std::span<const Value> parameters) override;
  void Close() override;
  std::string EngineName() const override { return "SQLite"; }
  // A file database has no privileges: the file and its folder (for the journal) must be
  // writable by the program's account.
  std::optional<bool> MayUpdate(std::string_view table, std::string_view column) override;

 private:
  std::filesystem::path file_;
  std::shared_ptr<SqliteDatabase> database_;
};

// True for a connection string whose Provider is SQLite.
bool IsSqliteConnectionString(std::string_view connection_string);

}  // namespace corvane::data
