// What the ledger (--ledger) costs per alert on PostgreSQL: the real executable on N tours that
// qualify, one alert each to a local smtp-sink, run without the ledger, with it on a day's first
// run (every alert claimed and recorded), and with it again the same day (every alert skipped).
// Each figure is the median of three runs; the statements are the database's committed
// transactions during the run (pg_stat_database.xact_commit: every statement of the program is a
// transaction of its own, so this counts its round trips).
// Usage: ledger_bench [N=2000]
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/clock.h"
#include "bench_support.h"
#include "support/child_process.h"
#include "support/postgres_server.h"

namespace {

namespace fs = std::filesystem;
using corvane::bench::Measure;
using corvane::bench::Measurement;
using corvane::testing::PostgresServer;

std::string ReadText(const fs::path& path) {
  std::ifstream in(path);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// `tours` contracted tours ending tomorrow, each with a daily invoice $250 short.
std::string Tours(int tours, const std::string& mail_server) {
  const corvane::DateTime day = corvane::SystemClock().Today().AddDays(1);
  char tomorrow[16];
  std::snprintf(tomorrow, sizeof tomorrow, "%04d-%02d-%02d", day.year(), day.month(), day.day());
  const std::string from = " FROM generate_series(1, " + std::to_string(tours) + ") AS g(i);";
  std::string sql =
      "INSERT INTO Company VALUES (1,'Bench','','','','','','','','','',0,0,"
      "'maintenance@example.com','fleet@example.com','Fleet','";
  sql += mail_server + "');";
  sql += "INSERT INTO Customer (ID, Name) SELECT i, 'Customer ' || i" + from;
  sql +=
      "INSERT INTO Tour (ID, TourName, CustomerID, Status) SELECT i, 'Tour ' || i, i, "
      "'Contract - Signed'" +
      from;
  sql += "INSERT INTO TourItems (ID, TourID, EndDate) SELECT i, i, '" + std::string(tomorrow) +
         "'" + from;
  sql +=
      "INSERT INTO Invoice (ID, TourID, Type, InvoiceTotal, Paid) SELECT i, i, 'Daily', 1000, "
      "750" +
      from;
  return sql + "ANALYZE;";
}

struct Figures {
  double seconds = 0;
  long statements = 0;
};

class Bench {
 public:
  Bench(const fs::path& folder, int tours) : folder_(folder) {
    database_ = server_.CreateDatabase();
    const fs::path sql = fs::path(CORVANE_SOURCE_DIR) / "sql";
    server_.RunSql(database_, ReadText(sql / "schema-postgres.sql"));
    server_.RunSqlAsAdmin(database_,
                          "\\set login corvane\n\\i " + (sql / "ledger-postgres.sql").string());
    sink_.emplace(corvane::bench::StartSmtpSink());
    server_.RunSql(database_, Tours(tours, "127.0.0.1:" + std::to_string(sink_->port)));
    std::ofstream(folder_ / "config.txt")
        << "Bench\r\nDatabase,\"" << server_.OdbcConnectionString(database_)
        << "\"\r\na,\r\nb,\r\nc,\r\nTourAlertTo,ops@example.com\r\nTourAlertDays,7\r\n";
  }

  // The median of three runs with `arguments`; `before_each` readies the database.
  Figures Median(const std::vector<std::string>& arguments, const std::string& before_each) {
    std::array<Figures, 3> runs;
    for (Figures& run : runs) {
      if (!before_each.empty()) server_.RunSqlAsAdmin(database_, before_each);
      const long commits = Commits();
      std::vector<std::string> argv = {(folder_ / "corvane-email-handler").string()};
      argv.insert(argv.end(), arguments.begin(), arguments.end());
      const Measurement m = Measure(argv, folder_);
      if (m.exit_status != 0)
        throw std::runtime_error("the program ended with " + std::to_string(m.exit_status));
      run = {m.seconds, Commits() - commits - reader_commits_};
    }
    const auto by = [](auto field) {
      return [field](const Figures& a, const Figures& b) { return a.*field < b.*field; };
    };
    std::sort(runs.begin(), runs.end(), by(&Figures::seconds));
    Figures median{runs[1].seconds, 0};
    std::sort(runs.begin(), runs.end(), by(&Figures::statements));
    median.statements = runs[1].statements;
    return median;
  }

  // What one reading of the count costs itself, taken off every difference.
  void CalibrateReader() {
    const long first = Commits();
    reader_commits_ = Commits() - first;
  }

 private:
  long Commits() {
    std::vector<std::string> argv = server_.ClientArgs(database_);
    argv.insert(argv.end(), {"-c",
                             "SELECT xact_commit FROM pg_stat_database WHERE datname = "
                             "current_database()"});
    const corvane::testing::ProcessResult result =
        corvane::testing::Run(argv, server_.ClientOptions());
    if (result.exit_status != 0) throw std::runtime_error("psql: " + result.err);
    return std::stol(result.out);
  }

  fs::path folder_;
  PostgresServer server_;
  std::string database_;
  std::optional<corvane::bench::Server> sink_;
  long reader_commits_ = 0;
};

void Row(const char* what, const Figures& f, const Figures& plain, int tours) {
  std::printf("  %-36s %8.3f s %8ld statements", what, f.seconds, f.statements);
  if (&f != &plain) {
    std::printf("   %+7.3f ms %+6.2f statements per alert",
                (f.seconds - plain.seconds) * 1000 / tours,
                static_cast<double>(f.statements - plain.statements) / tours);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int tours = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (!PostgresServer::Installed()) {
    std::printf("PostgreSQL is not installed: nothing measured\n");
    return 0;
  }
  corvane::testing::UsePrivateOdbcConfig();
  corvane::bench::TempFolder folder;
  fs::copy_file(CORVANE_EXECUTABLE, folder.path() / "corvane-email-handler");
  Bench bench(folder.path(), tours);
  bench.CalibrateReader();
  const Figures plain = bench.Median({}, "");
  const Figures first = bench.Median({"--ledger"}, "TRUNCATE CorvaneLedger;");
  const Figures again = bench.Median({"--ledger"}, "");
  std::printf(
      "The ledger on PostgreSQL 15 through psqlODBC (Unix socket): %d tours that qualify, one "
      "alert each to smtp-sink; medians of three\n",
      tours);
  Row("without --ledger", plain, plain, tours);
  Row("--ledger, the day's first run", first, plain, tours);
  Row("--ledger, again the same day", again, plain, tours);
  return 0;
}
