#include "data/odbc/odbc_handle.h"

#include <algorithm>
#include <iterator>

#include "base/utf8.h"
#include "data/data_error.h"

namespace corvane::data {

bool Succeeded(SQLRETURN ret) {
  return ret == SQL_SUCCESS || ret == SQL_SUCCESS_WITH_INFO || ret == SQL_NO_DATA;
}

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent, SQLSMALLINT parent_type) : type_(type) {
  const SQLRETURN ret = SQLAllocHandle(type, parent, &handle_);
  if (!Succeeded(ret)) {
    handle_ = SQL_NULL_HANDLE;
    if (parent == SQL_NULL_HANDLE) {
      ThrowDatabaseError(errnum::kProviderError, "Cannot start the ODBC driver manager (no environment)");
    }
    ThrowOdbcError(parent_type, parent, ret, "allocating an ODBC handle");
  }
}

OdbcHandle::~OdbcHandle() {
  if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
}

void OdbcHandle::Check(SQLRETURN ret, std::string_view doing) const {
  if (!Succeeded(ret)) Fail(ret, doing);
}

void OdbcHandle::Fail(SQLRETURN ret, std::string_view doing) const {
  ThrowOdbcError(type_, handle_, ret, doing);
}

void ThrowOdbcError(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN ret, std::string_view doing) {
  long number = 0;
  std::string state_of_first;
  std::string records;
  for (SQLSMALLINT record = 1; record <= 10; ++record) {
    SQLWCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLWCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN got = SQLGetDiagRecW(type, handle, record, state, &native, message,
                                         static_cast<SQLSMALLINT>(std::size(message)), &length);
    if (!Succeeded(got) || got == SQL_NO_DATA) break;
    if (record == 1) {
      number = native;
      state_of_first = FromOdbcText(state, 5);
    }
    const std::size_t shown = std::min<std::size_t>(
        static_cast<std::size_t>(length < 0 ? 0 : length), std::size(message) - 1);
    if (!records.empty()) records += "; ";
    records += '[';
    records += FromOdbcText(state, 5);
    records += "] ";
    records += FromOdbcText(message, shown);
    if (native != 0) records += " (native error " + std::to_string(native) + ")";
  }
  if (records.empty()) {
    records = ret == SQL_INVALID_HANDLE ? "invalid handle" : "the driver gave no diagnostics";
  }
  const std::string description = "ODBC error while " + std::string(doing) + ": " + records;
  // The driver's SQLSTATE is what names the failure; its native code is in the description.
  if (state_of_first.empty()) ThrowDatabaseError(errnum::kProviderError, description);
  ThrowDatabaseError(
      ForeignCode{"SQLSTATE " + state_of_first, number != 0 ? number : errnum::kProviderError},
      description);
}

std::vector<SQLWCHAR> ToOdbcText(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  std::vector<SQLWCHAR> out(wide.size() + 1, 0);  // the last one terminates
  std::copy(wide.begin(), wide.end(), out.begin());
  return out;
}

std::string FromOdbcText(const SQLWCHAR* text, std::size_t length) {
  std::u16string wide(length, u'\0');
  for (std::size_t i = 0; i < length; ++i) wide[i] = static_cast<char16_t>(text[i]);
  // Fixed-size fields (the SQLSTATE) may end early.
  const std::size_t end = wide.find(u'\0');
  if (end != std::u16string::npos) wide.resize(end);
  return Utf16ToUtf8(wide);
}

}  // namespace corvane::data
