// Row sets over ODBC results, read row by row as they are used. Where a row's values come from
// depends on the server's profile: a server-side cursor read in pieces (memory stays flat); the
// result the driver holds whole beside other statements; or, for a driver that allows no second
// statement beside a pending result, the whole result read into the row set at once. In every
// case the rows are a static snapshot: what the connection writes meanwhile does not show.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "data/basic_row_set.h"
#include "data/odbc/odbc_session.h"

namespace corvane::data {

// A statement prepared once, and the row set reading its pending result, if any.
struct OdbcPreparedStatement {
  std::unique_ptr<OdbcStatement> statement;
  BasicRowSet* reader = nullptr;
};

// Runs `sql` (adapted already) with `parameters` on the session: a query through the profile's
// cursor where it has one; any other statement at once.
std::unique_ptr<RowSet> OpenOdbcRowSet(const std::shared_ptr<OdbcSession>& session,
                                       const std::string& sql, std::span<const Value> parameters);

// Executes the prepared statement with `parameters` and reads its result; a row set still
// reading an earlier result of it takes the rest of its rows first.
std::unique_ptr<RowSet> OpenPreparedRowSet(const std::shared_ptr<OdbcSession>& session,
                                           const std::shared_ptr<OdbcPreparedStatement>& prepared,
                                           std::span<const Value> parameters);

}  // namespace corvane::data
