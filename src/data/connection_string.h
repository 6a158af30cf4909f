// Connection strings as lists of "name=value" parts separated by semicolons, in both of the forms
// that settings files carry: OLE DB ("Data Source=x;User ID=y") and ODBC ("Driver={x};UID=y").
#pragma once

#include <chrono>
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

// Parts that the program reads itself and no driver ever sees (docs/connection-strings.md):
//   Command Timeout=<seconds>  the longest any one database statement may take (default 30)
//   Run Timeout=<seconds>      the longest the whole run may take (default 1800)
struct ProgramParts {
  static constexpr std::chrono::seconds kDefaultCommandTimeout{30};
  static constexpr std::chrono::seconds kDefaultRunTimeout{1800};
  std::chrono::seconds command_timeout = kDefaultCommandTimeout;
  std::chrono::seconds run_timeout = kDefaultRunTimeout;
};
// Fails (kDatabase, "connection string error") for a value that is not a whole number of
// seconds in range: Command Timeout 3 to 86400, Run Timeout 10 to 86400.
ProgramParts ReadProgramParts(std::string_view connection_string);
// The string without the program's own parts (unchanged when it has none).
std::string WithoutProgramParts(std::string_view connection_string);

// `text` with the value of every PWD= and Password= part (any letter case, blanks around '=')
// shown as `mask`, each value read as Parse reads it: quoted or braced to its closer (a doubled
// closer inside), unterminated to the end of the text, plain to the next ';'. The text need not
// be a connection string (a driver's message may quote one): a name is looked for wherever a
// word starts, and the rest of the text stays as it is.
std::string MaskPasswordValues(std::string_view text, std::string_view mask);

// An ODBC "name=value;" part, the value braced when it needs it ({a;b} with '}' doubled).
std::string OdbcPart(std::string_view name, std::string_view value);

}  // namespace corvane::data
