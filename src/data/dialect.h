// Adapting the program's own query texts (written for a server with TOP and US-English dates) to
// the engine that runs them. Pure text functions, so each rule is tested without a database.
#pragma once

#include <string>
#include <string_view>

namespace corvane::data {

struct Dialect {
  bool has_top = true;  // SQL Server; the other engines write "LIMIT n" instead
  // SQLite (dates are ISO text, compared as text) and MariaDB/MySQL (which read no other date
  // literal): the queries' US-English dates are rewritten to ISO text.
  bool iso_date_literals = false;
  // MariaDB/MySQL on Linux: table names and aliases are case-sensitive.
  bool case_sensitive_names = false;
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

// Every table qualifier ("TourITems.TourID", "Hm.EnteredBy") that differs only in letter case from
// a table name or alias declared in a FROM or JOIN clause ("FROM TourItems", "HexmileTicket HM")
// is written as declared, for engines where names are case-sensitive. Qualifiers that match
// nothing declared, or two names declared in different case, stay as they are; so do quoted
// identifiers, string literals and comments. Derived tables ("FROM (SELECT ...) t") declare
// nothing here.
std::string QualifiersInDeclaredCase(std::string_view sql);

// The adaptations the dialect needs.
std::string AdaptQuery(std::string_view sql, const Dialect& dialect);

}  // namespace corvane::data
