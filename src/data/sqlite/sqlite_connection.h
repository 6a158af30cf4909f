// The embedded SQLite engine: a database file opened in the program's own process, as the
// SQLite profile (profiles/sqlite.cpp) decides from the connection string.
#pragma once

#include <memory>
#include <string>

#include "data/connection.h"
#include "data/sqlite/sqlite_database.h"

namespace corvane::data {

class SqliteConnection : public Connection {
 public:
  SqliteConnection(const EngineProfile& profile, std::shared_ptr<SqliteDatabase> database);
  ~SqliteConnection() override;

  std::unique_ptr<RowSet> OpenRowSet(std::string_view query,
                                     std::span<const Value> parameters) override;
  std::unique_ptr<PreparedStatement> Prepare(std::string_view sql) override;
  void Close() override;
  std::string EngineName() const override { return "SQLite"; }
  std::optional<bool> MayUpdate(std::string_view table, std::string_view column) override;
  const EngineProfile& profile() const override;

 private:
  SqliteDatabase& Open() const;

  const EngineProfile& profile_;
  std::shared_ptr<SqliteDatabase> database_;
};

}  // namespace corvane::data
