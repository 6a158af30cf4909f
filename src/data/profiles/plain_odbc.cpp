// Any other server an ODBC driver reaches (a DSN, a driver no profile knows): the string goes to
// the driver as it is read, and the queries are written as most engines read them.
#include "data/odbc/odbc_connection.h"
#include "data/profiles/profiles.h"
#include "data/sql_text.h"

namespace corvane::data {

namespace {

class PlainOdbc final : public EngineProfile {
 public:
  std::string_view name() const override { return "ODBC"; }
  bool Claims(const ConnectionString&) const override { return true; }
  std::unique_ptr<Connection> Open(const ConnectionString& read,
                                   const ConnectOptions& options) const override {
    return std::make_unique<OdbcConnection>(DriverParts(read), options);
  }
  std::string AdaptQuery(std::string_view sql) const override { return TopToLimit(sql); }
};

}  // namespace

const EngineProfile& PlainOdbcProfile() {
  static const PlainOdbc profile;
  return profile;
}

}  // namespace corvane::data
