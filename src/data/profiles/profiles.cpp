#include "data/profiles/profiles.h"

#include <algorithm>
#include <array>

#include "base/ascii.h"

namespace corvane::data {

namespace {

// The plain ODBC profile last: it claims what no other does.
std::array<const EngineProfile*, 6> Profiles() {
  return {&SqliteProfile(),  &SqlServerProfile(), &PostgresProfile(),
          &MariaDbProfile(), &MySqlProfile(),     &PlainOdbcProfile()};
}

}  // namespace

bool NamesOdbcDriver(const ConnectionString& read, std::initializer_list<std::string_view> names) {
  if (const auto provider = read.Find("Provider");
      provider && !StartsWithNoCase(*provider, "MSDASQL")) {
    return false;
  }
  const std::string driver = read.Find("Driver").value_or("");
  return std::any_of(names.begin(), names.end(),
                     [&](std::string_view name) { return HasNoCase(driver, name); });
}

void AddUnlessSet(ConnectionString& parts, std::string_view name, std::string_view value) {
  if (!parts.Find(name)) parts.Add(std::string(name), std::string(value));
}

bool HasNoCase(std::string_view text, std::string_view part) {
  return ToLowerAscii(text).find(ToLowerAscii(part)) != std::string::npos;
}

LedgerDialect MakeLedgerDialect(std::string_view setup_file, std::string table_question,
                                std::string now, std::string seconds_from_now,
                                std::string_view if_present) {
  LedgerDialect d;
  d.setup_file = setup_file;
  d.table_question = std::move(table_question);
  d.claim =
      "INSERT INTO CorvaneLedger (Pass, AlertKey, AlertDay, Recipients, State, Host, ClaimedAt, "
      "ClaimedUntil) VALUES (?, ?, ?, ?, 'claimed', ?, " +
      now + ", " + seconds_from_now + ")" + std::string(if_present);
  d.now = std::move(now);
  d.seconds_from_now = std::move(seconds_from_now);
  return d;
}

const EngineProfile& ProfileForConnectionString(const ConnectionString& read) {
  for (const EngineProfile* profile : Profiles()) {
    if (profile->Claims(read)) return *profile;
  }
  return PlainOdbcProfile();
}

const EngineProfile& ProfileForServer(std::string_view dbms_name, std::string_view dbms_version) {
  for (const EngineProfile* profile : Profiles()) {
    if (profile->IsServer(dbms_name, dbms_version)) return *profile;
  }
  return PlainOdbcProfile();
}

}  // namespace corvane::data
