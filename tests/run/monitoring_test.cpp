// A run tells monitoring that it ran, and monitoring never changes the run.
#include "run/monitoring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <map>
#include <sstream>

#include "base/error.h"
#include "run/report.h"
#include "support/http_recorder.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace corvane::run {
namespace {

using ::corvane::testing::HttpRecorder;
using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

constexpr std::chrono::seconds kLimit = 2s;
const std::string kKey = "/ping/5f1c2a9e-7d3b-4c8e";

class HeartbeatEnding : public ::testing::TestWithParam<int> {};

TEST_P(HeartbeatEnding, StartsThenPostsTheStatusAndTheSummaryOnce) {
  HttpRecorder monitor;
  Heartbeat heartbeat(monitor.url() + kKey + "?rid=7", "", kLimit);
  const int status = GetParam();
  const std::string report =
      status == 0 ? "" : "corvane-email-handler: run-time error 55: mail: PWD=**** [in Main]";
  EXPECT_EQ(heartbeat.Start(), "");
  EXPECT_EQ(heartbeat.Finish({status, 3, 1.5s, report, {}}), "");
  EXPECT_EQ(heartbeat.Finish({status, 3, 1.5s, report, {}}), "");  // sends nothing
  const auto requests = monitor.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].target, kKey + "/start?rid=7");
  EXPECT_EQ(requests[1].target,
            kKey + (status == 0 ? "" : "/" + std::to_string(status)) + "?rid=7");
  EXPECT_EQ(requests[1].body, "exit status " + std::to_string(status) +
                                  "\nalerts sent 3\nduration 1.500 s\n" +
                                  (report.empty() ? "" : report + "\n"));
}
INSTANTIATE_TEST_SUITE_P(Statuses, HeartbeatEnding, ::testing::Values(0, 76, 124));

class FailingMonitor : public ::testing::TestWithParam<HttpRecorder::Answer> {};

TEST_P(FailingMonitor, CostsOneWarningWithinTheLimitShowingNoKey) {
  HttpRecorder monitor(GetParam());
  const std::string url = "http://corvane:s3cretpass@" + monitor.url().substr(7) + kKey;
  Heartbeat heartbeat(url, "", kLimit);
  const auto began = std::chrono::steady_clock::now();
  const std::string warning = heartbeat.Finish({76, 0, 1s, "", {}});
  EXPECT_LT(std::chrono::steady_clock::now() - began, 2 * kLimit + 5s);
  EXPECT_THAT(warning, HasSubstr("warning: heartbeat to 127.0.0.1:"));
  EXPECT_EQ(warning.find('\n'), warning.size() - 1);
  EXPECT_THAT(warning, Not(HasSubstr("5f1c2a9e")));
  EXPECT_THAT(MaskSecrets(url, heartbeat.Secrets()), Not(HasSubstr("s3cretpass")));
  EXPECT_THAT(MaskSecrets("/5f1c2a9e-7d3b-4c8e", heartbeat.Secrets()), Not(HasSubstr("5f1c")));
  EXPECT_EQ(monitor.Requests().size(), 1u);
}
INSTANTIATE_TEST_SUITE_P(Answers, FailingMonitor,
                         ::testing::Values(HttpRecorder::Answer::kServerError,
                                           HttpRecorder::Answer::kNever),
                         [](const auto& p) { return p.index == 0 ? "ServerError" : "Never"; });

TEST(MonitorSettings, TakesTheOptionOverTheEnvironmentAndRefusesOtherSchemes) {
  setenv("CORVANE_HEARTBEAT_URL", "https://hc.example/ping/k", 1);
  setenv("CORVANE_METRICS_FILE", "/var/lib/corvane.prom", 1);
  MonitorSettings settings = MonitorSettings::Resolve(std::nullopt, std::nullopt);
  EXPECT_EQ(settings.heartbeat_url, "https://hc.example/ping/k");
  EXPECT_EQ(settings.metrics_file, "/var/lib/corvane.prom");
  settings = MonitorSettings::Resolve("http://127.0.0.1:8/k", "");
  EXPECT_EQ(settings.heartbeat_url, "http://127.0.0.1:8/k");
  EXPECT_EQ(settings.metrics_file, "");
  try {
    MonitorSettings::Resolve("ftp://hc.example/secretkey", std::nullopt);
    ADD_FAILURE() << "an ftp URL was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.kind(), ErrorKind::kSettings);
    EXPECT_THAT(e.description(), HasSubstr("--heartbeat-url"));
    EXPECT_THAT(e.description(), Not(HasSubstr("secretkey")));
  }
  unsetenv("CORVANE_HEARTBEAT_URL");
  unsetenv("CORVANE_METRICS_FILE");
}

// The file as Prometheus's own parser reads it: each sample's name and value.
std::map<std::string, double> ParseMetrics(const std::filesystem::path& file) {
  const auto result = corvane::testing::Run(
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
  CORVANE_REQUIRE_SERVICE((corvane::testing::ServiceCheck{
      corvane::testing::Run({"/usr/bin/python3", "-c", "import prometheus_client"}).exit_status ==
          0,
      "python3-prometheus-client"}));
  corvane::testing::TempDir dir;
  const auto file = dir / "corvane.prom";
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);  // planted: neither read nor waited on
  const std::chrono::system_clock::time_point day(1'700'000'000s);
  EXPECT_EQ(WriteMetricsFile(file, {76, 0, 1s, "", day - 60s}), "");
  EXPECT_EQ(WriteMetricsFile(file, {0, 3, 2.5s, "", day}), "");
  EXPECT_EQ(WriteMetricsFile(file, {124, 1, 4s, "report", day + 3600s}), "");
  EXPECT_EQ(ParseMetrics(file), (std::map<std::string, double>{
                                    {"corvane_run_end_timestamp_seconds", 1'700'003'600},
                                    {"corvane_run_last_success_timestamp_seconds", 1'700'000'000},
                                    {"corvane_run_exit_status", 124},
                                    {"corvane_run_alerts_sent", 1},
                                    {"corvane_run_duration_seconds", 4}}));
  struct stat info {};
  ASSERT_EQ(stat(file.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0644u);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
  const auto missing = dir / "missing" / "corvane.prom";
  EXPECT_THAT(WriteMetricsFile(missing, {0, 0, 1s, "", day}),
              HasSubstr("warning: metrics file " + missing.string() + " not written"));
}

}  // namespace
}  // namespace corvane::run
