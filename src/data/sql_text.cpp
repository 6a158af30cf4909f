#include "data/sql_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "base/ascii.h"

namespace corvane::data {

namespace {

enum class TokenKind { kWord, kNumber, kString, kQuotedName, kComment, kBlank, kOther };

struct Token {
  TokenKind kind;
  std::size_t begin;
  std::size_t end;  // one past
};

bool IsWordChar(char c) {
  return IsAsciiAlnum(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// Position one past a quoted run that starts at `i` with `open` and ends with `close`; a doubled
// closer stands for itself. An unterminated run reaches the end of the text.
std::size_t SkipQuoted(std::string_view sql, std::size_t i, char close) {
  ++i;
  while (i < sql.size()) {
    if (sql[i] == close) {
      if (i + 1 < sql.size() && sql[i + 1] == close) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  return sql.size();
}

std::vector<Token> Tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  std::size_t i = 0;
  while (i < sql.size()) {
    const std::size_t start = i;
    const char c = sql[i];
    TokenKind kind = TokenKind::kOther;
    if (IsBlankOrLineEnd(c)) {
      while (i < sql.size() && IsBlankOrLineEnd(sql[i])) ++i;
      kind = TokenKind::kBlank;
    } else if (c == '\'') {
      i = SkipQuoted(sql, i, '\'');
      kind = TokenKind::kString;
    } else if (c == '"' || c == '`' || c == '[') {
      i = SkipQuoted(sql, i, c == '[' ? ']' : c);
      kind = TokenKind::kQuotedName;
    } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
      while (i < sql.size() && sql[i] != '\n') ++i;
      kind = TokenKind::kComment;
    } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
      const std::size_t close = sql.find("*/", i + 2);
      i = close == std::string_view::npos ? sql.size() : close + 2;
      kind = TokenKind::kComment;
    } else if (IsAsciiDigit(c)) {
      while (i < sql.size() && IsWordChar(sql[i])) ++i;
      kind = TokenKind::kNumber;
    } else if (IsWordChar(c)) {
      while (i < sql.size() && IsWordChar(sql[i])) ++i;
      kind = TokenKind::kWord;
    } else {
      ++i;
    }
    tokens.push_back({kind, start, i});
  }
  return tokens;
}

// The tokens that carry meaning (no blanks, no comments), with the way back and forth.
struct SignificantTokens {
  std::vector<std::size_t> token;     // the significant ones, as indexes into the tokens
  std::vector<std::size_t> position;  // token index -> its place among the significant ones

  explicit SignificantTokens(const std::vector<Token>& tokens) : position(tokens.size(), 0) {
    for (std::size_t t = 0; t < tokens.size(); ++t) {
      if (tokens[t].kind != TokenKind::kBlank && tokens[t].kind != TokenKind::kComment) {
        position[t] = token.size();
        token.push_back(t);
      }
    }
  }
};

// 'M/D/YYYY' (1-2 digit month and day, 4-digit year) as 'YYYY-MM-DD', or nullopt.
std::optional<std::string> IsoFromUsDate(std::string_view body) {
  int parts[3] = {0, 0, 0};
  std::size_t lengths[3] = {0, 0, 0};
  int index = 0;
  for (char c : body) {
    if (c == '/') {
      if (++index > 2) return std::nullopt;
    } else if (IsAsciiDigit(c)) {
      parts[index] = parts[index] * 10 + (c - '0');
      ++lengths[index];
    } else {
      return std::nullopt;
    }
  }
  if (index != 2 || lengths[0] < 1 || lengths[0] > 2 || lengths[1] < 1 || lengths[1] > 2 ||
      lengths[2] != 4) {
    return std::nullopt;
  }
  const int month = parts[0], day = parts[1], year = parts[2];
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (year < 100 || month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap)) {
    return std::nullopt;
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d", year, month, day);
  return std::string(buffer);
}

bool IsComparison(std::string_view op) {
  return op == "=" || op == "<" || op == ">" || op == "<=" || op == ">=";
}

}  // namespace

std::string TopToLimit(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  const std::vector<std::size_t> significant = SignificantTokens(tokens).token;
  auto text = [&](std::size_t s) {
    const Token& token = tokens[significant[s]];
    return sql.substr(token.begin, token.end - token.begin);
  };
  if (significant.size() < 3 || !EqualsNoCase(text(0), "SELECT")) return std::string(sql);
  std::size_t top = 1;
  if (EqualsNoCase(text(1), "DISTINCT") || EqualsNoCase(text(1), "ALL")) top = 2;
  if (top + 1 >= significant.size() || !EqualsNoCase(text(top), "TOP") ||
      tokens[significant[top + 1]].kind != TokenKind::kNumber) {
    return std::string(sql);
  }
  const std::string_view count = text(top + 1);
  for (char c : count) {
    if (!IsAsciiDigit(c)) return std::string(sql);
  }
  // TOP n PERCENT / WITH TIES have no LIMIT form: leave them for the engine to refuse.
  if (top + 2 < significant.size() &&
      (EqualsNoCase(text(top + 2), "PERCENT") || EqualsNoCase(text(top + 2), "WITH"))) {
    return std::string(sql);
  }
  const Token& top_token = tokens[significant[top]];
  std::size_t after = tokens[significant[top + 1]].end;
  while (after < sql.size() && IsBlankOrLineEnd(sql[after])) ++after;
  // LIMIT goes after the last token that is neither a semicolon nor a comment, so a trailing
  // comment cannot swallow it.
  std::size_t last = significant.size() - 1;
  while (last > top + 1 && text(last) == ";") --last;
  const std::size_t end = std::max(after, tokens[significant[last]].end);
  std::string out(sql.substr(0, top_token.begin));
  out += sql.substr(after, end - after);
  out += " LIMIT ";
  out += count;
  out += sql.substr(end);
  return out;
}

std::string UsDateLiteralsToIso(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  const SignificantTokens found(tokens);
  const std::vector<std::size_t>& significant = found.token;
  const std::vector<std::size_t>& position = found.position;
  auto text = [&](std::ptrdiff_t s) -> std::string_view {
    if (s < 0 || s >= static_cast<std::ptrdiff_t>(significant.size())) return {};
    const Token& token = tokens[significant[static_cast<std::size_t>(s)]];
    return sql.substr(token.begin, token.end - token.begin);
  };
  // The comparison a literal takes part in, seen from the column's side: "<=" for
  // "col <= 'x'" and for "'x' >= col". Operators come as one-character tokens.
  auto operator_before = [&](std::ptrdiff_t s) -> std::string {
    if (text(s - 1) == "=" && (text(s - 2) == "<" || text(s - 2) == ">")) {
      return std::string(text(s - 2)) + "=";
    }
    return std::string(text(s - 1));
  };
  auto operator_after = [&](std::ptrdiff_t s) -> std::string {
    std::string op(text(s + 1));
    if ((op == "<" || op == ">") && text(s + 2) == "=") op += "=";
    if (op == "<") return ">";
    if (op == ">") return "<";
    if (op == "<=") return ">=";
    if (op == ">=") return "<=";
    return op;
  };
  std::string out;
  out.reserve(sql.size() + 16);
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    const Token& token = tokens[t];
    const std::string_view piece = sql.substr(token.begin, token.end - token.begin);
    std::optional<std::string> iso;
    if (token.kind == TokenKind::kString && piece.size() >= 2 && piece.back() == '\'') {
      iso = IsoFromUsDate(piece.substr(1, piece.size() - 2));
    }
    if (!iso) {
      out += piece;
      continue;
    }
    // A midnight may be stored as 'YYYY-MM-DD' or as 'YYYY-MM-DD 00:00:00', and the shorter
    // text sorts first. An upper bound ("<=", ">", the end of BETWEEN) takes the longer form and
    // a lower bound the shorter, so both stored forms compare as the same instant.
    const auto s = static_cast<std::ptrdiff_t>(position[t]);
    std::string op = operator_before(s);
    if (!IsComparison(op)) op = operator_after(s);
    const bool upper = op == "<=" || op == ">" ||
                       (EqualsNoCase(text(s - 1), "AND") && EqualsNoCase(text(s - 3), "BETWEEN"));
    out += '\'';
    out += *iso;
    if (upper) out += " 00:00:00";
    out += '\'';
  }
  return out;
}

namespace {

// Words that may follow a table name in FROM or JOIN without being its alias.
bool EndsTableReference(std::string_view word) {
  static constexpr std::string_view kWords[] = {
      "ON",     "USING",     "WHERE",         "GROUP",  "ORDER", "HAVING", "LIMIT",    "UNION",
      "EXCEPT", "INTERSECT", "JOIN",          "INNER",  "LEFT",  "RIGHT",  "FULL",     "OUTER",
      "CROSS",  "NATURAL",   "STRAIGHT_JOIN", "WINDOW", "FOR",   "LOCK",   "WITH",     "USE",
      "FORCE",  "IGNORE",    "PARTITION",     "OFFSET", "FETCH", "SET",    "RETURNING"};
  return std::any_of(std::begin(kWords), std::end(kWords),
                     [&](std::string_view keyword) { return EqualsNoCase(word, keyword); });
}

}  // namespace

std::string QualifiersInDeclaredCase(std::string_view sql) {
  const std::vector<Token> tokens = Tokenize(sql);
  const SignificantTokens found(tokens);
  const std::vector<std::size_t>& significant = found.token;
  auto text = [&](std::size_t s) -> std::string_view {
    if (s >= significant.size()) return {};
    const Token& token = tokens[significant[s]];
    return sql.substr(token.begin, token.end - token.begin);
  };
  auto is_word = [&](std::size_t s) {
    return s < significant.size() && tokens[significant[s]].kind == TokenKind::kWord;
  };

  // The names FROM and JOIN declare: each table (the last part of schema.table) and its alias.
  // A FROM list goes on after a comma.
  std::vector<std::string_view> declared;
  std::vector<bool> in_reference(significant.size(), false);  // part of a table reference
  for (std::size_t s = 0; s < significant.size(); ++s) {
    const bool from = EqualsNoCase(text(s), "FROM");
    if (!from && !EqualsNoCase(text(s), "JOIN")) continue;
    std::size_t at = s + 1;
    while (is_word(at)) {
      while (text(at + 1) == "." && is_word(at + 2)) {
        in_reference[at] = true;
        at += 2;
      }
      in_reference[at] = true;
      declared.push_back(text(at++));
      if (EqualsNoCase(text(at), "AS")) ++at;
      if (is_word(at) && !EndsTableReference(text(at))) {
        in_reference[at] = true;
        declared.push_back(text(at++));
      }
      if (!from || text(at) != ",") break;
      ++at;
    }
  }

  std::string out;
  out.reserve(sql.size());
  for (std::size_t t = 0; t < tokens.size(); ++t) {
    const Token& token = tokens[t];
    const std::string_view piece = sql.substr(token.begin, token.end - token.begin);
    const std::size_t s = found.position[t];
    const bool qualifier = token.kind == TokenKind::kWord && !in_reference[s] &&
                           text(s + 1) == "." && (s == 0 || text(s - 1) != ".");
    std::optional<std::string_view> spelling;
    bool ambiguous = false;
    if (qualifier) {
      for (const std::string_view name : declared) {
        if (!EqualsNoCase(name, piece)) continue;
        ambiguous = ambiguous || (spelling && *spelling != name);
        spelling = name;
      }
    }
    // Names declared in two spellings (t and T) are two tables there: nothing to choose.
    out += spelling && !ambiguous ? *spelling : piece;
  }
  return out;
}

bool IsSelect(std::string_view sql) {
  for (const Token& token : Tokenize(sql)) {
    if (token.kind == TokenKind::kBlank || token.kind == TokenKind::kComment) continue;
    return token.kind == TokenKind::kWord &&
           EqualsNoCase(sql.substr(token.begin, token.end - token.begin), "SELECT");
  }
  return false;
}

}  // namespace corvane::data
