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

std::string LedgerClaimInsert(std::string_view now, std::string_view seconds_from_now) {
  return "INSERT INTO CorvaneLedger (Pass, AlertKey, AlertDay, Recipients, State, Host, "
         "ClaimedAt, ClaimedUntil) VALUES (?, ?, ?, ?, 'claimed', ?, " +
         std::string(now) + ", " + std::string(seconds_from_now) + ")";
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
