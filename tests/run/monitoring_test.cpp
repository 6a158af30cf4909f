// A run tells monitoring that it ran, and monitoring never changes the run: through the real
// executable, and the metrics file through Prometheus's own parser.
#include "run/monitoring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <csignal>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

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
    program.CreateSqliteDatabase(testing::CompanyRowSql(smtp.host_port()) +
                                 testing::OneOpenTourSql(today));
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;Run Timeout=10;",
                        "dispatch@corvanetours.com", "7");
    // The URL from the command line, the metrics file from the environment, as a unit sets it.
    testing::ProcessOptions options = program.CronOptions();
    options.set_env["CORVANE_METRICS_FILE"] = (program / "corvane.prom").string();
    const std::string url = monitor.url() + kKey;
    const auto began = std::chrono::steady_clock::now();
    const testing::ProcessResult result = testing::Run(
        {program.executable().string(), "--heartbeat-url", url}, options, testing::kHangLimit);
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
    for (std::size_t at = 0;
         (at = result.err.find("warning: heartbeat to 127.0.0.1:", at)) != std::string::npos;
         ++at) {
      ++warnings;
    }
    EXPECT_EQ(warnings, run.answer == 200 ? 0u : 1u) << result.err;
    EXPECT_THAT(result.err + result.out, Not(HasSubstr("5f1c")));

    const std::map<std::string, double> metrics = ParseMetrics(program / "corvane.prom");
    EXPECT_EQ(metrics.at("corvane_run_exit_status"), run.status);
    EXPECT_EQ(smtp.Accepted().size(), run.status == 0 ? 1u : 0u);  // what went out, as counted
    EXPECT_EQ(metrics.at("corvane_run_messages_sent"), run.status == 0 ? 1 : 0);
    EXPECT_EQ(metrics.at("corvane_run_alerts_handled"), run.status == 0 ? 1 : 0);
  });
}

INSTANTIATE_TEST_SUITE_P(
    Endings, Monitored,
    ::testing::Values(
        MonitoredRun{"Success", std::nullopt, false, 200, 0, "", "sent 1\nalerts handled 1\n"},
        MonitoredRun{
            "MailRefused",
            testing::SmtpMisstep{testing::SmtpStep::kRcpt, testing::SmtpMisstep::Action::kReply,
                                 "550 5.1.1 <dispatch@corvanetours.com>: unknown", 1},
            false, 200, exit_status::kMailFailed, "/76", "550 5.1.1"},
        MonitoredRun{"RunLimit", std::nullopt, true, 200, exit_status::kTimedOut, "/124",
                     "the run did not end within 10 seconds"},
        MonitoredRun{"SilentMonitor", std::nullopt, false, 0, 0, "", "sent 1\nalerts handled 1\n"}),
    [](const auto& param) { return param.param.name; });

// A monitor of each convention hears a --fleet run that succeeds (2 tours, a ticket to 2
// addresses, an action to 1: 5 messages, 4 alerts) and one that fails (65) in its own forms, and
// answers 404 to any other. The convention comes from the option, the environment or the URL's
// host or path; a hosted monitor is reached through http_proxy.
struct Convention {
  std::string name;
  HeartbeatStyle style;
  std::string url;  // "{r}": the recorder's address
  std::vector<std::string> options;
  std::map<std::string, std::string> env;
};

void PrintTo(const Convention& convention, std::ostream* out) {
  *out << convention.name;
}

// What each convention takes ("METHOD target"; {u}: the URL), and hears from the two runs.
const std::string kSent =
    "exit\\+status\\+0%3[bB]\\+messages\\+sent\\+5%3[bB]\\+alerts\\+handled\\+4%3[bB].*";
const std::string kFailed = "exit\\+status\\+65%3[bB].*Type\\+mismatch.*";
const std::map<HeartbeatStyle, std::pair<std::string, std::vector<std::string>>> kForms = {
    {HeartbeatStyle::kHealthchecks,
     {"POST {u}(/start|/[0-9]+)?",
      {"POST {u}/start", "POST {u}", "POST {u}/start", "POST {u}/65"}}},
    {HeartbeatStyle::kCronitor,
     {"GET {u}\\?state=(run|(complete|fail)&message=[^&]+)",
      {"GET {u}\\?state=run", "GET {u}\\?state=complete&message=" + kSent, "GET {u}\\?state=run",
       "GET {u}\\?state=fail&message=" + kFailed}}},
    {HeartbeatStyle::kUptimeKuma,
     {"GET {u}\\?status=(up|down)&msg=[^&]+&ping=[0-9]+",
      {"GET {u}\\?status=up&msg=" + kSent, "GET {u}\\?status=down&msg=" + kFailed}}}};

class Conventions : public ::testing::TestWithParam<Convention> {};

TEST_P(Conventions, EachMonitorHearsAStartUpAndDownInItsOwnForm) {
  const Convention& convention = GetParam();
  testing::OnOneDay([&](DateTime today) {
    const auto put = [](const std::string& text, const char* mark, const std::string& value) {
      return std::regex_replace(text, std::regex(mark), value);
    };
    const auto& [accepts, heard] = kForms.at(convention.style);
    const std::string target = put(convention.url, "\\{r\\}", "");  // as the monitor sees it
    testing::HttpRecorder monitor(200, std::regex(put(accepts, "\\{u\\}", target)));
    testing::ScriptedSmtpServer smtp;
    testing::ProgramFolder program;
    program.CreateSqliteDatabase(
        testing::CompanyRowSql(smtp.host_port()) + testing::OneOpenTourSql(today) +
        "INSERT INTO Tour VALUES (2,'Hill Loop',1,'Contract - Signed');"
        "INSERT INTO TourItems VALUES (2,2,'" +
        testing::IsoDate(today) +
        "');"
        "INSERT INTO Invoice VALUES (11,2,'Daily',100,40);"
        "INSERT INTO HexmileTicket (ID, AddNotifyEmail, EmailSent) VALUES (1, 'y@x.example', 0);"
        "INSERT INTO HexmileAction (ID, TicketID, EmailDriver, AddNotifyEmail, EmailSent)"
        " VALUES (1, 1, 0, 'y@x.example', 0);");
    testing::ProcessOptions options = program.CronOptions();
    for (const auto& [name, value] : convention.env) {
      options.set_env[name] = put(value, "\\{r\\}", monitor.url());
    }
    std::vector<std::string> argv = {program.executable().string(), "--fleet", "--heartbeat-url",
                                     put(convention.url, "\\{r\\}", monitor.url())};
    argv.insert(argv.end(), convention.options.begin(), convention.options.end());
    for (const std::string days : {"7", "x"}) {  // "x": 13 type mismatch, status 65
      program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com",
                          days);
      const auto result = testing::Run(argv, options, testing::kHangLimit);
      EXPECT_EQ(result.exit_status, days == "7" ? 0 : 65) << result.err;
      EXPECT_THAT(result.err, Not(HasSubstr("warning"))) << "a form the monitor does not take";
    }
    EXPECT_EQ(smtp.Accepted().size(), 5u);  // what the first run said it sent
    const auto requests = monitor.Requests();
    ASSERT_EQ(requests.size(), heard.size());
    for (std::size_t i = 0; i < heard.size(); ++i) {
      const std::string request = requests[i].method + " " + requests[i].target;
      EXPECT_TRUE(std::regex_match(request, std::regex(put(heard[i], "\\{u\\}", target))))
          << request;
    }
  });
}

INSTANTIATE_TEST_SUITE_P(
    Monitors, Conventions,
    ::testing::Values(
        Convention{"HealthchecksByOption",
                   HeartbeatStyle::kHealthchecks,
                   "{r}/api/push/K5f1c2a9e",
                   {"--heartbeat-style", "healthchecks"},
                   {}},
        Convention{"HealthchecksByTheEnvironment",
                   HeartbeatStyle::kHealthchecks,
                   "{r}/p/K5f1c2a9e",
                   {},
                   {{"CORVANE_HEARTBEAT_STYLE", "healthchecks"}}},
        Convention{
            "CronitorByItsPath", HeartbeatStyle::kCronitor, "{r}/p/K5f1c2a9e/corvane", {}, {}},
        Convention{"CronitorByItsHostThroughAProxy",
                   HeartbeatStyle::kCronitor,
                   "http://cronitor.link/K5f1c2a9e/corvane",
                   {},
                   {{"http_proxy", "{r}"}}},
        Convention{
            "UptimeKumaByItsPath", HeartbeatStyle::kUptimeKuma, "{r}/api/push/K5f1c2a9e", {}, {}}),
    [](const auto& param) { return param.param.name; });

// Standing down is no failure: a second run while the first is going tells the monitor nothing
// and leaves the metrics file as it is. The first run's URL is not in its command line for
// other users to read.
TEST(Monitored, ARunThatStandsDownTellsTheMonitorNothing) {
  testing::OnOneDay([&](DateTime today) {
    testing::ScriptedSmtpOptions smtp_options;
    smtp_options.hold_at = testing::SmtpStep::kMail;  // the first run holds the lock until then
    testing::ScriptedSmtpServer smtp(smtp_options);
    testing::HttpRecorder monitor;
    testing::ProgramFolder program;
    program.CreateSqliteDatabase(testing::CompanyRowSql(smtp.host_port()) +
                                 testing::OneOpenTourSql(today));
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
    testing::WriteFile(program / "corvane.prom", "# the last run's\n");
    testing::ProcessOptions options = program.CronOptions();
    options.set_env["CORVANE_METRICS_FILE"] = (program / "corvane.prom").string();
    const std::vector<std::string> argv = {program.executable().string(), "--heartbeat-url",
                                           monitor.url() + kKey};
    testing::ChildProcess first(argv, options);
    ASSERT_TRUE(smtp.WaitUntilHolding(60s));
    const std::string command_line =
        testing::ReadFile(std::filesystem::path("/proc") / std::to_string(first.pid()) / "cmdline");
    EXPECT_THAT(command_line, HasSubstr("--heartbeat-url"));
    EXPECT_THAT(command_line, Not(HasSubstr("5f1c")));

    const testing::ProcessResult second = testing::Run(argv, options);
    EXPECT_EQ(second.exit_status, exit_status::kAlreadyRunning);
    EXPECT_EQ(second.err, testing::kStoodDown);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(monitor.Requests().size(), 1u) << "only the first run's start";
    EXPECT_EQ(testing::ReadFile(program / "corvane.prom"), "# the last run's\n");
    smtp.Release();
    EXPECT_EQ(first.Wait(60s).exit_status, exit_status::kOk);
    EXPECT_EQ(monitor.Requests().size(), 2u);
  });
}

// Once the run is decided, a stop request while a monitor that never answers is told ends the
// process at once, with the run's own status; the request's limit is not waited out.
TEST(Monitored, ASignalWhileTheMonitorIsToldEndsTheProcessAtOnce) {
  testing::HttpRecorder silent(0);
  testing::ProgramFolder program;
  program.CreateSqliteDatabase(testing::CompanyRowSql("pickup:outbox"));
  program.WriteConfig("Provider=SQLite;Data Source=fleet.db;", "dispatch@corvanetours.com", "7");
  testing::ChildProcess run({program.executable().string(), "--heartbeat-url", silent.url() + kKey},
                            program.CronOptions());
  const auto asked = std::chrono::steady_clock::now() + testing::kHangLimit;
  while (silent.Requests().size() < 2 && std::chrono::steady_clock::now() < asked) {
    std::this_thread::sleep_for(50ms);
  }
  ASSERT_EQ(silent.Requests().size(), 2u) << "the final request never came";
  const auto stopped = std::chrono::steady_clock::now();
  EXPECT_EQ(run.Stop(SIGTERM), exit_status::kOk);
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, 4s) << "the 5 s request was waited out";
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
  const SecretGuard guard;
  const auto file = dir / "corvane.prom";
  const std::chrono::system_clock::time_point day(1'700'000'000s);
  // Planted where the file goes: neither read, waited on nor replaced.
  for (const mode_t planted : {mode_t{S_IFIFO | 0600}, mode_t{S_IFCHR | 0600}}) {
    ASSERT_EQ(mknod(file.c_str(), planted, makedev(1, 3)), 0);
    EXPECT_THAT(WriteMetricsFile(file, {0, 4, 3, 2.5s, {}, day}, guard).str(),
                HasSubstr("left as it is"));
    struct stat left {};
    ASSERT_EQ(lstat(file.c_str(), &left), 0);
    EXPECT_EQ(left.st_mode & S_IFMT, planted & S_IFMT);
    std::filesystem::remove(file);
  }
  const mode_t umask_before = umask(077);  // the collector reads it whatever the umask
  EXPECT_TRUE(WriteMetricsFile(file, {76, 0, 0, 1s, {}, day - 60s}, guard).empty());
  umask(umask_before);
  EXPECT_TRUE(WriteMetricsFile(file, {0, 4, 3, 2.5s, {}, day}, guard).empty());
  EXPECT_TRUE(WriteMetricsFile(file, {124, 2, 1, 4s, Own("report"), day + 3600s}, guard).empty());
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
  EXPECT_THAT(WriteMetricsFile(missing, {0, 0, 0, 1s, {}, day}, guard).str(),
              HasSubstr("warning: metrics file " + missing.string() + " not written"));
}

}  // namespace
}  // namespace corvane::run
