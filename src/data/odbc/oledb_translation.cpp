#include "data/odbc/oledb_translation.h"

#include <algorithm>
#include <array>

#include "base/ascii.h"
#include "base/error.h"
#include "data/connection_string.h"
#include "data/data_error.h"

namespace corvane::data {

namespace {

bool IsSqlServerProvider(std::string_view provider) {
  const std::string p = ToLowerAscii(provider);
  // Version suffixes: "SQLOLEDB.1", "SQLNCLI11", "MSOLEDBSQL19".
  return p.rfind("sqloledb", 0) == 0 || p.rfind("sqlncli", 0) == 0 || p.rfind("msoledbsql", 0) == 0;
}

bool IsTrue(std::string_view value) {
  return EqualsNoCase(value, "true") || EqualsNoCase(value, "yes") || EqualsNoCase(value, "sspi") ||
         value == "1";
}

[[noreturn]] void Fail(const std::string& message) {
  throw Error(ErrorKind::kDatabase, errnum::kConnectionStringError, message);
}

bool IsOneOf(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view n) { return EqualsNoCase(name, n); });
}

// "host,port" -> FreeTDS wants the port in a part of its own.
void AddServer(std::string& out, std::string_view server, bool freetds) {
  const std::size_t comma = server.find(',');
  if (freetds && comma != std::string_view::npos) {
    out += OdbcPart("Server", server.substr(0, comma));
    out += OdbcPart("Port", server.substr(comma + 1));
  } else {
    out += OdbcPart("Server", server);
  }
}

}  // namespace

bool IsOleDbString(std::string_view connection_string) {
  return ConnectionString::Parse(connection_string).Find("Provider").has_value();
}

std::string ChooseSqlServerDriver(const std::vector<std::string>& installed_drivers) {
  static constexpr std::array<std::string_view, 3> kPreferred = {
      "ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server", "FreeTDS"};
  for (std::string_view wanted : kPreferred) {
    for (const auto& name : installed_drivers) {
      if (EqualsNoCase(name, wanted)) return name;
    }
  }
  return {};
}

std::string TranslateOleDbToOdbc(std::string_view connection_string, const std::string& driver) {
  const ConnectionString parsed = ConnectionString::Parse(connection_string);
  const std::string provider = parsed.Find("Provider").value_or("");
  if (EqualsNoCase(provider, "MSDASQL") || EqualsNoCase(provider, "MSDASQL.1")) {
    std::string out;
    for (const auto& part : parsed.parts()) {
      if (!EqualsNoCase(part.name, "Provider")) out += OdbcPart(part.name, part.value);
    }
    return out;
  }
  if (!IsSqlServerProvider(provider)) {
    Fail("The OLE DB provider '" + provider +
         "' is not supported; use an ODBC connection string or Provider=SQLite");
  }
  if (driver.empty()) {
    Fail(
        "No SQL Server ODBC driver is installed (looked for 'ODBC Driver 18 for SQL Server', "
        "'ODBC Driver 17 for SQL Server' and 'FreeTDS') to open the " +
        provider + " connection string");
  }
  const bool freetds = EqualsNoCase(driver, "FreeTDS");
  const bool integrated = IsTrue(parsed.Find("Integrated Security").value_or("")) ||
                          IsTrue(parsed.Find("Trusted_Connection").value_or(""));
  std::string out = OdbcPart("Driver", driver);
  std::optional<std::string> encrypt;
  std::optional<std::string> trust;
  for (const auto& part : parsed.parts()) {
    const std::string_view name = part.name;
    const std::string& value = part.value;
    if (IsOneOf(name,
                {"Provider", "Integrated Security", "Trusted_Connection", "Persist Security Info",
                 "Connect Timeout", "Connection Timeout", "OLE DB Services",
                 "Use Procedure for Prepare", "Packet Size", "Auto Translate",
                 "MultipleActiveResultSets", "MARS Connection", "DataTypeCompatibility"})) {
      // Handled below or meaningless here: the login timeout is set by the program, and
      // every row set is read whole, so no second active result set is needed.
      continue;
    }
    if (IsOneOf(name, {"Data Source", "Server", "Address", "Addr", "Network Address"})) {
      AddServer(out, value, freetds);
    } else if (IsOneOf(name, {"Initial Catalog", "Database"})) {
      out += OdbcPart("Database", value);
    } else if (IsOneOf(name, {"User ID", "UID", "User"})) {
      if (!integrated) out += OdbcPart("UID", value);
    } else if (IsOneOf(name, {"Password", "PWD"})) {
      if (!integrated) out += OdbcPart("PWD", value);
    } else if (IsOneOf(name, {"Application Name", "APP"})) {
      out += OdbcPart("APP", value);
    } else if (IsOneOf(name, {"Workstation ID", "WSID"})) {
      out += OdbcPart("WSID", value);
    } else if (IsOneOf(name, {"Current Language", "Language"})) {
      out += OdbcPart("Language", value);
    } else if (IsOneOf(name, {"Use Encryption for Data", "Encrypt"})) {
      encrypt = IsTrue(value) || EqualsNoCase(value, "mandatory") || EqualsNoCase(value, "strict")
                    ? "yes"
                    : "no";
    } else if (IsOneOf(name, {"Trust Server Certificate", "TrustServerCertificate"})) {
      trust = IsTrue(value) ? "yes" : "no";
    } else {
      Fail("The OLE DB connection string keyword '" + part.name +
           "' has no ODBC equivalent here; remove it or write an ODBC connection string");
    }
  }
  if (integrated) out += OdbcPart("Trusted_Connection", "yes");
  if (freetds) {
    if (encrypt == "yes") out += OdbcPart("Encryption", "require");
  } else {
    // The older providers do not encrypt unless asked (MSOLEDBSQL 19 does); ODBC driver 18
    // would otherwise insist on it.
    const bool encrypts_by_default = ToLowerAscii(provider).rfind("msoledbsql19", 0) == 0;
    out += OdbcPart("Encrypt", encrypt.value_or(encrypts_by_default ? "yes" : "no"));
    if (trust) out += OdbcPart("TrustServerCertificate", *trust);
  }
  return out;
}

}  // namespace corvane::data
