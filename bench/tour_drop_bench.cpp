// Tour-drop pass benchmark: the real executable, each case beside its floor measured in the same
// run on the same data.
//   (a) N tours that qualify (SQLite), each alert sent to a local smtp-sink; floor: postfix's
//       smtp-source sending N messages of the same size over one connection to the same sink.
//   (b) M tours in the window with a zero balance (no mail), on SQLite, PostgreSQL and MariaDB
//       (servers of the bench's own, as the tests start them). Floors: on the servers, the
//       engine's own client (psql, mariadb) making the same round trips as the program: the tour
//       query, then one balance query per tour; on SQLite, the sqlite3 shell running one
//       statement that computes the same rows and balances. Both also at M/10, to show how
//       memory grows with the row count.
// Each time and peak memory is the median of three runs, the program's and the floor's taken
// in turn. Peak memory is the measured process's own: the program's or the client's, never
// the server's.
// Usage: tour_drop_bench [N=10000] [M=50000] [ENGINES=sqlite,postgres,mariadb]
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/tour_drops.h"
#include "base/clock.h"
#include "bench_support.h"
#include "data/profiles/profiles.h"
#include "support/mariadb_server.h"
#include "support/postgres_server.h"

namespace {

namespace fs = std::filesystem;
using corvane::DateTime;
using corvane::bench::Measure;
using corvane::bench::Measurement;
using corvane::bench::MeasureOptions;
using corvane::bench::Server;
using corvane::testing::SqlServer;

enum class Kind { kSqlite, kPostgres, kMariaDb };

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

void WriteText(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void ExecSqlite(const fs::path& path, const std::string& sql) {
  sqlite3* raw = nullptr;
  const int opened = sqlite3_open(path.c_str(), &raw);
  std::unique_ptr<sqlite3, SqliteCloser> db(raw);
  char* message = nullptr;
  if (opened != SQLITE_OK || sqlite3_exec(raw, sql.c_str(), nullptr, nullptr, &message) != 0) {
    const std::string text = message ? message : sqlite3_errmsg(raw);
    sqlite3_free(message);
    throw std::runtime_error("SQL failed: " + text);
  }
}

// The Company row and `tours` contracted tours ending tomorrow, each with one daily invoice whose
// balance is `balance`, plus as many tours that do not qualify. Tour, customer and invoice i
// share the number i; the contracted tours are the even ones.
std::string BenchData(Kind kind, int tours, double balance, const std::string& mail_server) {
  const std::string count = std::to_string(2 * tours);
  const DateTime day = corvane::SystemClock().Today().AddDays(1);
  char tomorrow[16];
  std::snprintf(tomorrow, sizeof tomorrow, "%04d-%02d-%02d", day.year(), day.month(), day.day());
  std::string numbers;
  switch (kind) {
    case Kind::kSqlite:
      numbers = "(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                count + ") SELECT i FROM n)";
      break;
    case Kind::kPostgres:
      numbers = "(SELECT i FROM generate_series(1, " + count + ") AS g(i))";
      break;
    case Kind::kMariaDb:
      numbers = "(SELECT seq AS i FROM seq_1_to_" + count + ")";
      break;
  }
  auto named = [&](std::string_view prefix, std::string_view number) {
    std::string sql = kind == Kind::kMariaDb ? "CONCAT('" : "'";
    sql.append(prefix).append(kind == Kind::kMariaDb ? "', " : "' || ").append(number);
    if (kind == Kind::kMariaDb) sql += ")";
    return sql;
  };
  return "INSERT INTO Company VALUES (1,'Bench','','','','','','','','','',0,0,"
         "'maintenance@example.com','fleet@example.com','Fleet','" +
         mail_server +
         "');"
         "INSERT INTO Customer (ID, Name) SELECT i, " +
         named("Customer ", "i") + " FROM " + numbers +
         " AS n;"
         "INSERT INTO Tour (ID, TourName, CustomerID, Status) SELECT ID, " +
         named("Tour ", "ID") +
         ", ID, CASE WHEN ID % 2 = 0 THEN 'Contract - Signed' ELSE 'Quote' END FROM Customer;"
         "INSERT INTO TourItems (ID, TourID, EndDate) SELECT ID, ID, '" +
         std::string(tomorrow) +
         "' FROM Tour;"
         "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) SELECT ID, ID, 'Daily', "
         "1000, " +
         std::to_string(1000 - balance) + " FROM Tour;" +
         (kind == Kind::kPostgres ? "ANALYZE;" : "");
}

const corvane::data::EngineProfile& ProfileOf(Kind kind) {
  switch (kind) {
    case Kind::kSqlite:
      return corvane::data::SqliteProfile();
    case Kind::kPostgres:
      return corvane::data::PostgresProfile();
    case Kind::kMariaDb:
      break;
  }
  return corvane::data::MariaDbProfile();
}

// The program's tour query for a 7-day window, as the engine's profile adapts it.
std::string TourQuery(Kind kind) {
  const DateTime today = corvane::SystemClock().Today();
  return ProfileOf(kind).AdaptQuery(corvane::alerts::TourDropQuery(today, today.AddDays(7)));
}

// What the program's pass asks of a server for those tours: the tour query, then the balance
// query of each tour's invoice.
std::string RoundTrips(Kind kind, int tours) {
  std::string script = TourQuery(kind) + ";\n";
  for (int i = 1; i <= tours; ++i) {
    script +=
        "SELECT InvoiceTotal - Paid AS Balance FROM Invoice WHERE ID = " + std::to_string(2 * i) +
        ";\n";
  }
  return script;
}

// The same rows and balances as one SQLite statement.
std::string OneStatement() {
  return "SELECT t.*, (SELECT InvoiceTotal - Paid FROM Invoice WHERE ID = t.InvoiceNumber) AS "
         "Balance FROM (" +
         TourQuery(Kind::kSqlite) + ") AS t;\n";
}

void WriteConfig(const fs::path& folder, const std::string& connection_string) {
  WriteText(folder / "config.txt", "Bench\r\nDatabase,\"" + connection_string +
                                       "\"\r\na,\r\nb,\r\nc,\r\nTourAlertTo,ops@example.com\r\n"
                                       "TourAlertDays,7\r\n");
}

Measurement Checked(const Measurement& m, const std::string& what) {
  if (m.exit_status != 0) {
    throw std::runtime_error(what + " ended with status " + std::to_string(m.exit_status));
  }
  return m;
}

Measurement RunProgram(const fs::path& folder) {
  return Checked(Measure({(folder / "corvane-email-handler").string()}, folder), "the program");
}

// The median time and the median peak memory of three runs.
Measurement Median(const std::array<Measurement, 3>& runs) {
  std::array<double, 3> seconds{};
  std::array<long, 3> memory{};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    seconds[i] = runs[i].seconds;
    memory[i] = runs[i].max_rss_kib;
  }
  std::sort(seconds.begin(), seconds.end());
  std::sort(memory.begin(), memory.end());
  Measurement m = runs[0];
  m.seconds = seconds[1];
  m.max_rss_kib = memory[1];
  return m;
}

void PrintRow(const char* what, const Measurement& m, double count) {
  std::printf("    %-42s %8.3f s %10.0f /s %8.1f MiB\n", what, m.seconds, count / m.seconds,
              static_cast<double>(m.max_rss_kib) / 1024.0);
}

// One engine's case (b): a fresh database of `tours` / 10 qualifying tours, then one of `tours`,
// each with the program and the floor taken in turn.
void ZeroBalanceCase(Kind kind, const char* title, const fs::path& folder, int tours,
                     const std::string& mail_server) {
  std::unique_ptr<SqlServer> server;
  if (kind == Kind::kPostgres) server = std::make_unique<corvane::testing::PostgresServer>();
  if (kind == Kind::kMariaDb) server = std::make_unique<corvane::testing::MariaDbServer>();
  std::string database;
  auto prepare = [&](int count) {
    const std::string sql = BenchData(kind, count, 0.0, mail_server);
    if (server) {
      database = server->CreateDatabase();
      const char* schema = kind == Kind::kPostgres ? "schema-postgres.sql" : "schema-mariadb.sql";
      server->RunSql(database, ReadText(fs::path(CORVANE_SOURCE_DIR) / "sql" / schema));
      server->RunSql(database, sql);
      WriteConfig(folder, server->OdbcConnectionString(database));
    } else {
      fs::remove(folder / "bench.db");
      ExecSqlite(folder / "bench.db",
                 ReadText(fs::path(CORVANE_SOURCE_DIR) / "sql" / "schema-sqlite.sql") + "BEGIN;" +
                     sql + "COMMIT;");
      WriteConfig(folder, "Provider=SQLite;Data Source=bench.db;");
    }
  };
  MeasureOptions options;
  options.stdin_file = folder / "floor.sql";
  std::vector<std::string> client = {"sqlite3", "bench.db"};
  // The program and the floor in turn, three times each, on `count` tours.
  auto measure = [&](int count) {
    prepare(count);
    WriteText(folder / "floor.sql", server ? RoundTrips(kind, count) : OneStatement());
    if (server) {
      client = server->ClientArgs(database);
      options.set_env = server->ClientOptions().set_env;
    }
    std::array<Measurement, 3> programs, floors;
    for (std::size_t run = 0; run < 3; ++run) {
      programs[run] = RunProgram(folder);
      floors[run] = Checked(Measure(client, folder, options), "the client");
    }
    return std::make_pair(Median(programs), Median(floors));
  };
  const auto [small, small_floor] = measure(tours / 10);
  const auto [program, floor] = measure(tours);

  std::printf("  %s\n", title);
  PrintRow("corvane-email-handler", program, tours);
  const std::string floor_label =
      "floor: " + fs::path(client[0]).filename().string() +
      (server ? ", the same " + std::to_string(tours + 1) + " statements"
              : ", one statement, the same rows and balances");
  PrintRow(floor_label.c_str(), floor, tours);
  auto mib = [](long kib) { return static_cast<double>(kib) / 1024.0; };
  std::printf(
      "    ratio %.2fx; peak memory from %d to %d tours: program %.1f -> %.1f MiB (%+.1f), "
      "floor %.1f -> %.1f MiB (%+.1f)\n",
      program.seconds / floor.seconds, tours / 10, tours, mib(small.max_rss_kib),
      mib(program.max_rss_kib), mib(program.max_rss_kib - small.max_rss_kib),
      mib(small_floor.max_rss_kib), mib(floor.max_rss_kib),
      mib(floor.max_rss_kib - small_floor.max_rss_kib));
}

}  // namespace

int main(int argc, char** argv) {
  const int alerts = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int zero_balance = argc > 2 ? std::atoi(argv[2]) : 50000;
  const std::string engines = argc > 3 ? argv[3] : "sqlite,postgres,mariadb";
  // The program and the clients find psqlODBC and Connector/ODBC through a private
  // odbcinst.ini (no driver logs), as in the tests.
  corvane::testing::UsePrivateOdbcConfig();
  corvane::bench::TempFolder folder;
  fs::copy_file(CORVANE_EXECUTABLE, folder.path() / "corvane-email-handler");

  Server sink = corvane::bench::StartSmtpSink();
  const std::string mail_server = "127.0.0.1:" + std::to_string(sink.port);

  std::printf("Tour-drop pass, real executable vs floor (same machine, same run)\n");
  if (alerts > 0) {
    ExecSqlite(folder.path() / "bench.db",
               ReadText(fs::path(CORVANE_SOURCE_DIR) / "sql" / "schema-sqlite.sql") + "BEGIN;" +
                   BenchData(Kind::kSqlite, alerts, 250.0, mail_server) + "COMMIT;");
    WriteConfig(folder.path(), "Provider=SQLite;Data Source=bench.db;");
    const Measurement program = RunProgram(folder.path());
    // The same size as one alert of this run, headers included (about 700 bytes).
    const Measurement floor =
        Checked(Measure({"smtp-source", "-d", "-s", "1", "-m", std::to_string(alerts), "-l", "700",
                         "-f", "alerts@corvanetours.com", "-t", "ops@example.com", mail_server},
                        folder.path()),
                "smtp-source");
    std::printf("(a) %d tours that qualify (SQLite), one alert each to smtp-sink\n", alerts);
    PrintRow("corvane-email-handler", program, alerts);
    PrintRow("floor: smtp-source, same count and size", floor, alerts);
    std::printf("    ratio %.2fx\n", program.seconds / floor.seconds);
  }

  std::printf(
      "(b) %d tours in the window with a zero balance, no alert: the tour query, then one "
      "balance query per tour\n",
      zero_balance);
  struct Engine {
    const char* name;
    Kind kind;
    const char* title;
    bool installed;
  };
  const Engine all[] = {
      {"sqlite", Kind::kSqlite, "SQLite (embedded)", true},
      {"postgres", Kind::kPostgres, "PostgreSQL 15 through psqlODBC, Unix socket",
       corvane::testing::PostgresServer::Installed()},
      {"mariadb", Kind::kMariaDb, "MariaDB 10.11 through Connector/ODBC, Unix socket",
       corvane::testing::MariaDbServer::Installed()},
  };
  for (const Engine& engine : all) {
    if (engines.find(engine.name) == std::string::npos) continue;
    if (!engine.installed) {
      std::printf("  %s: not installed, skipped\n", engine.title);
      continue;
    }
    ZeroBalanceCase(engine.kind, engine.title, folder.path(), zero_balance, mail_server);
  }
  return 0;
}
