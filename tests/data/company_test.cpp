// The company settings, read strictly from the first Company row on every engine.
#include "data/company.h"

#include <gtest/gtest.h>

#include "base/error.h"
#include "data/data_error.h"
#include "support/test_database.h"

namespace corvane::testing {
namespace {

const char* kColumns =
    "(ID, Name, Address1, Address2, City, State, Zip, Phone, Fax, Email, Website, KeyPressDelay,"
    " TaxRate, MaintenanceEmail, EmailFromAddress, EmailFromName, EmailServer)";

class Company : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    CORVANE_REQUIRE_ENGINE(GetParam());
    db_.emplace(GetParam());
  }
  void Insert(const std::string& values) {
    db_->Exec(std::string("INSERT INTO Company ") + kColumns + " VALUES " + values + ";");
  }
  Error LoadError() {
    auto conn = db_->Connect();
    try {
      data::LoadCompany(*conn, settings_);
    } catch (const Error& e) {
      return e;
    }
    return Error(ErrorKind::kSystem, 0, "no failure");
  }

  std::optional<TestDatabase> db_;
  RunSettings settings_;
};

TEST_P(Company, FirstRowFillsEverySettingAndAnEmptyFaxIsFine) {
  Insert(
      "(1, 'Corvane Tours', '1 Main St', '', 'Springfield', 'IL', '62701', '555-0100', '',"
      " 'office@corvane.test', 'corvane.test', 0.5, 0.0825, 'fleet@corvane.test',"
      " 'alerts@corvane.test', 'Corvane Alerts', 'mail.corvane.test'),"
      "(2, 'Second', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 1, 2, 'j', 'k', 'l', 'm')");
  auto conn = db_->Connect();
  data::LoadCompany(*conn, settings_);
  EXPECT_TRUE(settings_.company_loaded);
  if (settings_.gCompany.Name == "Second") {  // which row comes first is the engine's choice
    EXPECT_EQ(settings_.gEmailServer, "m");
    return;
  }
  const CompanyInfo& c = settings_.gCompany;
  EXPECT_EQ(c.Name, "Corvane Tours");
  EXPECT_EQ(c.Address1, "1 Main St");
  EXPECT_EQ(c.Address2, "");
  EXPECT_EQ(c.City, "Springfield");
  EXPECT_EQ(c.State, "IL");
  EXPECT_EQ(c.Zip, "62701");
  EXPECT_EQ(c.Phone, "555-0100");
  EXPECT_EQ(c.Fax, "");
  EXPECT_EQ(c.Email, "office@corvane.test");
  EXPECT_EQ(c.Website, "corvane.test");
  EXPECT_DOUBLE_EQ(settings_.gKeyPressDelay, 0.5);
  EXPECT_DOUBLE_EQ(settings_.gTaxRate, 0.0825);
  EXPECT_EQ(settings_.gMaintenanceEmail, "fleet@corvane.test");
  EXPECT_EQ(settings_.gEmailFromAddress, "alerts@corvane.test");
  EXPECT_EQ(settings_.gEmailFromName, "Corvane Alerts");
  EXPECT_EQ(settings_.gEmailServer, "mail.corvane.test");
}

TEST_P(Company, NullInAnyColumnEndsWithInvalidUseOfNull) {
  Insert("(1, 'Corvane', 'a', 'b', 'c', 'd', 'e', NULL, 'g', 'h', 'i', 1, 2, 'j', 'k', 'l', 'm')");
  const Error e = LoadError();
  EXPECT_EQ(e.number(), errnum::kInvalidUseOfNull);
  EXPECT_NE(e.description().find("Phone"), std::string::npos) << e.description();
  EXPECT_FALSE(settings_.company_loaded);
}

TEST_P(Company, MissingColumnIsADatabaseErrorNamingIt) {
  db_->Exec(
      "DROP TABLE Company; CREATE TABLE Company (ID INTEGER PRIMARY KEY, Name VARCHAR(20));"
      "INSERT INTO Company (ID, Name) VALUES (1, 'Corvane');");
  const Error e = LoadError();
  EXPECT_EQ(e.kind(), ErrorKind::kDatabase);
  EXPECT_EQ(e.number(), errnum::kItemNotFound);
  EXPECT_NE(e.description().find("Address1"), std::string::npos) << e.description();
}

TEST_P(Company, EmptyTableLeavesTheSettingsUnset) {
  settings_.gEmailServer = "untouched";
  auto conn = db_->Connect();
  data::LoadCompany(*conn, settings_);
  EXPECT_FALSE(settings_.company_loaded);
  EXPECT_EQ(settings_.gEmailServer, "untouched");
}

TEST(CompanyOnSqlite, TaxRateThatIsNoNumberEndsWithTypeMismatch) {
  TestDatabase db(Engine::kSqlite);
  db.Exec(std::string("INSERT INTO Company ") + kColumns +
          " VALUES (1, 'C', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 1, 'n/a', 'j', 'k', 'l',"
          " 'm');");
  auto conn = db.Connect();
  RunSettings settings;
  try {
    data::LoadCompany(*conn, settings);
    FAIL() << "a TaxRate of 'n/a' must fail";
  } catch (const Error& e) {
    EXPECT_EQ(e.number(), errnum::kTypeMismatch);
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, Company, AllEngines(), EngineTestName);

}  // namespace
}  // namespace corvane::testing
