// What only MariaDB through Connector/ODBC needs: its limits set at connect, and Booleans told
// apart from small numbers although the driver describes both as TINYINT.
#include <gtest/gtest.h>

#include <chrono>

#include "base/error.h"
#include "data/connection.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

class MariaDbEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    CORVANE_REQUIRE_ENGINE(Engine::kMariaDb);
    db_.emplace(Engine::kMariaDb);
  }
  std::optional<TestDatabase> db_;
};

TEST_F(MariaDbEngine, SessionEndsLockWaitsAndSlowStatementsItself) {
  data::ConnectOptions options = db_->Options();
  options.statement_limit = std::chrono::seconds(3);
  auto conn = data::Connect(options);
  EXPECT_EQ(conn->EngineName(), "MariaDB");
  auto limits = conn->OpenRowSet(
      "SELECT @@innodb_lock_wait_timeout AS RowLocks, @@lock_wait_timeout AS TableLocks");
  EXPECT_EQ(limits->Field("RowLocks"), Value(10));
  EXPECT_EQ(limits->Field("TableLocks"), Value(10));
  // 1 second: the program's limit less its margin. The server ends the statement itself.
  try {
    conn->OpenRowSet("SELECT SLEEP(5) AS Slept");
    FAIL() << "the statement outlived the server's limit";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), 1969) << e.description();
    EXPECT_NE(e.description().find("max_statement_time exceeded"), std::string::npos);
  }
}

TEST_F(MariaDbEngine, FlagColumnsReadAsBooleansAndOtherSmallNumbersAsNumbers) {
  db_->Exec(
      "CREATE TABLE Flags (ID INT PRIMARY KEY, B BOOLEAN, T TINYINT, U TINYINT(1) UNSIGNED,"
      " Bit1 BIT(1), Small SMALLINT);"
      "INSERT INTO Flags VALUES (1, TRUE, 1, 1, b'1', 1), (2, FALSE, 0, 0, b'0', 0),"
      " (3, NULL, 7, NULL, NULL, NULL);");
  auto conn = db_->Connect();
  auto rs = conn->OpenRowSet("SELECT f.*, B + 0 AS Computed FROM Flags f ORDER BY ID");
  const std::vector<std::vector<Value>> expected = {
      {Value(true), Value(1), Value(true), Value(true), Value(1), Value(1)},
      {Value(false), Value(0), Value(false), Value(false), Value(0), Value(0)},
      {Value::Null(), Value(7), Value::Null(), Value::Null(), Value::Null(), Value::Null()},
  };
  for (const auto& row : expected) {
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->Field("B"), row[0]);
    EXPECT_EQ(rs->Field("T"), row[1]);
    EXPECT_EQ(rs->Field("U"), row[2]);
    EXPECT_EQ(rs->Field("Bit1"), row[3]);
    EXPECT_EQ(rs->Field("Small"), row[4]);
    EXPECT_EQ(rs->Field("Computed"), row[5]);
    rs->MoveNext();
  }
  // A flag written back goes into either kind of column.
  auto first = conn->OpenRowSet("SELECT ID, B, Bit1 FROM Flags WHERE ID = 2");
  first->SetField("B", true);
  first->SetField("Bit1", true);
  first->Update();
  auto back = conn->OpenRowSet("SELECT B, Bit1 FROM Flags WHERE ID = 2");
  EXPECT_EQ(back->Field("B"), Value(true));
  EXPECT_EQ(back->Field("Bit1"), Value(true));
}

}  // namespace
}  // namespace corvane::testing
