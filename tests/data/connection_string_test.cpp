// Connection strings: parsing both forms, and the OLE DB to ODBC translation for SQL Server.
#include "data/connection_string.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "data/connection.h"
#include "data/database.h"
#include "data/odbc/oledb_translation.h"
#include "support/postgres_server.h"

namespace corvane::data {
namespace {

TEST(ConnectionStrings, PartsWithQuotesBracesAndOddSpacing) {
  const auto parsed = ConnectionString::Parse(
      " Provider = SQLOLEDB ;Data Source=srv\\inst;Password=\"a;b\"\"c\";Driver={x;}}y};junk;"
      "PWD=vantorel;");
  EXPECT_EQ(parsed.Find("provider"), "SQLOLEDB");
  EXPECT_EQ(parsed.Find("DATA SOURCE"), "srv\\inst");
  EXPECT_EQ(parsed.Find("Password"), "a;b\"c");
  EXPECT_EQ(parsed.Find("Driver"), "x;}y");
  EXPECT_EQ(parsed.Find("PWD"), "vantorel");
  EXPECT_FALSE(parsed.Find("junk").has_value());
  EXPECT_EQ(OdbcPart("PWD", "a;b}c"), "PWD={a;b}}c};");
  EXPECT_EQ(OdbcPart("UID", "sa"), "UID=sa;");
}

TEST(ConnectionStrings, ThePasswordPartNeverRunsIntoTheLastValue) {
  EXPECT_EQ(FullConnectionString("Provider=SQLite;Data Source=fleet.db;"),
            "Provider=SQLite;Data Source=fleet.db;PWD=vantorel;");
  EXPECT_EQ(FullConnectionString("Provider=SQLite;Data Source=fleet.db"),
            "Provider=SQLite;Data Source=fleet.db;PWD=vantorel;");
  EXPECT_EQ(ConnectionString::Parse(FullConnectionString("Driver={x};UID=corvane  ")).Find("UID"),
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
  EXPECT_EQ(WithoutProgramParts(text), "Driver={PostgreSQL Unicode};UID=u;");
  EXPECT_EQ(WithoutProgramParts("Driver={x};UID=u"), "Driver={x};UID=u");  // untouched
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

TEST(OleDbTranslation, SqlServerProvidersMapToTheOdbcDriver) {
  const std::string odbc18 = "ODBC Driver 18 for SQL Server";
  EXPECT_EQ(TranslateOleDbToOdbc("Provider=SQLOLEDB.1;Persist Security Info=False;User ID=sa;"
                                 "Initial Catalog=Fleet;Data Source=db1,1433;PWD=vantorel;",
                                 odbc18),
            "Driver={ODBC Driver 18 for SQL Server};UID=sa;Database=Fleet;Server=db1,1433;"
            "PWD=vantorel;Encrypt=no;");
  EXPECT_EQ(TranslateOleDbToOdbc("Provider=SQLNCLI11;Server=db1\\SQLEXPRESS;Database=Fleet;"
                                 "Integrated Security=SSPI;PWD=vantorel;",
                                 odbc18),
            "Driver={ODBC Driver 18 for SQL Server};Server=db1\\SQLEXPRESS;Database=Fleet;"
            "Trusted_Connection=yes;Encrypt=no;");
  EXPECT_EQ(TranslateOleDbToOdbc("Provider=MSOLEDBSQL19;Data Source=db1;Initial Catalog=F;"
                                 "Trust Server Certificate=True;PWD=vantorel;",
                                 odbc18),
            "Driver={ODBC Driver 18 for SQL Server};Server=db1;Database=F;PWD=vantorel;"
            "Encrypt=yes;TrustServerCertificate=yes;");
  EXPECT_EQ(TranslateOleDbToOdbc("Provider=SQLOLEDB;Data Source=db1,1500;Initial Catalog=F;"
                                 "User ID=app;Use Encryption for Data=True;PWD=vantorel;",
                                 "FreeTDS"),
            "Driver=FreeTDS;Server=db1;Port=1500;Database=F;UID=app;PWD=vantorel;"
            "Encryption=require;");
  EXPECT_EQ(TranslateOleDbToOdbc("Provider=MSDASQL;DSN=Fleet;PWD=vantorel;", ""),
            "DSN=Fleet;PWD=vantorel;");
}

TEST(OleDbTranslation, RefusesWhatItCannotCarryOver) {
  auto number = [](const char* text, const std::string& driver) {
    try {
      TranslateOleDbToOdbc(text, driver);
    } catch (const Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
      return e.description();
    }
    return std::string("no failure");
  };
  EXPECT_NE(number("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb;", "FreeTDS")
                .find("Microsoft.Jet.OLEDB.4.0"),
            std::string::npos);
  EXPECT_NE(number("Provider=SQLOLEDB;Data Source=db;Initial File Name=x;", "FreeTDS")
                .find("Initial File Name"),
            std::string::npos);
  EXPECT_NE(number("Provider=SQLOLEDB;Data Source=db;", "").find("No SQL Server ODBC driver"),
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
