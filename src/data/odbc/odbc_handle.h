// An ODBC handle (environment, connection or statement) owned by RAII, and the turning of ODBC
// diagnostics into the program's Error: SQLSTATE, native code and the driver's message.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>
#include <string_view>
#include <vector>

namespace corvane::data {

class OdbcHandle {
 public:
  // Allocates a handle of `type` under `parent` (SQL_NULL_HANDLE for an environment); fails with
  // the parent's diagnostics.
  OdbcHandle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parent_type);
  ~OdbcHandle();
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

  // Fails with this handle's diagnostics unless `ret` is a success (SQL_SUCCESS,
  // SQL_SUCCESS_WITH_INFO, SQL_NO_DATA).
  void Check(SQLRETURN ret, std::string_view doing) const;
  [[noreturn]] void Fail(SQLRETURN ret, std::string_view doing) const;

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

bool Succeeded(SQLRETURN ret);

// Throws the diagnostics of `handle` as a kDatabase Error: number = the first record's native
// code (or the generic provider number when it is 0), description = "<doing>: [SQLSTATE] message"
// for each record.
[[noreturn]] void ThrowOdbcError(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN ret,
                                 std::string_view doing);

// Null-terminated wide text for the ODBC "W" calls, and back.
std::vector<SQLWCHAR> ToOdbcText(std::string_view utf8);
std::string FromOdbcText(const SQLWCHAR* text, std::size_t length);

}  // namespace corvane::data
