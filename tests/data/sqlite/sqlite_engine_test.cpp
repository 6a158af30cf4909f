// What only the embedded SQLite engine does: open existing files only, wait a bounded time on a
// locked file, and read values by the declared column type.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <thread>

#include "base/error.h"
#include "data/connection.h"
#include "data/sqlite/sqlite_database.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

data::ConnectOptions SqliteOptions(const TempDir& dir, const std::string& extra = "") {
  data::ConnectOptions options;
  options.connection_string = "Provider=SQLite;Data Source=shop.db;" + extra + "PWD=vantorel;";
  options.base_folder = dir.path();
  return options;
}

Error ConnectError(const data::ConnectOptions& options) {
  try {
    data::Connect(options);
  } catch (const Error& e) {
    return e;
  }
  return Error(ErrorKind::kSystem, 0, "no failure");
}

TEST(SqliteEngine, MissingFileFailsAndIsNotCreated) {
  TempDir dir;
  const Error e = ConnectError(SqliteOptions(dir));
  EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
  EXPECT_EQ(e.number(), SQLITE_CANTOPEN);
  EXPECT_NE(e.description().find("shop.db"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir / "shop.db"));
}

TEST(SqliteEngine, FileThatIsNoDatabaseFailsAtConnect) {
  TempDir dir;
  WriteFile(dir / "shop.db", std::string(4096, 'x'));
  EXPECT_EQ(ConnectError(SqliteOptions(dir)).number(), SQLITE_NOTADB);
}

TEST(SqliteEngine, LockedFileIsWaitedOnForABoundedTimeThenFails) {
  TempDir dir;
  CreateSqliteFile(dir / "shop.db", "CREATE TABLE Bus (ID INTEGER PRIMARY KEY, Name TEXT);");
  auto conn = data::Connect(SqliteOptions(dir, "Busy Timeout=300;"));
  // Another program holds the file exclusively.
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "shop.db").c_str(), &raw), SQLITE_OK);
  std::unique_ptr<sqlite3, int (*)(sqlite3*)> other(raw, sqlite3_close);
  ASSERT_EQ(sqlite3_exec(raw, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  try {
    conn->OpenRowSet("SELECT * FROM Bus");
    FAIL() << "a locked file must fail after the wait";
  } catch (const Error& e) {
    EXPECT_EQ(e.number() & 0xFF, SQLITE_BUSY);
  }
  // A new connection waits the same way instead of hanging.
  EXPECT_EQ(ConnectError(SqliteOptions(dir, "Busy Timeout=100;")).number() & 0xFF, SQLITE_BUSY);

  // A wait long enough outlasts the other program's transaction: the engine waits, it does not
  // fail at the first refusal. (Should the release come first on a busy machine, the query
  // passes without a wait: never a false failure.)
  {
    const std::jthread other_commits([raw] {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      sqlite3_exec(raw, "COMMIT", nullptr, nullptr, nullptr);
    });
    try {
      auto patient = data::Connect(SqliteOptions(dir, "Busy Timeout=60000;"));
      EXPECT_TRUE(patient->OpenRowSet("SELECT * FROM Bus")->eof());
    } catch (const Error& e) {
      ADD_FAILURE() << "the wait ended before the file was free: " << e.what();
    }
  }
  EXPECT_TRUE(conn->OpenRowSet("SELECT * FROM Bus")->eof());
}

TEST(SqliteEngine, BusyTimeoutMustBeMilliseconds) {
  TempDir dir;
  CreateSqliteFile(dir / "shop.db", "CREATE TABLE T (ID INTEGER PRIMARY KEY);");
  EXPECT_EQ(ConnectError(SqliteOptions(dir, "Busy Timeout=soon;")).kind(), ErrorKind::kDatabase);
}

// A look that relied on a write-ahead log's index a writer has just removed (or not yet made)
// opens as the folder stands on a second look; a log that stays without its index is refused.
TEST(SqliteEngine, AReadOnlyOpeningThatCannotOpenLooksAgainABoundedNumberOfTimes) {
  TempDir dir;
  CreateSqliteFile(dir / "shop.db", "PRAGMA journal_mode=WAL; CREATE TABLE T (ID INTEGER);");
  WriteFile(dir / "shop.db-wal", "");  // a log without its index: readonly_shm cannot open it
  const auto uri = [&](const char* parameters) {
    return "file:" + (dir / "shop.db").string() + "?" + parameters;
  };
  const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI;
  int looks = 0;
  data::SqliteOpening stale{dir / "shop.db", uri("mode=ro&readonly_shm=1"), flags, true, {}};
  stale.look_again = [&] {
    ++looks;
    return stale;
  };
  try {
    data::SqliteDatabase(stale, std::chrono::milliseconds(100), std::chrono::seconds(5), nullptr);
    ADD_FAILURE() << "a log without its index must be refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.number() & 0xFF, SQLITE_CANTOPEN);
  }
  EXPECT_EQ(looks, 3);
  EXPECT_FALSE(std::filesystem::exists(dir / "shop.db-shm"));

  // The writer has gone, taking its log along: the second look opens the file as usual.
  std::filesystem::remove(dir / "shop.db-wal");
  data::SqliteOpening vanished = stale;
  vanished.look_again = [&] {
    return data::SqliteOpening{dir / "shop.db", uri("mode=ro"), flags, true, {}};
  };
  const data::SqliteDatabase opened(vanished, std::chrono::milliseconds(100),
                                    std::chrono::seconds(5), nullptr);
  EXPECT_FALSE(opened.closed());
}

TEST(SqliteEngine, DeclaredTypeDecidesHowStoredValuesRead) {
  TempDir dir;
  CreateSqliteFile(dir / "shop.db",
                   "CREATE TABLE T (ID INTEGER PRIMARY KEY, D DATE, DT DATETIME, B BIT,"
                   " M MONEY, N NUMERIC(10,2), V VARCHAR(20));"
                   "INSERT INTO T VALUES (1, '2026-12-07', 'next week', 1, 12.5, 3, 42);"
                   "INSERT INTO T VALUES (2, NULL, '2026-12-07T08:15:00', 0, 7, 2.25, 'x');");
  auto conn = data::Connect(SqliteOptions(dir));
  auto rs = conn->OpenRowSet(
      "SELECT T.*, D AS Alias, ID * 2 AS Twice, M / 2 AS Half, "
      "'lit' AS Lit FROM T ORDER BY ID");
  EXPECT_EQ(rs->Field("D"), Value(DateTime::FromParts(2026, 12, 7)));
  EXPECT_EQ(rs->Field("Alias"), Value(DateTime::FromParts(2026, 12, 7)));
  EXPECT_EQ(rs->Field("DT"), Value("next week"));  // not ISO: stays text
  EXPECT_EQ(rs->Field("B"), Value(true));
  EXPECT_EQ(rs->Field("M"), Value(12.5));
  EXPECT_EQ(rs->Field("N"), Value(3));
  EXPECT_EQ(rs->Field("V"), Value("42"));
  EXPECT_EQ(rs->Field("Twice"), Value(2));  // no declared type: by storage
  EXPECT_EQ(rs->Field("Half"), Value(6.25));
  EXPECT_EQ(rs->Field("Lit"), Value("lit"));
  rs->MoveNext();
  EXPECT_TRUE(rs->Field("D").is_null());
  EXPECT_EQ(rs->Field("DT"), Value(DateTime::FromParts(2026, 12, 7, 8, 15, 0)));
  EXPECT_EQ(rs->Field("B"), Value(false));
  EXPECT_EQ(rs->Field("N"), Value(2.25));
}

TEST(SqliteEngine, WrittenValuesKeepTheFileConventions) {
  TempDir dir;
  CreateSqliteFile(dir / "shop.db",
                   "CREATE TABLE T (ID INTEGER PRIMARY KEY, D DATETIME, B BOOLEAN, N INTEGER);"
                   "INSERT INTO T VALUES (1, NULL, NULL, NULL), (2, NULL, NULL, NULL);");
  auto conn = data::Connect(SqliteOptions(dir));
  auto rs = conn->OpenRowSet("SELECT * FROM T ORDER BY ID");
  rs->SetField("D", DateTime::FromParts(2026, 12, 7));
  rs->SetField("B", true);
  rs->SetField("N", true);
  rs->Update();
  rs->MoveNext();
  rs->SetField("D", DateTime::FromParts(2026, 12, 7, 9, 5, 0));
  rs->Update();
  auto stored = conn->OpenRowSet(
      "SELECT typeof(D) || ':' || D AS D, typeof(B) || ':' || B AS B, N FROM T ORDER BY ID");
  EXPECT_EQ(stored->Field("D"), Value("text:2026-12-07"));
  EXPECT_EQ(stored->Field("B"), Value("integer:1"));
  EXPECT_EQ(stored->Field("N"), Value(1));
  stored->MoveNext();
  EXPECT_EQ(stored->Field("D"), Value("text:2026-12-07 09:05:00"));
}

TEST(SqliteEngine, RowSetsOutliveAClosedConnectionSafely) {
  TempDir dir;
  CreateSqliteFile(dir / "shop.db",
                   "CREATE TABLE T (ID INTEGER PRIMARY KEY);"
                   "INSERT INTO T VALUES (1), (2);");
  auto conn = data::Connect(SqliteOptions(dir));
  auto rs = conn->OpenRowSet("SELECT ID FROM T");
  conn->Close();
  EXPECT_THROW(rs->MoveNext(), Error);
  EXPECT_THROW(conn->OpenRowSet("SELECT ID FROM T"), Error);
  conn.reset();
  rs.reset();
}

}  // namespace
}  // namespace corvane::testing
