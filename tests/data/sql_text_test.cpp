#include "data/sql_text.h"

#include <gtest/gtest.h>

#include "data/profiles/profiles.h"

namespace corvane::data {
namespace {

TEST(Dialect, TopBecomesLimitAtTheEnd) {
  EXPECT_EQ(TopToLimit("SELECT TOP 1 * FROM Company"), "SELECT * FROM Company LIMIT 1");
  EXPECT_EQ(TopToLimit("select distinct top 10 Name from Bus order by Name;"),
            "select distinct Name from Bus order by Name LIMIT 10;");
  EXPECT_EQ(TopToLimit("  SELECT  TOP 5 ID FROM T  "), "  SELECT  ID FROM T LIMIT 5  ");
  EXPECT_EQ(TopToLimit("SELECT TOP 2 ID FROM T -- newest\n"),
            "SELECT ID FROM T LIMIT 2 -- newest\n");
}

TEST(Dialect, TopElsewhereOrInAnotherFormIsLeftAlone) {
  for (const char* sql :
       {"SELECT Top FROM T", "SELECT TOP 50 PERCENT * FROM T", "SELECT TOP (3) * FROM T",
        "SELECT 'TOP 1' FROM T", "UPDATE T SET TOP = 1", "SELECT \"TOP\" 1 FROM T"}) {
    EXPECT_EQ(TopToLimit(sql), sql);
  }
}

TEST(Dialect, UsShortDateLiteralsBecomeIsoBoundsByTheirComparison) {
  EXPECT_EQ(UsDateLiteralsToIso("WHERE EndDate >= '12/7/2026' AND EndDate <= '12/9/2026'"),
            "WHERE EndDate >= '2026-12-07' AND EndDate <= '2026-12-09 00:00:00'");
  EXPECT_EQ(UsDateLiteralsToIso("WHERE d > '1/2/2027' OR d < '01/02/2027'"),
            "WHERE d > '2027-01-02 00:00:00' OR d < '2027-01-02'");
  // The literal on the left: the comparison is read from the column's side.
  EXPECT_EQ(UsDateLiteralsToIso("WHERE '12/9/2026' >= d AND '12/7/2026' <= d"),
            "WHERE '2026-12-09 00:00:00' >= d AND '2026-12-07' <= d");
  EXPECT_EQ(UsDateLiteralsToIso("WHERE d BETWEEN '2/28/2028' AND '2/29/2028'"),
            "WHERE d BETWEEN '2028-02-28' AND '2028-02-29 00:00:00'");
  EXPECT_EQ(UsDateLiteralsToIso("WHERE d = '7/4/2026'"), "WHERE d = '2026-07-04'");
}

TEST(Dialect, OnlyExactValidDateLiteralsChange) {
  for (const char* sql : {
           "WHERE Name = '12/7/26'",          // two-digit year
           "WHERE Name = '13/1/2026'",        // no month 13
           "WHERE Name = '2/29/2026'",        // not a leap year
           "WHERE Name = ' 12/7/2026'",       // not exactly the date
           "WHERE Name = '12/7/2026 10:00'",  // a time of day
           "WHERE Name = 'It''s 12/7/2026'",  // '' inside a literal
           "WHERE \"12/7/2026\" = 1",         // a quoted identifier
           "WHERE [12/7/2026] = 1",
           "WHERE x = 1 -- '12/7/2026'",  // comments
           "WHERE x = 1 /* '12/7/2026' */",
           "WHERE Name = '12/7/2026",  // unterminated
       }) {
    EXPECT_EQ(UsDateLiteralsToIso(sql), sql);
  }
  // After an escaped quote the next literal is still found.
  EXPECT_EQ(UsDateLiteralsToIso("WHERE n = 'O''Hara' AND d >= '12/7/2026'"),
            "WHERE n = 'O''Hara' AND d >= '2026-12-07'");
}

TEST(Dialect, QualifiersTakeTheSpellingTheirFromClauseDeclares) {
  // The program's tour and action queries, as far as their qualifiers go.
  EXPECT_EQ(QualifiersInDeclaredCase("SELECT TourItems.TourID FROM TourItems LEFT JOIN Tour ON "
                                     "TourITems.TourID = Tour.ID ORDER BY touritems.TourID"),
            "SELECT TourItems.TourID FROM TourItems LEFT JOIN Tour ON TourItems.TourID = Tour.ID "
            "ORDER BY TourItems.TourID");
  EXPECT_EQ(QualifiersInDeclaredCase("SELECT HM.ID,Hm.EnteredBy AS TktEnteredBy, act.* FROM "
                                     "HexmileAction Act LEFT JOIN HexmileTicket HM ON "
                                     "Act.TicketID = hm.ID"),
            "SELECT HM.ID,HM.EnteredBy AS TktEnteredBy, Act.* FROM HexmileAction Act LEFT JOIN "
            "HexmileTicket HM ON Act.TicketID = HM.ID");
  // A FROM list with AS, and a table named with its schema (the schema is no qualifier).
  EXPECT_EQ(QualifiersInDeclaredCase(
                "SELECT b.Name, DRIVER.Name FROM fleet.Bus AS B, Driver WHERE B.ID = driver.ID"),
            "SELECT B.Name, Driver.Name FROM fleet.Bus AS B, Driver WHERE B.ID = Driver.ID");
}

TEST(Dialect, QualifiersOutsideTheRuleStayAsWritten) {
  for (const char* sql : {
           "SELECT 'touritems.x', \"touritems\".x, `touritems`.x FROM TourItems",
           "SELECT x FROM TourItems -- touritems.x\n",
           "SELECT Other.x FROM TourItems",                      // declared nowhere
           "SELECT t.x FROM T JOIN t2 t ON T.ID = t.ID",         // two spellings declared
           "SELECT TourItems.x FROM TourItems WHERE 1.5 > 0",    // already as declared
           "SELECT x FROM (SELECT 1 AS x) Sub WHERE sub.x = 1",  // derived table
       }) {
    EXPECT_EQ(QualifiersInDeclaredCase(sql), sql);
  }
}

TEST(Dialect, EachEnginesProfileAdaptsWhatItsEngineNeeds) {
  const char* sql = "SELECT TOP 1 t.* FROM T WHERE d <= '12/9/2026'";
  EXPECT_EQ(SqlServerProfile().AdaptQuery(sql), sql);
  EXPECT_EQ(PostgresProfile().AdaptQuery(sql), "SELECT t.* FROM T WHERE d <= '12/9/2026' LIMIT 1");
  EXPECT_EQ(PlainOdbcProfile().AdaptQuery(sql), PostgresProfile().AdaptQuery(sql));
  EXPECT_EQ(SqliteProfile().AdaptQuery(sql),
            "SELECT t.* FROM T WHERE d <= '2026-12-09 00:00:00' LIMIT 1");
  for (const EngineProfile* profile : {&MariaDbProfile(), &MySqlProfile()}) {
    EXPECT_EQ(profile->AdaptQuery(sql),
              "SELECT T.* FROM T WHERE d <= '2026-12-09 00:00:00' LIMIT 1");
  }
}

}  // namespace
}  // namespace corvane::data
