// Connection strings in the two grammars settings files carry, each with one reader and one
// writer (docs/connection-strings.md):
//
//   OLE DB  "Provider=SQLOLEDB;Data Source=db1;Password="a;b""c";"  A value may be enclosed in
//           '"' or '\'' (or, as the ODBC parts an MSDASQL string carries, in braces); its closer
//           is doubled inside.
//   ODBC    "Driver={PostgreSQL Unicode};UID=u;PWD={a;b}}c};"  A value may be enclosed in
//           braces, '}' doubled inside; quotes are ordinary characters.
//
// Both: parts "name=value" separated by ';'; blanks around a name and around a value that is
// not enclosed are dropped; a part without '=' or with an empty name carries nothing; after an
// enclosed value, anything up to the next ';' is dropped; an unclosed value runs to the end.
//
// What a reader finds travels on as parts: it is written again only to hand it to a driver,
// never to be read again by the program.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::data {

enum class Grammar { kOleDb, kOdbc };

struct ConnectionPart {
  std::string name;   // as written, without the blanks around it
  std::string value;  // as the grammar reads it: no enclosing quotes or braces, closers undoubled
};

class ConnectionString {
 public:
  // Reads `text` in the grammar it is written in: OLE DB when it has a Provider part (ODBC
  // strings name a Driver or DSN instead), else ODBC.
  static ConnectionString Read(std::string_view text);
  static ConnectionString Read(std::string_view text, Grammar grammar);

  ConnectionString(Grammar grammar, std::vector<ConnectionPart> parts)
      : grammar_(grammar), parts_(std::move(parts)) {}

  Grammar grammar() const { return grammar_; }
  const std::vector<ConnectionPart>& parts() const { return parts_; }
  // The value of the last part with this name (names compare case-insensitively, as drivers
  // compare them); nullopt when absent.
  std::optional<std::string> Find(std::string_view name) const;
  // Adds a part at the end.
  void Add(std::string name, std::string value);
  // Drops every part with this name.
  void Remove(std::string_view name);

  // The parts written in `grammar`, each "name=value;", a value enclosed wherever the grammar's
  // reader would otherwise read it differently. Reading the result in `grammar` gives the same
  // parts. Names must be as a reader gives them: not empty, no '=' or ';', no blanks around.
  std::string Write(Grammar grammar) const;

 private:
  Grammar grammar_;
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
// Drops the program's own parts.
void RemoveProgramParts(ConnectionString& read);

// `text` with the value of every PWD= and Password= part (any letter case, blanks around '=')
// shown as `mask`, the value read as either grammar could read it: quoted or braced to its
// closer (a doubled closer inside) together with anything but blanks after the closer up to the
// next ';'; unterminated, to the end of the text; plain, to the next ';'. So whatever either
// grammar takes for the password is covered, and blanks around it stay. The
// text need not be a connection string (a driver's message may quote one): a name is looked
// for wherever a word starts, and the rest of the text stays as it is.
std::string MaskPasswordValues(std::string_view text, std::string_view mask);

}  // namespace corvane::data
