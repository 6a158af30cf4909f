// Rewrites of the program's own query texts (written for a server with TOP and US-English dates),
// from which each engine's profile picks what its engine needs, and the one SQL lexer they share:
// string literals, quoted names and comments are never taken for words. Pure text functions, so
// each rule is tested without a database.
#pragma once

#include <string>
#include <string_view>

namespace corvane::data {

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

// Whether the statement reads rows (its first word is SELECT), as opposed to one that changes
// them or anything else.
bool IsSelect(std::string_view sql);

}  // namespace corvane::data
