#include "data/connection_string.h"

#include <algorithm>
#include <charconv>

#include "base/ascii.h"
#include "data/data_error.h"

namespace corvane::data {

namespace {

constexpr std::string_view kPasswordNames[] = {"pwd", "password"};

// The characters that open an enclosed value in a grammar.
std::string_view Openers(Grammar grammar) {
  return grammar == Grammar::kOleDb ? "\"'{" : "{";
}

char CloserOf(char opener) {
  return opener == '{' ? '}' : opener;
}

struct WrittenValue {
  std::string value;  // as read
  std::size_t begin;  // where it is written: [begin, end), enclosing characters included
  std::size_t end;
};

// The value written from `i` on (just after its '='), blanks and line ends before it skipped.
// A value that starts with one of `openers` may hold ';' and runs to its closer (a doubled
// closer stands for itself) or to the end of the text; any other runs to the next ';'.
WrittenValue ReadValue(std::string_view text, std::size_t i, std::string_view openers) {
  while (i < text.size() && IsBlankOrLineEnd(text[i])) ++i;
  WrittenValue out{{}, i, i};
  if (i < text.size() && openers.find(text[i]) != std::string_view::npos) {
    const char closer = CloserOf(text[i]);
    for (++i; i < text.size(); ++i) {
      if (text[i] == closer) {
        if (i + 1 < text.size() && text[i + 1] == closer) {
          out.value.push_back(closer);
          ++i;
          continue;
        }
        ++i;
        break;
      }
      out.value.push_back(text[i]);
    }
    out.end = i;
  } else {
    const std::size_t semicolon = text.find(';', i);
    out.end = semicolon == std::string_view::npos ? text.size() : semicolon;
    out.value = std::string(TrimBlanksAndLineEnds(text.substr(i, out.end - i)));
  }
  return out;
}

// Where the part whose value ends at `value_end` ends: after its ';', or at the end of the text.
std::size_t PartEnd(std::string_view text, std::size_t value_end) {
  const std::size_t semicolon = text.find(';', value_end);
  return semicolon == std::string_view::npos ? text.size() : semicolon + 1;
}

std::vector<ConnectionPart> ReadParts(std::string_view text, Grammar grammar) {
  std::vector<ConnectionPart> parts;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    const std::size_t semicolon = text.find(';', i);
    if (equals == std::string_view::npos ||
        (semicolon != std::string_view::npos && semicolon < equals)) {
      if (semicolon == std::string_view::npos) break;
      i = semicolon + 1;  // a part without '=' carries nothing
      continue;
    }
    ConnectionPart part{std::string(TrimBlanksAndLineEnds(text.substr(i, equals - i))), {}};
    WrittenValue value = ReadValue(text, equals + 1, Openers(grammar));
    part.value = std::move(value.value);
    i = PartEnd(text, value.end);
    if (!part.name.empty()) parts.push_back(std::move(part));
  }
  return parts;
}

bool NeedsEnclosing(std::string_view value, Grammar grammar) {
  if (value.empty()) return false;
  // The reader drops blanks and line ends around a value that is not enclosed, and reads one
  // that starts with an opener as enclosed. ODBC drivers also read '=', '{' and '}' specially
  // here and there, and a blank inside is conventionally braced ("{PostgreSQL Unicode}").
  if (IsBlankOrLineEnd(value.front()) || IsBlankOrLineEnd(value.back())) return true;
  if (value.find(';') != std::string_view::npos) return true;
  if (grammar == Grammar::kOleDb) return Openers(grammar).find(value.front()) != std::string::npos;
  return value.front() == '"' || value.front() == '\'' ||
         value.find_first_of("{}= \t\r\n") != std::string_view::npos;
}

void AppendEnclosed(std::string& out, std::string_view value, char opener) {
  const char closer = CloserOf(opener);
  out += opener;
  for (const char c : value) {
    out += c;
    if (c == closer) out += c;
  }
  out += closer;
}

std::chrono::seconds Seconds(const ConnectionString& read, std::string_view name,
                             std::chrono::seconds fallback, long long low, long long high) {
  const auto text = read.Find(name);
  if (!text) return fallback;
  long long seconds = -1;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), seconds);
  if (error != std::errc() || end != text->data() + text->size() || seconds < low ||
      seconds > high) {
    ThrowDatabaseError(errnum::kConnectionStringError,
                       std::string(name) + " must be a whole number of seconds from " +
                           std::to_string(low) + " to " + std::to_string(high) + ", not '" + *text +
                           "'");
  }
  return std::chrono::seconds(seconds);
}

}  // namespace

ConnectionString ConnectionString::Read(std::string_view text) {
  // An ODBC value cannot hide a Provider part behind a quote; an OLE DB one is read as such.
  for (const ConnectionPart& part : ReadParts(text, Grammar::kOdbc)) {
    if (EqualsNoCase(part.name, "Provider")) return Read(text, Grammar::kOleDb);
  }
  return Read(text, Grammar::kOdbc);
}

ConnectionString ConnectionString::Read(std::string_view text, Grammar grammar) {
  return ConnectionString(grammar, ReadParts(text, grammar));
}

std::optional<std::string> ConnectionString::Find(std::string_view name) const {
  std::optional<std::string> found;
  for (const auto& part : parts_) {
    if (EqualsNoCase(part.name, TrimBlanks(name))) found = part.value;
  }
  return found;
}

void ConnectionString::Add(std::string name, std::string value) {
  parts_.push_back({std::move(name), std::move(value)});
}

void ConnectionString::Remove(std::string_view name) {
  std::erase_if(parts_, [&](const ConnectionPart& part) { return EqualsNoCase(part.name, name); });
}

std::string ConnectionString::Write(Grammar grammar) const {
  std::string out;
  for (const ConnectionPart& part : parts_) {
    out += part.name;
    out += '=';
    if (NeedsEnclosing(part.value, grammar)) {
      AppendEnclosed(out, part.value, grammar == Grammar::kOleDb ? '"' : '{');
    } else {
      out += part.value;
    }
    out += ';';
  }
  return out;
}

ProgramParts ReadProgramParts(std::string_view connection_string) {
  const ConnectionString read = ConnectionString::Read(connection_string);
  ProgramParts parts;
  parts.command_timeout =
      Seconds(read, "Command Timeout", ProgramParts::kDefaultCommandTimeout, 3, 86400);
  parts.run_timeout = Seconds(read, "Run Timeout", ProgramParts::kDefaultRunTimeout, 10, 86400);
  return parts;
}

void RemoveProgramParts(ConnectionString& read) {
  read.Remove("Command Timeout");
  read.Remove("Run Timeout");
}

std::string MaskPasswordValues(std::string_view text, std::string_view mask) {
  // Every place a password name could start is read on its own, so a name inside another value
  // cannot hide a later part: the value spans found are joined before masking.
  std::vector<std::pair<std::size_t, std::size_t>> spans;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (i > 0 && IsAsciiAlnum(text[i - 1])) continue;
    for (const std::string_view name : kPasswordNames) {
      if (!StartsWithNoCase(text.substr(i), name)) continue;
      std::size_t j = i + name.size();
      while (j < text.size() && IsBlankOrLineEnd(text[j])) ++j;
      if (j >= text.size() || text[j] != '=') continue;
      // Read as OLE DB, whose openers include ODBC's: an ODBC value that starts with a quote
      // runs further this way, never less far.
      const WrittenValue value = ReadValue(text, j + 1, Openers(Grammar::kOleDb));
      // What follows an enclosed value up to the ';' is part of it for a grammar that does not
      // enclose it that way (ODBC reads '...' whole): covered unless it is only blanks.
      std::size_t end = PartEnd(text, value.end);
      if (end > value.end && text[end - 1] == ';') --end;  // the separator stays
      if (TrimBlanksAndLineEnds(text.substr(value.end, end - value.end)).empty()) end = value.end;
      if (end > value.begin) spans.emplace_back(value.begin, end);
    }
  }
  std::sort(spans.begin(), spans.end());
  std::string out;
  std::size_t copied = 0;
  for (std::size_t k = 0; k < spans.size();) {
    const std::size_t begin = spans[k].first;
    std::size_t end = spans[k].second;
    for (++k; k < spans.size() && spans[k].first <= end; ++k) end = std::max(end, spans[k].second);
    out.append(text.substr(copied, begin - copied));
    out += mask;
    copied = end;
  }
  out.append(text.substr(copied));
  return out;
}

}  // namespace corvane::data
