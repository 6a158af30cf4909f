// Adapting the program's own query texts (written for a server with TOP and US-English dates) to
// the engine that runs them. Pure text functions, so each rule is tested without a database.
#pragma once

#include <string>
#include <string_view>

namespace corvane::data {

struct Dialect {
  bool has_top = true;         // SQL Server; SQLite and PostgreSQL write "LIMIT n" instead
  bool iso_date_text = false;  // SQLite: dates are ISO text, compared as text
};

// "SELECT [DISTINCT|ALL] TOP n rest" -> "SELECT [DISTINCT|ALL] rest LIMIT n" for the statement's
// leading SELECT; any other text is returned unchanged.
std::string TopToLimit(std::string_view sql);

// Every string literal that is exactly a US-English short date 'M/D/YYYY' (a valid date) becomes
// ISO text, so ISO date text compares with it in date order: 'YYYY-MM-DD', or
// 'YYYY-MM-DD 00:00:00' where it is an upper bound ("col <= lit", "col > lit", the end of a
// BETWEEN), so that a midnight stored in either form compares right. Other literals, quoted
// identifiers ("..", [..], `..`) and comments stay as they are.
std::string UsDateLiteralsToIso(std::string_view sql);

// Both adaptations as the dialect needs them.
std::string AdaptQuery(std::string_view sql, const Dialect& dialect);

}  // namespace corvane::data
