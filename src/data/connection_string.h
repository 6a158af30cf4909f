// Connection strings as lists of "name=value" parts separated by semicolons, in both of the forms
// that settings files carry: OLE DB ("Data Source=x;User ID=y") and ODBC ("Driver={x};UID=y").
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::data {

struct ConnectionPart {
  std::string name;  // as written, blanks around it trimmed
  std::string
      value;  // unquoted: "..." / '...' (OLE DB) and {...} (ODBC) removed, doubled closers undone
};

class ConnectionString {
 public:
  // Splits the text; parts without '=' or with an empty name are dropped, as drivers do.
  static ConnectionString Parse(std::string_view text);

  const std::vector<ConnectionPart>& parts() const { return parts_; }
  // The value of the last part with this name (names compare case-insensitively and ignore
  // blanks around them); nullopt when absent.
  std::optional<std::string> Find(std::string_view name) const;

 private:
  std::vector<ConnectionPart> parts_;
};

// An ODBC "name=value;" part, the value braced when it needs it ({a;b} with '}' doubled).
std::string OdbcPart(std::string_view name, std::string_view value);

}  // namespace corvane::data
