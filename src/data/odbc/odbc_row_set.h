// A row set over an ODBC query. The whole result is read when it is opened and the statement is
// freed at once, so nested row sets and updates need nothing of the driver (no second active
// result set) and no server cursor stays open.
#pragma once

#include <deque>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "data/basic_row_set.h"
#include "data/odbc/odbc_session.h"

namespace corvane::data {

class OdbcRowSet : public BasicRowSet {
 public:
  OdbcRowSet(std::shared_ptr<OdbcSession> session, OdbcResult result);

 protected:
  bool FetchRow(std::vector<Value>& row) override;
  std::vector<std::string> PrimaryKey(const std::string& schema, const std::string& table) override;
  long long WriteRow(const TableWrite& write) override;
  void Release() noexcept override;
  void CheckConnection() const override;

 private:
  std::shared_ptr<OdbcSession> session_;
  std::deque<std::vector<Value>> rows_;
};

}  // namespace corvane::data
