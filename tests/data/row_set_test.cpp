// The row-set contract, run against every engine: flags, nested row sets, values, names, the
// program's own queries as they stand, and updates through aliases and joins.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "base/ascii.h"
#include "base/error.h"
#include "base/text_form.h"
#include "data/data_error.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

using data::Connection;
using data::RowSet;

const char* kTicketQuery =
    "SELECT HM.*,Bus.Name AS BusName,D1.Name AS DriverName,D2.Name AS AddDriverName FROM "
    "HexmileTicket HM LEFT JOIN Bus ON HM.BusID = Bus.ID LEFT JOIN Driver D1 ON HM.DriverID = "
    "D1.ID LEFT JOIN Driver D2 ON HM.AddDriverID = D2.ID WHERE HM.EmailSent = 0 OR HM.EmailSent "
    "IS NULL";

const char* kActionQuery =
    "SELECT HM.ID AS TicketID,HM.TicketDate,HM.Miles,HM.Location,HM.Priority,HM.Status,"
    "HM.AltReplyEmail,HM.Description,HM.EnteredDate AS TktEnteredDate,Hm.EnteredBy AS "
    "TktEnteredBy,Bus.Name AS BusName,D1.Name AS DriverName, D1.Email AS D1Email,D2.Name AS "
    "AddDriverName,D2.Email AS D2Email,Act.ID AS ActID,Act.ActionDate,Act.EmailDriver,"
    "Act.AddNotifyEmail,Act.Description AS ActDescription,Act.EnteredBy AS ActEnteredBy, "
    "Act.EnteredDate AS ActEnteredDate, Act.EmailSent FROM HexmileAction Act LEFT JOIN "
    "HexmileTicket HM ON Act.TicketID = HM.ID LEFT JOIN Bus ON HM.BusID = Bus.ID LEFT JOIN "
    "Driver D1 ON HM.DriverID = D1.ID LEFT JOIN Driver D2 ON HM.AddDriverID = D2.ID WHERE "
    "Act.EmailSent = 0 OR Act.EmailSent IS NULL";

std::string TourDropQuery(const std::string& from, const std::string& to) {
  return "SELECT DISTINCT Tour.TourName,Customer.Name,TourItems.TourID,EndDate,MAX(Invoice.ID) "
         "AS InvoiceNumber FROM TourItems LEFT JOIN Tour ON TourITems.TourID = Tour.ID LEFT JOIN "
         "Customer ON Tour.CustomerID = Customer.ID LEFT JOIN Invoice ON Tour.ID = Invoice.TourID"
         " WHERE EndDate >= '" +
         from + "' AND EndDate <= '" + to +
         "' AND (Tour.Status = 'Contract - Committed' OR Tour.Status = 'Contract - Verbal' OR "
         "Tour.Status = 'Contract - Signed') AND (Invoice.Type = 'Daily' OR Invoice.Type = "
         "'Monthly') GROUP BY Tour.TourName,Customer.Name,TourItems.TourID,EndDate ORDER BY "
         "TourItems.TourID";
}

const char* kFleetData =
    "INSERT INTO Bus (ID, Name) VALUES (1, 'Coach 7'), (2, 'Coach 9');"
    "INSERT INTO Driver (ID, Name, Email) VALUES (1, 'Ann', 'ann@example.com'),"
    "  (2, 'Bo', 'bo@example.com');"
    "INSERT INTO HexmileTicket (ID, BusID, DriverID, AddDriverID, TicketDate, Miles, Location,"
    "  Description, EnteredDate, EmailSent) VALUES"
    "  (10, 1, 1, 2, '2026-12-07 10:30:00', 1234, 'Depot', 'Brakes', '2026-12-07', 0),"
    "  (11, 2, NULL, NULL, '2026-12-08 08:00:00', 99, 'Road', NULL, '2026-12-08', NULL),"
    "  (12, 1, 1, NULL, '2026-12-01 09:00:00', 5, 'Yard', 'Done', '2026-12-01', 1);"
    "INSERT INTO HexmileAction (ID, TicketID, ActionDate, EmailDriver, AddNotifyEmail,"
    "  Description, EmailSent) VALUES"
    "  (20, 10, '2026-12-07 11:00:00', TRUE, 'x@example.com', 'Fixed', 0),"
    "  (21, 99, '2026-12-07 12:00:00', NULL, NULL, 'Orphan', NULL),"
    "  (22, 10, '2026-12-07 13:00:00', FALSE, NULL, 'Old', 1);";

class RowSets : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    CORVANE_REQUIRE_ENGINE(GetParam());
    db_.emplace(GetParam());
  }

  std::unique_ptr<Connection> Connect() { return db_->Connect(); }

  // The values of one column over all rows of `query`.
  std::vector<Value> Column(Connection& conn, const std::string& query, const char* column) {
    std::vector<Value> values;
    auto rs = conn.OpenRowSet(query);
    for (; !rs->eof(); rs->MoveNext()) values.push_back(rs->Field(column));
    rs->Close();
    return values;
  }

  std::optional<TestDatabase> db_;
};

long ErrorNumber(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

TEST_P(RowSets, EmptyResultHasBothFlagsAndNoCurrentRow) {
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT ID, Name FROM Bus");
  EXPECT_TRUE(rs->eof());
  EXPECT_TRUE(rs->bof());
  EXPECT_EQ(ErrorNumber([&] { rs->Field("Name"); }), errnum::kNoCurrentRow);
  EXPECT_EQ(ErrorNumber([&] { rs->MoveNext(); }), errnum::kNoCurrentRow);
  rs->Close();
  EXPECT_EQ(ErrorNumber([&] { rs->eof(); }), errnum::kObjectClosed);
}

TEST_P(RowSets, WalksEveryRowThenEndOfRows) {
  db_->Exec("INSERT INTO Bus (ID, Name) VALUES (1, 'A'), (2, 'B'), (3, 'C');");
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT ID, Name FROM Bus ORDER BY ID");
  EXPECT_FALSE(rs->bof());
  std::vector<std::string> names;
  while (!rs->eof()) {
    names.push_back(rs->Field("Name").text());
    rs->MoveNext();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_TRUE(rs->eof());
  EXPECT_FALSE(rs->bof());
}

TEST_P(RowSets, ColumnNamesIgnoreLetterCaseAndUnknownOnesAreNamed) {
  db_->Exec("INSERT INTO Bus (ID, Name) VALUES (1, 'A');");
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT ID, Name AS BusName FROM Bus");
  EXPECT_EQ(rs->Field("busname"), Value("A"));
  EXPECT_EQ(rs->Field("BUSNAME"), Value("A"));
  EXPECT_EQ(rs->Field("id"), Value(1));
  try {
    rs->Field("Plate");
    FAIL() << "an unknown column must fail";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
    EXPECT_EQ(e.number(), errnum::kItemNotFound);
    EXPECT_NE(e.description().find("Plate"), std::string::npos);
  }
}

TEST_P(RowSets, ValuesComeTypedAndNullsStayNull) {
  db_->Exec(kFleetData);
  db_->Exec(
      "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) VALUES"
      " (5, 1, 'Daily', 100.5, 25), (6, 1, 'Daily', NULL, 3);");
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT * FROM HexmileTicket WHERE ID = 10");
  EXPECT_EQ(rs->Field("TicketDate"), Value(DateTime::FromParts(2026, 12, 7, 10, 30, 0)));
  EXPECT_EQ(rs->Field("EnteredDate"), Value(DateTime::FromParts(2026, 12, 7)));
  EXPECT_EQ(rs->Field("Miles"), Value(1234));
  EXPECT_EQ(rs->Field("Location"), Value("Depot"));
  EXPECT_TRUE(rs->Field("Priority").is_null());
  auto action = conn->OpenRowSet("SELECT EmailDriver FROM HexmileAction ORDER BY ID");
  EXPECT_EQ(action->Field("EmailDriver"), Value(true));
  action->MoveNext();
  EXPECT_TRUE(action->Field("EmailDriver").is_null());
  action->MoveNext();
  EXPECT_EQ(action->Field("EmailDriver"), Value(false));
  auto balance =
      conn->OpenRowSet("SELECT InvoiceTotal - Paid AS Balance FROM Invoice WHERE ID = 5");
  EXPECT_EQ(balance->Field("Balance"), Value(75.5));
  auto newest = conn->OpenRowSet("SELECT MAX(ID) AS Newest FROM Invoice");
  EXPECT_EQ(newest->Field("Newest"), Value(6));
  auto null_balance =
      conn->OpenRowSet("SELECT InvoiceTotal - Paid AS Balance FROM Invoice WHERE ID = 6");
  EXPECT_TRUE(null_balance->Field("Balance").is_null());
}

TEST_P(RowSets, NonAsciiTextSurvivesBothWays) {
  db_->Exec("INSERT INTO Customer (ID, Name) VALUES (1, 'Jörg Ünal – ✓ 東京');");
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT ID, Name FROM Customer");
  EXPECT_EQ(rs->Field("Name"), Value("Jörg Ünal – ✓ 東京"));
  rs->SetField("Name", "Zoë 🚌");
  rs->Update();
  EXPECT_EQ(Column(*conn, "SELECT Name FROM Customer", "Name"), std::vector<Value>{Value("Zoë 🚌")});
  auto found = conn->OpenRowSet("SELECT ID FROM Customer WHERE Name = ?",
                                std::vector<Value>{Value("Zoë 🚌")});
  EXPECT_FALSE(found->eof());
}

TEST_P(RowSets, WrittenValuesReadBackAsTheyWereSet) {
  db_->Exec(kFleetData);
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT * FROM HexmileTicket WHERE ID = 10");
  rs->SetField("Miles", Value::Null());
  rs->SetField("Location", Value::Null());
  rs->SetField("TicketDate", DateTime::FromParts(2027, 1, 2, 23, 59, 58));
  rs->SetField("EnteredDate", DateTime::FromParts(2027, 1, 3));
  rs->SetField("Priority", 7);
  rs->Update();
  rs->Close();
  auto back = conn->OpenRowSet("SELECT * FROM HexmileTicket WHERE ID = 10");
  EXPECT_TRUE(back->Field("Miles").is_null());
  EXPECT_TRUE(back->Field("Location").is_null());
  EXPECT_EQ(back->Field("TicketDate"), Value(DateTime::FromParts(2027, 1, 2, 23, 59, 58)));
  EXPECT_EQ(back->Field("EnteredDate"), Value(DateTime::FromParts(2027, 1, 3)));
  EXPECT_EQ(back->Field("Priority"), Value("7"));
  auto invoice = conn->OpenRowSet("SELECT ID, Paid FROM Invoice");
  EXPECT_TRUE(invoice->eof());
}

TEST_P(RowSets, PreparedStatementsRunOnceForEachRowInsideAnotherRowSet) {
  db_->Exec(
      "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) VALUES"
      " (1, 1, 'Daily', 10, 10), (2, 2, 'Daily', 50, 20), (3, 3, 'Monthly', 5, 30);");
  auto conn = Connect();
  // The balance lookup as the pass runs it: prepared once, the invoice number bound per row.
  auto balance = conn->Prepare("SELECT InvoiceTotal - Paid AS Balance FROM Invoice WHERE ID = ?");
  auto outer = conn->OpenRowSet("SELECT ID FROM Invoice ORDER BY ID");
  std::vector<double> balances;
  while (!outer->eof()) {
    const Value id = outer->Field("ID");
    auto inner = balance->OpenRowSet(std::vector<Value>{id});
    balances.push_back(ToNumber(inner->Field("Balance")));
    inner->Close();
    EXPECT_EQ(outer->Field("ID"), id);  // the outer row set kept its row
    outer->MoveNext();
  }
  EXPECT_EQ(balances, (std::vector<double>{0, 30, -25}));
  EXPECT_TRUE(balance->OpenRowSet(std::vector<Value>{Value(99)})->eof());

  // A row set of an earlier execution stays readable while the statement runs again.
  auto from = conn->Prepare("SELECT ID FROM Invoice WHERE ID >= ? ORDER BY ID");
  auto all = from->OpenRowSet(std::vector<Value>{Value(1)});
  auto last = from->OpenRowSet(std::vector<Value>{Value(3)});
  std::vector<Value> ids;
  for (; !all->eof(); all->MoveNext()) ids.push_back(all->Field("ID"));
  EXPECT_EQ(ids, (std::vector<Value>{1, 2, 3}));
  EXPECT_EQ(last->Field("ID"), Value(3));

  // A change reports the rows it changed.
  auto pay = conn->Prepare("UPDATE Invoice SET Paid = ? WHERE ID >= ?");
  EXPECT_EQ(pay->Execute(std::vector<Value>{Value(1), Value(2)}), 2);
  EXPECT_EQ(pay->Execute(std::vector<Value>{Value(1), Value(99)}), 0);
}

TEST_P(RowSets, AReadOnlyLookReadsOnePictureWhileAnotherClientCommits) {
  // SQLite: in write-ahead-log mode a writer commits beside a reader, as on the servers.
  if (GetParam() == Engine::kSqlite) db_->Exec("PRAGMA journal_mode=WAL;");
  db_->Exec("INSERT INTO Bus (ID, Name) VALUES (1, 'A');");
  data::ConnectOptions options = db_->Options();
  options.read_only = true;
  auto look = data::Connect(options);
  const std::vector<Value> first_picture = {"A"};
  EXPECT_EQ(Column(*look, "SELECT Name FROM Bus ORDER BY ID", "Name"), first_picture);
  // The writer's last close copies its log into the file itself: pages the look has not read
  // yet (Driver's) change under a look that holds no lock.
  db_->Exec(
      "INSERT INTO Bus (ID, Name) VALUES (2, 'B'); UPDATE Bus SET Name = 'A2' WHERE ID = 1;"
      "INSERT INTO Driver (ID, Name) VALUES (1, 'Ann');");
  EXPECT_EQ(Column(*look, "SELECT Name FROM Bus ORDER BY ID", "Name"), first_picture);
  EXPECT_TRUE(Column(*look, "SELECT Name FROM Driver", "Name").empty());
  EXPECT_EQ(look->Prepare("SELECT COUNT(*) AS Buses FROM Bus")->OpenRowSet()->Field("Buses"),
            Value(1));
  EXPECT_NE(ErrorNumber([&] { look->OpenRowSet("UPDATE Bus SET Name = 'X' WHERE ID = 1"); }), 0);
  look->Close();
  EXPECT_EQ(Column(*Connect(), "SELECT Name FROM Bus ORDER BY ID", "Name"),
            (std::vector<Value>{"A2", "B"}));
}

TEST_P(RowSets, TopRunsAsTheEngineWritesIt) {
  db_->Exec("INSERT INTO Bus (ID, Name) VALUES (1, 'A'), (2, 'B');");
  auto conn = Connect();
  EXPECT_EQ(Column(*conn, "SELECT TOP 1 * FROM Bus ORDER BY ID DESC", "Name").size(), 1u);
  EXPECT_EQ(Column(*conn, "SELECT TOP 1 * FROM Bus ORDER BY ID DESC", "Name")[0], Value("B"));
}

TEST_P(RowSets, TourDropWindowReadsUsShortDatesAsDates) {
  db_->Exec(
      "INSERT INTO Customer (ID, Name) VALUES (1, 'Acme');"
      "INSERT INTO Tour (ID, TourName, CustomerID, Status) VALUES"
      " (1, 'First day, with a time', 1, 'Contract - Signed'),"
      " (2, 'Last day at midnight', 1, 'Contract - Verbal'),"
      " (3, 'Last day with a time', 1, 'Contract - Committed'),"
      " (4, 'Day before', 1, 'Contract - Signed'),"
      " (5, 'Not under contract', 1, 'Quote'),"
      " (6, 'No customer', 77, 'Contract - Signed'),"
      " (7, 'First day, date only', 1, 'Contract - Signed');"
      "INSERT INTO TourItems (ID, TourID, EndDate) VALUES"
      " (1, 1, '2026-12-07 10:00:00'), (2, 2, '2026-12-09 00:00:00'),"
      " (3, 3, '2026-12-09 10:00:00'), (4, 4, '2026-12-06 23:59:59'),"
      " (5, 5, '2026-12-08 00:00:00'), (6, 6, '2026-12-08 12:00:00'), (7, 7, '2026-12-07');"
      "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) VALUES"
      " (1, 1, 'Daily', 1, 0), (2, 1, 'Monthly', 1, 0), (3, 2, 'Daily', 1, 0),"
      " (4, 3, 'Daily', 1, 0), (5, 4, 'Daily', 1, 0), (6, 5, 'Daily', 1, 0),"
      " (7, 6, 'Daily', 1, 0), (8, 1, 'Deposit', 1, 0), (9, 7, 'Monthly', 1, 0);");
  auto conn = Connect();
  auto rs = conn->OpenRowSet(TourDropQuery("12/7/2026", "12/9/2026"));
  std::vector<Value> tours, invoices;
  for (; !rs->eof(); rs->MoveNext()) {
    tours.push_back(rs->Field("TourID"));
    invoices.push_back(rs->Field("InvoiceNumber"));
    if (rs->Field("TourID") == Value(6)) {
      EXPECT_TRUE(rs->Field("Name").is_null());
    }
    if (rs->Field("TourID") == Value(1)) {
      EXPECT_EQ(rs->Field("EndDate"), Value(DateTime::FromParts(2026, 12, 7, 10, 0, 0)));
    }
  }
  EXPECT_EQ(tours, (std::vector<Value>{1, 2, 6, 7}));
  EXPECT_EQ(invoices, (std::vector<Value>{2, 3, 7, 9}));
  // A window across the turn of the year: ISO text and M/D/YYYY text disagree on the order.
  EXPECT_EQ(Column(*conn, TourDropQuery("12/30/2026", "1/2/2027"), "TourID").size(), 0u);
  db_->Exec("UPDATE TourItems SET EndDate = '2027-01-01 08:00:00' WHERE ID = 1;");
  EXPECT_EQ(Column(*conn, TourDropQuery("12/30/2026", "1/2/2027"), "TourID"),
            (std::vector<Value>{1}));
}

TEST_P(RowSets, TicketPassMarksEachTicketThroughTheAliasedJoin) {
  db_->Exec(kFleetData);
  auto conn = Connect();
  auto rs = conn->OpenRowSet(kTicketQuery);
  std::vector<Value> seen;
  while (!rs->eof()) {
    seen.push_back(rs->Field("ID"));
    rs->SetField("EmailSent", true);
    rs->Update();
    EXPECT_TRUE(EqualsTrue(rs->Field("EmailSent")));  // the row shows what was written
    rs->MoveNext();
  }
  std::sort(seen.begin(), seen.end(),
            [](const Value& a, const Value& b) { return a.integer() < b.integer(); });
  EXPECT_EQ(seen, (std::vector<Value>{10, 11}));
  // A true written to the 0/1 column is stored as 1, and the pass finds nothing left.
  EXPECT_EQ(Column(*conn, "SELECT ID FROM HexmileTicket WHERE EmailSent = 1 ORDER BY ID", "ID"),
            (std::vector<Value>{10, 11, 12}));
  EXPECT_TRUE(Column(*conn, kTicketQuery, "ID").empty());
}

TEST_P(RowSets, ActionPassMarksTheActionRowAndNotItsTicket) {
  db_->Exec(kFleetData);
  auto conn = Connect();
  auto rs = conn->OpenRowSet(kActionQuery);
  int rows = 0;
  for (; !rs->eof(); rs->MoveNext(), ++rows) {
    rs->SetField("EmailSent", true);
    rs->Update();
  }
  EXPECT_EQ(rows, 2);
  EXPECT_EQ(Column(*conn, "SELECT ID FROM HexmileAction WHERE EmailSent = 1 ORDER BY ID", "ID"),
            (std::vector<Value>{20, 21, 22}));
  const auto ticket_mark =
      Column(*conn, "SELECT EmailSent FROM HexmileTicket WHERE ID = 10", "EmailSent");
  ASSERT_EQ(ticket_mark.size(), 1u);
  EXPECT_FALSE(ticket_mark[0].is_null());
  EXPECT_FALSE(EqualsTrue(ticket_mark[0]));
}

TEST_P(RowSets, UpdateThatCannotFindItsRowFails) {
  db_->Exec(kFleetData);
  auto conn = Connect();
  // No key column in the row set.
  auto names = conn->OpenRowSet("SELECT Name FROM Bus ORDER BY Name");
  names->SetField("Name", "Renamed");
  EXPECT_EQ(ErrorNumber([&] { names->Update(); }), errnum::kRowCannotBeLocated);
  // A computed column has no table to write to.
  auto computed = conn->OpenRowSet("SELECT ID, Miles + 1 AS Next FROM HexmileTicket");
  computed->SetField("Next", 7);
  EXPECT_EQ(ErrorNumber([&] { computed->Update(); }), errnum::kRowCannotBeLocated);
  // The row was deleted after the row set read it: the write changes nothing.
  auto tickets = conn->OpenRowSet(kTicketQuery);
  const Value id = tickets->Field("ID");
  conn->OpenRowSet("DELETE FROM HexmileTicket WHERE ID = ?", std::vector<Value>{id})->Close();
  tickets->SetField("EmailSent", true);
  try {
    tickets->Update();
    FAIL() << "an update of a deleted row must fail";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errnum::kRowCannotBeLocated);
    EXPECT_NE(e.description().find("Row cannot be located for updating"), std::string::npos);
  }
}

TEST_P(RowSets, RefusedUpdateCarriesTheEnginesMessage) {
  db_->Exec(kFleetData);
  switch (GetParam()) {
    case Engine::kSqlite:
      db_->Exec(
          "CREATE TRIGGER NoMarks BEFORE UPDATE ON HexmileTicket "
          "BEGIN SELECT RAISE(ABORT, 'tickets are frozen'); END;");
      break;
    case Engine::kPostgres:
      db_->Exec(
          "CREATE FUNCTION no_marks() RETURNS trigger LANGUAGE plpgsql AS "
          "$$ BEGIN RAISE EXCEPTION 'tickets are frozen'; END $$;"
          "CREATE TRIGGER no_marks BEFORE UPDATE ON HexmileTicket "
          "FOR EACH ROW EXECUTE FUNCTION no_marks();");
      break;
    case Engine::kMariaDb:
      db_->Exec(
          "CREATE TRIGGER NoMarks BEFORE UPDATE ON HexmileTicket FOR EACH ROW "
          "SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'tickets are frozen';");
      break;
  }
  auto conn = Connect();
  auto rs = conn->OpenRowSet(kTicketQuery);
  rs->SetField("EmailSent", true);
  try {
    rs->Update();
    FAIL() << "the refused update must fail";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
    EXPECT_NE(e.description().find("tickets are frozen"), std::string::npos) << e.description();
    switch (GetParam()) {
      case Engine::kSqlite:
        EXPECT_EQ(e.number(), 1811);  // SQLITE_CONSTRAINT_TRIGGER
        break;
      case Engine::kPostgres:
        EXPECT_NE(e.description().find("P0001"), std::string::npos);
        break;
      case Engine::kMariaDb:
        EXPECT_EQ(e.number(), 1644);  // ER_SIGNAL_EXCEPTION
        EXPECT_NE(e.description().find("[45000]"), std::string::npos);
        break;
    }
  }
  EXPECT_FALSE(EqualsTrue(rs->Field("EmailSent")));  // the row still shows the stored value
}

TEST_P(RowSets, WritesDuringAnIterationDoNotChangeWhatItVisits) {
  db_->Exec("INSERT INTO Bus (ID, Name) VALUES (1, 'A'), (2, 'B'), (3, 'C');");
  auto conn = Connect();
  auto rs = conn->OpenRowSet("SELECT ID, Name FROM Bus ORDER BY ID");
  // Other row sets write first: a new row, and a change of a row still to come.
  conn->OpenRowSet("INSERT INTO Bus (ID, Name) VALUES (4, 'D')")->Close();
  auto other = conn->OpenRowSet("SELECT ID, Name FROM Bus WHERE ID = 3");
  other->SetField("Name", "C2");
  other->Update();
  rs->SetField("Name", "A2");
  rs->Update();
  std::vector<Value> names;
  for (; !rs->eof(); rs->MoveNext()) names.push_back(rs->Field("Name"));
  EXPECT_EQ(names, (std::vector<Value>{"A2", "B", "C"}));
  EXPECT_EQ(Column(*conn, "SELECT Name FROM Bus ORDER BY ID", "Name"),
            (std::vector<Value>{"A2", "B", "C2", "D"}));
}

TEST_P(RowSets, RejectedQueryCarriesTheEnginesMessage) {
  auto conn = Connect();
  try {
    conn->OpenRowSet("SELECT Nothing FROM NoSuchTable");
    FAIL() << "the query must be refused";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
    EXPECT_NE(corvane::ToLowerAscii(e.description()).find("nosuchtable"), std::string::npos)
        << e.description();
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, RowSets, AllEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
