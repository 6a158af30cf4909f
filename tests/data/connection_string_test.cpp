// Connection strings: reading and writing both grammars, and the OLE DB to ODBC translation for
// SQL Server.
#include "data/connection_string.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/error.h"
#include "data/connection.h"
#include "data/database.h"
#include "data/odbc/odbc_connection.h"
#include "data/profiles/profiles.h"
#include "support/postgres_server.h"

namespace corvane::data {
namespace {

TEST(ConnectionStrings, PartsWithQuotesBracesAndOddSpacing) {
  const auto parsed = ConnectionString::Read(
      " Provider = SQLOLEDB ;Data Source=srv\\inst;Password=\"a;b\"\"c\";Driver={x;}}y};junk;"
      "PWD=vantorel;");
  EXPECT_EQ(parsed.grammar(), Grammar::kOleDb);
  EXPECT_EQ(parsed.Find("provider"), "SQLOLEDB");
  EXPECT_EQ(parsed.Find("DATA SOURCE"), "srv\\inst");
  EXPECT_EQ(parsed.Find("Password"), "a;b\"c");
  EXPECT_EQ(parsed.Find("Driver"), "x;}y");
  EXPECT_EQ(parsed.Find("PWD"), "vantorel");
  EXPECT_FALSE(parsed.Find("junk").has_value());
  // In ODBC a quote is an ordinary character; a value the reader would misread is braced.
  const auto odbc = ConnectionString::Read("Driver={x};PWD=\"own\";UID= sa ;");
  EXPECT_EQ(odbc.grammar(), Grammar::kOdbc);
  EXPECT_EQ(odbc.Find("PWD"), "\"own\"");
  EXPECT_EQ(odbc.Find("UID"), "sa");
  EXPECT_EQ(ConnectionString(Grammar::kOdbc, {{"PWD", "a;b}c"}, {"UID", "sa"}, {"X", "'q"}})
                .Write(Grammar::kOdbc),
            "PWD={a;b}}c};UID=sa;X={'q};");
  EXPECT_EQ(ConnectionString(Grammar::kOleDb, {{"Password", "a;\"b"}, {"User ID", " sa"}})
                .Write(Grammar::kOleDb),
            "Password=\"a;\"\"b\";User ID=\" sa\";");
  // Masking covers what either grammar reads as the password: ODBC reads 'a'b whole.
  EXPECT_EQ(MaskPasswordValues("PWD='a'b;UID=u; Password = {x} ;", "****"),
            "PWD=****;UID=u; Password = **** ;");
}

TEST(ConnectionStrings, ThePasswordPartNeverRunsIntoTheLastValue) {
  EXPECT_EQ(FullConnectionString("Provider=SQLite;Data Source=fleet.db;"),
            "Provider=SQLite;Data Source=fleet.db;PWD=vantorel;");
  EXPECT_EQ(FullConnectionString("Provider=SQLite;Data Source=fleet.db"),
            "Provider=SQLite;Data Source=fleet.db;PWD=vantorel;");
  EXPECT_EQ(ConnectionString::Read(FullConnectionString("Driver={x};UID=corvane  ")).Find("UID"),
            "corvane");
  EXPECT_EQ(FullConnectionString(""), "PWD=vantorel;");
  EXPECT_EQ(DatabasePassword("Driver={x};UID=corvane;"), "vantorel");
}

TEST(ConnectionStrings, APasswordWrittenInTheSettingsIsTheOneUsed) {
  for (const std::string written :
       {"Driver={x};UID=corvane;PWD=own;", "Driver={x};pwd = own ;UID=corvane",
        "Provider=SQLOLEDB;User ID=corvane;Password=\"own\";", "Driver={x};PASSWORD={own};"}) {
    EXPECT_EQ(FullConnectionString(written), written);
    EXPECT_EQ(DatabasePassword(written), "own") << written;
  }
}

TEST(ConnectionStrings, TheProgramsOwnPartsAreReadAndNeverReachADriver) {
  const ProgramParts defaults = ReadProgramParts("Driver={x};UID=u;");
  EXPECT_EQ(defaults.command_timeout, std::chrono::seconds(30));
  EXPECT_EQ(defaults.run_timeout, std::chrono::seconds(1800));
  const std::string text = "Driver={PostgreSQL Unicode};command timeout = 5;Run Timeout=60;UID=u;";
  const ProgramParts parts = ReadProgramParts(text);
  EXPECT_EQ(parts.command_timeout, std::chrono::seconds(5));
  EXPECT_EQ(parts.run_timeout, std::chrono::seconds(60));
  ConnectionString read = ConnectionString::Read(text);
  RemoveProgramParts(read);
  EXPECT_EQ(read.Write(Grammar::kOdbc), "Driver={PostgreSQL Unicode};UID=u;");
  for (const char* bad : {"Command Timeout=0;", "Command Timeout=2;", "Command Timeout=5s;",
                          "Run Timeout=86401;", "Run Timeout=;"}) {
    try {
      ReadProgramParts(bad);
      ADD_FAILURE() << bad;
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kDatabase) << bad;
    }
  }
}

std::string Translated(std::string_view oledb, const std::string& driver) {
  return TranslateOleDbToOdbc(ConnectionString::Read(oledb), driver).Write(Grammar::kOdbc);
}

TEST(OleDbTranslation, SqlServerProvidersMapToTheOdbcDriver) {
  const std::string odbc18 = "ODBC Driver 18 for SQL Server";
  EXPECT_EQ(Translated("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;"
                       "Initial Catalog=Fleet;Data Source=db1,1433;PWD=vantorel;",
                       odbc18),
            "Driver={ODBC Driver 18 for SQL Server};UID=sa;Database=Fleet;Server=db1,1433;"
            "PWD=vantorel;Encrypt=no;");
  EXPECT_EQ(Translated("Provider=SQLNCLI11;Server=db1\\SQLEXPRESS;Database=Fleet;"
                       "Integrated Security=SSPI;PWD=vantorel;",
                       odbc18),
            "Driver={ODBC Driver 18 for SQL Server};Server=db1\\SQLEXPRESS;Database=Fleet;"
            "Trusted_Connection=yes;Encrypt=no;");
  EXPECT_EQ(Translated("Provider=MSOLEDBSQL19;Data Source=db1;Initial Catalog=F;"
                       "Trust Server Certificate=True;PWD=vantorel;",
                       odbc18),
            "Driver={ODBC Driver 18 for SQL Server};Server=db1;Database=F;PWD=vantorel;"
            "Encrypt=yes;TrustServerCertificate=yes;");
  EXPECT_EQ(Translated("Provider=SQLOLEDB;Data Source=db1,1500;Initial Catalog=F;"
                       "User ID=app;Use Encryption for Data=True;PWD=vantorel;",
                       "FreeTDS"),
            "Driver=FreeTDS;Server=db1;Port=1500;Database=F;UID=app;PWD=vantorel;"
            "Encryption=require;");
  // A quoted password is read once and handed over braced, whatever it holds.
  EXPECT_EQ(Translated("Provider=SQLOLEDB;Password=\"'pw\";User ID=alerts;Initial Catalog=Fleet;"
                       "Password=\"a;b}\";",
                       "FreeTDS"),
            "Driver=FreeTDS;PWD={'pw};UID=alerts;Database=Fleet;PWD={a;b}}};");
  EXPECT_EQ(DriverParts(ConnectionString::Read("Provider=MSDASQL;DSN=Fleet;PWD=vantorel;"))
                .Write(Grammar::kOdbc),
            "DSN=Fleet;PWD=vantorel;");
}

TEST(OleDbTranslation, RefusesWhatItCannotCarryOver) {
  auto failure = [](const std::function<void()>& action) {
    try {
      action();
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
      return e.description();
    }
    return std::string("no failure");
  };
  EXPECT_NE(
      failure([] {
        DriverParts(ConnectionString::Read("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb;"));
      }).find("Microsoft.Jet.OLEDB.4.0"),
      std::string::npos);
  EXPECT_NE(failure([] {
              Translated("Provider=SQLOLEDB;Data Source=db;Initial File Name=x;", "FreeTDS");
            }).find("Initial File Name"),
            std::string::npos);
  EXPECT_NE(failure([] {
              Translated("Provider=SQLOLEDB;Data Source=db;", "");
            }).find("No SQL Server ODBC driver"),
            std::string::npos);
}

TEST(OleDbTranslation, PrefersMicrosoftsNewestDriverThenFreeTds) {
  EXPECT_EQ(ChooseSqlServerDriver(
                {"FreeTDS", "ODBC Driver 17 for SQL Server", "ODBC Driver 18 for SQL Server"}),
            "ODBC Driver 18 for SQL Server");
  EXPECT_EQ(ChooseSqlServerDriver({"FreeTDS", "ODBC Driver 17 for SQL Server"}),
            "ODBC Driver 17 for SQL Server");
  EXPECT_EQ(ChooseSqlServerDriver({"PostgreSQL Unicode", "freetds"}), "freetds");
  EXPECT_EQ(ChooseSqlServerDriver({"PostgreSQL Unicode"}), "");
}

TEST(OleDbTranslation, ConnectingWithoutAnInstalledDriverSaysSo) {
  testing::UsePrivateOdbcConfig();  // lists no SQL Server driver
  ConnectOptions options;
  options.connection_string = "Provider=SQLOLEDB;Data Source=db1;Initial Catalog=F;PWD=vantorel;";
  try {
    Connect(options);
    FAIL() << "there is no SQL Server driver to connect with";
  } catch (const Error& e) {
    EXPECT_NE(e.description().find("No SQL Server ODBC driver is installed"), std::string::npos)
        << e.description();
  }
}

}  // namespace
}  // namespace corvane::data
