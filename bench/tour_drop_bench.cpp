// Tour-drop pass benchmark: the real executable against a generated SQLite database, each case
// beside its floor measured in the same run.
//   (a) N tours that qualify, each alert sent to a local smtp-sink; floor: postfix's smtp-source
//       sending N messages of the same size over one connection to the same sink.
//   (b) M tours in the window with a zero balance (no mail); floor: one SQL statement in the
//       sqlite3 shell that computes the same rows and balances.
// Usage: tour_drop_bench [N=10000] [M=100000]
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"

namespace {

namespace fs = std::filesystem;
using corvane::bench::Measure;
using corvane::bench::Measurement;
using corvane::bench::Server;

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

void Exec(sqlite3* db, const std::string& sql) {
  char* message = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    std::string text = message ? message : "?";
    sqlite3_free(message);
    throw std::runtime_error("SQL failed: " + text);
  }
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// A database with `tours` contracted tours ending tomorrow, each with one daily invoice whose
// balance is `balance`, plus the same number of tours that do not qualify.
void MakeDatabase(const fs::path& path, int tours, double balance, const std::string& server) {
  sqlite3* raw = nullptr;
  sqlite3_open(path.c_str(), &raw);
  std::unique_ptr<sqlite3, SqliteCloser> db(raw);
  Exec(db.get(), ReadText(fs::path(CORVANE_SOURCE_DIR) / "sql" / "schema-sqlite.sql"));
  Exec(db.get(), "BEGIN");
  Exec(db.get(),
       "INSERT INTO Company VALUES (1,'Bench','','','','','','','','','',0,0,"
       "'maintenance@example.com','fleet@example.com','Fleet','" +
           server + "')");
  Exec(db.get(), "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                     std::to_string(2 * tours) +
                     ") "
                     "INSERT INTO Customer (ID, Name) SELECT i, 'Customer ' || i FROM n");
  Exec(db.get(),
       "INSERT INTO Tour (ID, TourName, CustomerID, Status) SELECT ID, 'Tour ' || ID, ID, "
       "CASE WHEN ID % 2 = 0 THEN 'Contract - Signed' ELSE 'Quote' END FROM Customer");
  Exec(db.get(),
       "INSERT INTO TourItems (TourID, EndDate) SELECT ID, date('now', 'localtime', '+1 day') "
       "FROM Tour");
  Exec(db.get(),
       "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) SELECT ID, ID, "
       "'Daily', 1000, " +
           std::to_string(1000 - balance) + " FROM Tour");
  Exec(db.get(), "COMMIT");
}

void WriteConfig(const fs::path& folder) {
  std::ofstream out(folder / "config.txt", std::ios::binary);
  out << "Bench\r\nDatabase,\"Provider=SQLite;Data Source=bench.db;\"\r\n"
         "a,\r\nb,\r\nc,\r\nTourAlertTo,ops@example.com\r\nTourAlertDays,7\r\n";
}

Measurement RunProgram(const fs::path& folder) {
  const Measurement m = Measure({(folder / "corvane-email-handler").string()}, folder);
  if (m.exit_status != 0) {
    throw std::runtime_error("the program ended with status " + std::to_string(m.exit_status));
  }
  return m;
}

// The tour-drop query with ISO dates and each row's balance, in one statement.
std::string FloorQuery() {
  return "SELECT t.*, (SELECT InvoiceTotal - Paid FROM Invoice WHERE ID = t.InvoiceNumber) "
         "FROM (SELECT DISTINCT Tour.TourName,Customer.Name,TourItems.TourID,EndDate,"
         "MAX(Invoice.ID) AS InvoiceNumber FROM TourItems LEFT JOIN Tour ON TourItems.TourID = "
         "Tour.ID LEFT JOIN Customer ON Tour.CustomerID = Customer.ID LEFT JOIN Invoice ON "
         "Tour.ID = Invoice.TourID WHERE EndDate >= date('now','localtime') AND EndDate <= "
         "date('now','localtime','+7 days') AND (Tour.Status = 'Contract - Committed' OR "
         "Tour.Status = 'Contract - Verbal' OR Tour.Status = 'Contract - Signed') AND "
         "(Invoice.Type = 'Daily' OR Invoice.Type = 'Monthly') GROUP BY Tour.TourName,"
         "Customer.Name,TourItems.TourID,EndDate ORDER BY TourItems.TourID) t;";
}

void PrintRow(const char* what, const Measurement& m, double count) {
  std::printf("  %-44s %8.3f s %10.0f /s %8.1f MiB\n", what, m.seconds, count / m.seconds,
              static_cast<double>(m.max_rss_kib) / 1024.0);
}

}  // namespace

int main(int argc, char** argv) {
  const int alerts = argc > 1 ? std::atoi(argv[1]) : 10000;
  const int zero_balance = argc > 2 ? std::atoi(argv[2]) : 100000;
  corvane::bench::TempFolder folder;
  fs::copy_file(CORVANE_EXECUTABLE, folder.path() / "corvane-email-handler");
  WriteConfig(folder.path());

  Server sink = corvane::bench::StartSmtpSink();
  const std::string server = "127.0.0.1:" + std::to_string(sink.port);

  std::printf("Tour-drop pass, real executable vs floor (same machine, same run)\n");
  // (a) alerts
  MakeDatabase(folder.path() / "bench.db", alerts, 250.0, server);
  const Measurement program_a = RunProgram(folder.path());
  // The same size as one alert of this run, headers included (about 700 bytes).
  const Measurement floor_a =
      Measure({"smtp-source", "-d", "-s", "1", "-m", std::to_string(alerts), "-l", "700", "-f",
               "alerts@corvanetours.com", "-t", "ops@example.com", server},
              folder.path());
  std::printf("(a) %d tours that qualify, one alert each to smtp-sink\n", alerts);
  PrintRow("corvane-email-handler", program_a, alerts);
  PrintRow("floor: smtp-source, same count and size", floor_a, alerts);
  std::printf("  ratio %.2fx\n", program_a.seconds / floor_a.seconds);

  // (b) zero balances, at M and at M/10 to show memory flat in the row count
  fs::remove(folder.path() / "bench.db");
  MakeDatabase(folder.path() / "bench.db", zero_balance / 10, 0.0, server);
  const Measurement program_small = RunProgram(folder.path());
  fs::remove(folder.path() / "bench.db");
  MakeDatabase(folder.path() / "bench.db", zero_balance, 0.0, server);
  const Measurement program_b = RunProgram(folder.path());
  const fs::path query = folder.path() / "floor.sql";
  std::ofstream(query) << FloorQuery();
  const Measurement floor_b =
      Measure({"sh", "-c", "sqlite3 bench.db < floor.sql > /dev/null"}, folder.path());
  std::printf("(b) %d tours in the window with a zero balance, no alert\n", zero_balance);
  PrintRow("corvane-email-handler", program_b, zero_balance);
  PrintRow("floor: one statement in the sqlite3 shell", floor_b, zero_balance);
  std::printf("  ratio %.2fx\n", program_b.seconds / floor_b.seconds);
  std::printf("  peak memory: %.1f MiB at %d tours, %.1f MiB at %d tours\n",
              static_cast<double>(program_small.max_rss_kib) / 1024.0, zero_balance / 10,
              static_cast<double>(program_b.max_rss_kib) / 1024.0, zero_balance);
  return 0;
}
