#include "data/odbc/odbc_row_set.h"

namespace corvane::data {

OdbcRowSet::OdbcRowSet(std::shared_ptr<OdbcSession> session, OdbcResult result)
    : BasicRowSet(std::move(result.columns)),
      session_(std::move(session)),
      rows_(std::move(result.rows)) {
  Start();
}

bool OdbcRowSet::FetchRow(std::vector<Value>& row) {
  if (rows_.empty()) return false;
  row = std::move(rows_.front());
  rows_.pop_front();
  return true;
}

std::vector<std::string> OdbcRowSet::PrimaryKey(const std::string& schema,
                                                const std::string& table) {
  return session_->PrimaryKey(schema, table);
}

long long OdbcRowSet::WriteRow(const TableWrite& write) {
  std::string sql = "UPDATE ";
  if (!write.schema.empty()) sql += session_->Quote(write.schema) + ".";
  sql += session_->Quote(write.table) + " SET ";
  std::vector<Value> parameters;
  std::vector<bool> bits;
  for (std::size_t i = 0; i < write.set.size(); ++i) {
    sql += (i == 0 ? "" : ", ") + session_->Quote(write.set[i].first) + " = ?";
    parameters.push_back(write.set[i].second);
    bits.push_back(write.bit_targets[i]);
  }
  sql += " WHERE ";
  for (std::size_t i = 0; i < write.key.size(); ++i) {
    sql += (i == 0 ? "" : " AND ") + session_->Quote(write.key[i].first) + " = ?";
    parameters.push_back(write.key[i].second);
    bits.push_back(false);
  }
  const BoundedWait wait = session_->StatementWait();
  auto statement = session_->NewStatement();
  statement->Execute(sql, parameters, bits);
  return statement->RowCount();
}

void OdbcRowSet::Release() noexcept {
  rows_.clear();
}

void OdbcRowSet::CheckConnection() const {
  session_->CheckOpen();
}

}  // namespace corvane::data
