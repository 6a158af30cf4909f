// A run tells monitoring that it ran, and monitoring never changes the run: through the real
// executable, and the metrics file through Prometheus's own parser.
#include "run/monitoring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>

#include "base/status_codes.h"
#include "support/child_process.h"
#include "support/http_recorder.h"
#include "support/local_day.h"
#include "support/pass_harness.h"
#include "support/program_folder.h"
#include "support/scripted_smtp_server.h"
#include "support/temp_dir.h"

namespace corvane::run {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

const std::string kKey = "/ping/5f1c2a9e-7d3b-4c8e";

// The file as Prometheus's own parser reads it, each family a documented gauge.
std::map<std::string, double> ParseMetrics(const std::filesystem::path& file);

// How a monitored run goes: what the mail server does, what the monitor answers (0: nothing,
// ever), the run's status and what the monitor hears last.
struct MonitoredRun {
  std::string name;
  std::optional<testing::SmtpMisstep> misstep;
  bool held = false;  // the mail server never answers DATA: the run ends at its limit
  int answer = 200;
  int status = 0;
  std::string final_path;  // after the key
  std::string in_body;
  bool fleet = false;  // two tours, a ticket to two addresses and an action to one: 5 messages
};

void PrintTo(const MonitoredRun& run, std::ostream* out) {
  *out << run.name;
}

class Monitored : public ::testing::TestWithParam<MonitoredRun> {};

TEST_P(Monitored, RunsTellTheMonitorHowTheyEndedAndAMonitorNeverChangesTheRun) {
  const MonitoredRun& run = GetParam();
  testing::OnOneDay([&](DateTime today) {
    testing::ScriptedSmtpOptions smtp_options;
    if (run.misstep) smtp_options.missteps = {*run.misstep};
    if (run.held) smtp_options.hold_at = testing::SmtpStep::kData;
    testing::ScriptedSmtpServer smtp(smtp_options);
    testing::HttpRecorder monitor(run.answer);
    testing::ProgramFolder program;
    program.CreateSqliteDatabase(
        testing::CompanyRowSql(smtp.host_port()) + testing::OneOpenTourSql(today) +
        (run.fleet ? "INSERT INTO Tour VALUES (2,'Hill Loop',1,'Contract - Signed');"
                     "INSERT INTO TourItems VALUES (2,2,'" + testing::IsoDate(today) + "');"
                     "INSERT INTO Invoice VALUES (11,2,'Daily',100,40);"
                     "INSERT INTO HexmileTicket (ID, AddNotifyEmail, EmailSent)"
                     " VALUES (1, 'yard@corvanetours.com', 0);"
                     "INSERT INTO HexmileAction (ID, TicketID, EmailDriver, AddNotifyEmail, EmailSent)"
                     " VALUES (1, 1, 0, 'yard@corvanetours.com', 0);"
                   : ""));
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;Run Timeout=10;",
                        "dispatch@corvanetours.com", "7");
    // The URL from the command line, the metrics file from the environment, as a unit sets it.
    testing::ProcessOptions options = program.CronOptions();
    options.set_env["CORVANE_METRICS_FILE"] = (program / "corvane.prom").string();
    const std::string url = monitor.url() + kKey;
    const auto began = std::chrono::steady_clock::now();
    std::vector<std::string> argv = {program.executable().string(), "--heartbeat-url", url};
    if (run.fleet) argv.push_back("--fleet");
    const testing::ProcessResult result = testing::Run(argv, options, testing::kHangLimit);
    smtp.Release();
    // Each request within its limit, the run's own time aside.
    EXPECT_LT(std::chrono::steady_clock::now() - began, 2 * (2 * 5s + 10s) + 5s);
    EXPECT_EQ(result.exit_status, run.status) << result.err;

    const auto requests = monitor.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].method + " " + requests[0].target, "POST " + kKey + "/start");
    EXPECT_EQ(requests[1].target, kKey + run.final_path);
    EXPECT_THAT(requests[1].body, HasSubstr(run.in_body));
    // The body holds the run's one report line, as stderr shows it; a monitor that never answers
    // costs one warning a run, and nothing more.
    EXPECT_THAT(requests[1].body, HasSubstr(run.status == 0 ? "" : result.err.substr(0, 60)));
    std::size_t warnings = 0;
    for (std::size_t at = 0; (at = result.err.find("warning: heartbeat to 127.0.0.1:", at)) !=
                             std::string::npos;
         ++at) {
      ++warnings;
    }
    EXPECT_EQ(warnings, run.answer == 200 ? 0u : 1u) << result.err;
    EXPECT_THAT(result.err + result.out, Not(HasSubstr("5f1c")));

    // What went out, as the server took it; each alert handled once all its messages were.
    const std::size_t messages = smtp.Accepted().size();
    const long alerts = run.status != 0 ? 0 : run.fleet ? 4 : 1;
    EXPECT_EQ(messages, run.status != 0 ? 0u : run.fleet ? 5u : 1u);
    EXPECT_THAT(requests[1].body, HasSubstr("messages sent " + std::to_string(messages) +
                                            "\nalerts handled " + std::to_string(alerts) + "\n"));
    const std::map<std::string, double> metrics = ParseMetrics(program / "corvane.prom");
    EXPECT_EQ(metrics.at("corvane_run_exit_status"), run.status);
    EXPECT_EQ(metrics.at("corvane_run_messages_sent"), messages);
    EXPECT_EQ(metrics.at("corvane_run_alerts_handled"), alerts);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Endings, Monitored,
    ::testing::Values(
        MonitoredRun{"Success", std::nullopt, false, 200, 0, "", "exit status 0\n"},
        MonitoredRun{"FleetSuccess", std::nullopt, false, 200, 0, "", "exit status 0\n", true},
        MonitoredRun{"MailRefused",
                     testing::SmtpMisstep{testing::SmtpStep::kRcpt,
                                          testing::SmtpMisstep::Action::kReply,
                                          "550 5.1.1 <dispatch@corvanetours.com>: unknown", 1},
                     false, 200, exit_status::kMailFailed, "/76", "550 5.1.1"},
        MonitoredRun{"RunLimit", std::nullopt, true, 200, exit_status::kTimedOut, "/124",
                     "the run did not end within 10 seconds"},
        MonitoredRun{"SilentMonitor", std::nullopt, false, 0, 0, "", "exit status 0\n"}),
    [](const auto& param) { return param.param.name; });

// A monitor of each convention, chosen by the option, the environment or the URL, hears a run
// that succeeds and one that fails in its own forms, and answers 404 to any other.
struct Convention {
  std::string name;
  std::vector<std::string> options;          // after --heartbeat-url URL
  std::map<std::string, std::string> env;    // "{recorder}" stands for the recorder's address
  std::string url;                           // "{recorder}" likewise
  std::string accepts;                       // "METHOD target" the monitor takes
  std::vector<std::string> heard;            // each request of the two runs, in order
};

void PrintTo(const Convention& convention, std::ostream* out) {
  *out << convention.name;
}

class Conventions : public ::testing::TestWithParam<Convention> {};

TEST_P(Conventions, EachMonitorHearsAStartUpAndDownInItsOwnForm) {
  const Convention& convention = GetParam();
  testing::OnOneDay([&](DateTime today) {
    testing::ScriptedSmtpServer smtp;
    testing::HttpRecorder monitor(200, std::regex(convention.accepts));
    const auto with_recorder = [&](std::string text) {
      return std::regex_replace(text, std::regex("\\{recorder\\}"), monitor.url());
    };
    testing::ProgramFolder program;
    program.CreateSqliteDatabase(testing::CompanyRowSql(smtp.host_port()) +
                                 testing::OneOpenTourSql(today));
    testing::ProcessOptions options = program.CronOptions();
    for (const auto& [name, value] : convention.env) options.set_env[name] = with_recorder(value);
    std::vector<std::string> argv = {program.executable().string(), "--heartbeat-url",
                                     with_recorder(convention.url)};
    argv.insert(argv.end(), convention.options.begin(), convention.options.end());
    for (const std::string tour_alert_days : {"7", "x"}) {  // "x": 13 type mismatch, status 65
      program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com",
                          tour_alert_days);
      const auto result = testing::Run(argv, options, testing::kHangLimit);
      EXPECT_EQ(result.exit_status, tour_alert_days == "7" ? 0 : 65) << result.err;
      EXPECT_THAT(result.err, Not(HasSubstr("warning"))) << "a form the monitor does not take";
    }
    const auto requests = monitor.Requests();
    ASSERT_EQ(requests.size(), convention.heard.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
      EXPECT_TRUE(std::regex_match(requests[i].method + " " + requests[i].target,
                                   std::regex(with_recorder(convention.heard[i]))))
          << requests[i].method << " " << requests[i].target;
    }
  });
}

const std::string kSummary0 =
    "exit\\+status\\+0%3[bB]\\+messages\\+sent\\+1%3[bB]\\+alerts\\+handled\\+1%3[bB]\\+duration\\+[0-9.]+\\+s";
const std::string kSummary65 =
    "exit\\+status\\+65%3[bB]\\+messages\\+sent\\+0%3[bB]\\+alerts\\+handled\\+0%3[bB]\\+duration\\+"
    "[0-9.]+\\+s%3[bB]\\+corvane-email-handler%3[aA]\\+run-time\\+error\\+13%3[aA]\\+Type\\+mismatch.*";

INSTANTIATE_TEST_SUITE_P(
    Monitors, Conventions,
    ::testing::Values(
        Convention{"HealthchecksByOption",
                   {"--heartbeat-style", "healthchecks"},
                   {},
                   "{recorder}/ping/K5f1c2a9e",
                   "POST /ping/K5f1c2a9e(/start|/[0-9]+)?",
                   {"POST /ping/K5f1c2a9e/start", "POST /ping/K5f1c2a9e",
                    "POST /ping/K5f1c2a9e/start", "POST /ping/K5f1c2a9e/65"}},
        // Hosted monitors are reached through the proxy the standard variables name.
        Convention{"HealthchecksThroughAProxy",
                   {},
                   {{"http_proxy", "{recorder}"}},
                   "http://hc-ping.invalid/K5f1c2a9e",
                   "POST http://hc-ping.invalid/K5f1c2a9e(/start|/[0-9]+)?",
                   {"POST http://hc-ping.invalid/K5f1c2a9e/start",
                    "POST http://hc-ping.invalid/K5f1c2a9e",
                    "POST http://hc-ping.invalid/K5f1c2a9e/start",
                    "POST http://hc-ping.invalid/K5f1c2a9e/65"}},
        Convention{"CronitorByItsPath",
                   {},
                   {},
                   "{recorder}/p/K5f1c2a9e/corvane",
                   "GET /p/K5f1c2a9e/corvane\\?state=(run|(complete|fail)&message=[^&]+)",
                   {"GET /p/K5f1c2a9e/corvane\\?state=run",
                    "GET /p/K5f1c2a9e/corvane\\?state=complete&message=" + kSummary0,
                    "GET /p/K5f1c2a9e/corvane\\?state=run",
                    "GET /p/K5f1c2a9e/corvane\\?state=fail&message=" + kSummary65}},
        Convention{"UptimeKumaByTheEnvironment",
                   {},
                   {{"CORVANE_HEARTBEAT_STYLE", "uptime-kuma"}},
                   "{recorder}/push/K5f1c2a9e",
                   "GET /push/K5f1c2a9e\\?status=(up|down)&msg=[^&]+&ping=[0-9]+",
                   {"GET /push/K5f1c2a9e\\?status=up&msg=" + kSummary0 + "&ping=[0-9]+",
                    "GET /push/K5f1c2a9e\\?status=down&msg=" + kSummary65 + "&ping=[0-9]+"}}),
    [](const auto& param) { return param.param.name; });

TEST(Conventions, AreRecognisedFromTheUrl) {
  const std::map<std::string, HeartbeatStyle> urls = {
      {"https://hc-ping.com/5f1c2a9e", HeartbeatStyle::kHealthchecks},
      {"https://hc.example.com/ping/5f1c2a9e", HeartbeatStyle::kHealthchecks},
      {"https://cronitor.link/p/k/corvane", HeartbeatStyle::kCronitor},
      {"https://cron.example.com/p/k/corvane", HeartbeatStyle::kCronitor},
      {"https://kuma.example.com/api/push/t0k3n", HeartbeatStyle::kUptimeKuma},
      {"https://monitor.example.com/beat/5f1c2a9e", HeartbeatStyle::kHealthchecks}};
  for (const auto& [text, style] : urls) {
    const CurlUrl url(curl_url());
    ASSERT_EQ(curl_url_set(url.get(), CURLUPART_URL, text.c_str(), 0), CURLUE_OK);
    EXPECT_EQ(RecogniseHeartbeatStyle(url.get()), style) << text;
  }
}

std::map<std::string, double> ParseMetrics(const std::filesystem::path& file) {
  const auto result = testing::Run(
      {"/usr/bin/python3", "-c",
       "import sys\nfrom prometheus_client.parser import text_string_to_metric_families\n"
       "for f in text_string_to_metric_families(open(sys.argv[1]).read()):\n"
       "  assert f.type == 'gauge' and f.documentation, f.name\n"
       "  for s in f.samples: print(s.name, repr(s.value))\n",
       file.string()});
  EXPECT_EQ(result.exit_status, 0) << result.err;
  std::map<std::string, double> samples;
  std::istringstream lines(result.out);
  for (std::string name; lines >> name >> samples[name];) {
  }
  return samples;
}

TEST(MetricsFile, IsReplacedWholeAndKeepsTheLastSuccessAcrossAFailingRun) {
  testing::TempDir dir;
  const auto file = dir / "corvane.prom";
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);  // planted: neither read nor waited on
  const std::chrono::system_clock::time_point day(1'700'000'000s);
  EXPECT_EQ(WriteMetricsFile(file, {76, 0, 0, 1s, "", day - 60s}), "");
  EXPECT_EQ(WriteMetricsFile(file, {0, 4, 3, 2.5s, "", day}), "");
  EXPECT_EQ(WriteMetricsFile(file, {124, 2, 1, 4s, "report", day + 3600s}), "");
  EXPECT_EQ(ParseMetrics(file), (std::map<std::string, double>{
                                    {"corvane_run_end_timestamp_seconds", 1'700'003'600},
                                    {"corvane_run_last_success_timestamp_seconds", 1'700'000'000},
                                    {"corvane_run_exit_status", 124},
                                    {"corvane_run_messages_sent", 2},
                                    {"corvane_run_alerts_handled", 1},
                                    {"corvane_run_duration_seconds", 4}}));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  const auto missing = dir / "missing" / "corvane.prom";
  EXPECT_THAT(WriteMetricsFile(missing, {0, 0, 0, 1s, "", day}),
              HasSubstr("warning: metrics file " + missing.string() + " not written"));
}

}  // namespace
}  // namespace corvane::run
