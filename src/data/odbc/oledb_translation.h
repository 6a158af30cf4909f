// Settings files of existing installations name SQL Server through an OLE DB provider
// ("Provider=SQLOLEDB;Data Source=srv;Initial Catalog=db;..."). ODBC drivers do not read that
// form, so such a string is rewritten into the equivalent ODBC string for an installed SQL
// Server driver. Pure: the installed drivers are passed in.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace corvane::data {

// True when the string names an OLE DB provider (it has a "Provider" part).
bool IsOleDbString(std::string_view connection_string);

// The driver to use: "ODBC Driver 18 for SQL Server", else 17, else "FreeTDS" (by name as the
// driver manager lists it); empty when none of them is installed.
std::string ChooseSqlServerDriver(const std::vector<std::string>& installed_drivers);

// Rewrites an OLE DB string for SQL Server (SQLOLEDB, SQLNCLI*, MSOLEDBSQL*) into an ODBC string
// for `driver`; a "Provider=MSDASQL" string (ODBC through OLE DB) loses its Provider part.
// Fails (kDatabase) for another provider, for a keyword that has no ODBC equivalent, and when
// `driver` is empty ("no SQL Server ODBC driver is installed").
std::string TranslateOleDbToOdbc(std::string_view connection_string, const std::string& driver);

}  // namespace corvane::data
