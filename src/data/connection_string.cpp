#include "data/connection_string.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "base/ascii.h"
#include "data/data_error.h"

namespace corvane::data {

namespace {

std::string_view Trim(std::string_view text) {
  return TrimBlanksAndLineEnds(text);
}

constexpr std::string_view kProgramPartNames[] = {"Command Timeout", "Run Timeout"};
constexpr std::string_view kPasswordNames[] = {"pwd", "password"};

struct WrittenValue {
  std::string value;  // unquoted
  std::size_t begin;  // where it is written: [begin, end), quotes included
  std::size_t end;
};

// The value written from `i` on (just after its '='). Blanks and line ends before it are
// skipped. A value opened by '"', '\'' or '{' may hold ';' and runs to its closer, which is
// escaped by doubling it, or to the end of the text; any other runs to the next ';'.
WrittenValue ReadValue(std::string_view text, std::size_t i) {
  while (i < text.size() && IsBlankOrLineEnd(text[i])) ++i;
  WrittenValue out{{}, i, i};
  const char opener = i < text.size() ? text[i] : '\0';
  const char closer = opener == '{' ? '}' : opener;
  if (opener == '"' || opener == '\'' || opener == '{') {
    ++i;
    while (i < text.size()) {
      if (text[i] == closer) {
        if (i + 1 < text.size() && text[i + 1] == closer) {
          out.value.push_back(closer);
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      out.value.push_back(text[i++]);
    }
    out.end = i;
  } else {
    const std::size_t semicolon = text.find(';', i);
    out.end = semicolon == std::string_view::npos ? text.size() : semicolon;
    out.value = std::string(Trim(text.substr(i, out.end - i)));
  }
  return out;
}

std::chrono::seconds Seconds(const ConnectionString& parsed, std::string_view name,
                             std::chrono::seconds fallback, long long low, long long high) {
  const auto text = parsed.Find(name);
  if (!text) return fallback;
  long long seconds = -1;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), seconds);
  if (error != std::errc() || end != text->data() + text->size() || seconds < low ||
      seconds > high) {
    ThrowDatabaseError(errnum::kConnectionStringError, std::string(name) +
                                                   " must be a whole number of seconds from " +
                                                   std::to_string(low) + " to " +
                                                   std::to_string(high) + ", not '" + *text + "'");
  }
  return std::chrono::seconds(seconds);
}

}  // namespace

ConnectionString ConnectionString::Parse(std::string_view text) {
  ConnectionString result;
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
    ConnectionPart part;
    part.name = std::string(Trim(text.substr(i, equals - i)));
    WrittenValue value = ReadValue(text, equals + 1);
    part.value = std::move(value.value);
    const std::size_t end = text.find(';', value.end);  // anything after a closing quote is dropped
    i = end == std::string_view::npos ? text.size() : end + 1;
    if (!part.name.empty()) result.parts_.push_back(std::move(part));
  }
  return result;
}

std::optional<std::string> ConnectionString::Find(std::string_view name) const {
  std::optional<std::string> found;
  for (const auto& part : parts_) {
    if (EqualsNoCase(part.name, Trim(name))) found = part.value;
  }
  return found;
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
      const WrittenValue value = ReadValue(text, j + 1);
      if (value.end > value.begin) spans.emplace_back(value.begin, value.end);
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

std::string OdbcPart(std::string_view name, std::string_view value) {
  const bool needs_braces = value.find_first_of(";{}= \t") != std::string_view::npos;
  std::string out(name);
  out += '=';
  if (!needs_braces) {
    out += value;
  } else {
    out += '{';
    for (char c : value) {
      out += c;
      if (c == '}') out += '}';
    }
    out += '}';
  }
  out += ';';
  return out;
}

ProgramParts ReadProgramParts(std::string_view connection_string) {
  const ConnectionString parsed = ConnectionString::Parse(connection_string);
  ProgramParts parts;
  parts.command_timeout =
      Seconds(parsed, "Command Timeout", ProgramParts::kDefaultCommandTimeout, 3, 86400);
  parts.run_timeout = Seconds(parsed, "Run Timeout", ProgramParts::kDefaultRunTimeout, 10, 86400);
  return parts;
}

std::string WithoutProgramParts(std::string_view connection_string) {
  const ConnectionString parsed = ConnectionString::Parse(connection_string);
  const auto is_program_part = [](const ConnectionPart& part) {
    for (const std::string_view name : kProgramPartNames) {
      if (EqualsNoCase(part.name, name)) return true;
    }
    return false;
  };
  bool any = false;
  for (const ConnectionPart& part : parsed.parts()) any = any || is_program_part(part);
  if (!any) return std::string(connection_string);
  std::string out;
  for (const ConnectionPart& part : parsed.parts()) {
    if (!is_program_part(part)) out += OdbcPart(part.name, part.value);
  }
  return out;
}

}  // namespace corvane::data
