// Each engine's profile (data/engine_profile.h), one file each, and the order they are asked in.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "data/engine_profile.h"

namespace corvane::data {

const EngineProfile& SqliteProfile();
const EngineProfile& SqlServerProfile();
const EngineProfile& PostgresProfile();
const EngineProfile& MariaDbProfile();
const EngineProfile& MySqlProfile();
// Any other ODBC server; it claims every connection string no other profile claims.
const EngineProfile& PlainOdbcProfile();

// Whether the string names an ODBC driver whose name holds one of `names` (any letter case), and
// no OLE DB provider but ODBC's own (MSDASQL).
bool NamesOdbcDriver(const ConnectionString& read, std::initializer_list<std::string_view> names);
// Adds the part unless the string has a part of that name.
void AddUnlessSet(ConnectionString& parts, std::string_view name, std::string_view value);
// Whether `text` holds `part`, any letter case.
bool HasNoCase(std::string_view text, std::string_view part);

// An engine's LedgerDialect whose claim is an INSERT (the server's clock written as `now`, the
// claim's end as `seconds_from_now`) followed by `if_present`, how the engine leaves a row that is
// there already alone.
LedgerDialect MakeLedgerDialect(std::string_view setup_file, std::string table_question,
                                std::string now, std::string seconds_from_now,
                                std::string_view if_present);

// SQL Server's OLE DB providers (SQLOLEDB, SQLNCLI*, MSOLEDBSQL*), for the settings files of
// existing installations: the string's parts as the ODBC parts of `driver`. Fails (kDatabase)
// for a keyword that has no ODBC equivalent, and when `driver` is empty ("no SQL Server ODBC
// driver is installed").
ConnectionString TranslateOleDbToOdbc(const ConnectionString& read, const std::string& driver);
// The driver to use: "ODBC Driver 18 for SQL Server", else 17, else "FreeTDS" (by name as the
// driver manager lists it); empty when none of them is installed.
std::string ChooseSqlServerDriver(const std::vector<std::string>& installed_drivers);

}  // namespace corvane::data
