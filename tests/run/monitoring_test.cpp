// A run tells monitoring that it ran, and monitoring never changes the run.
#include "run/monitoring.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "base/error.h"
#include "run/report.h"
#include "support/child_process.h"
#include "support/http_recorder.h"
#include "support/temp_dir.h"

namespace corvane::run {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

constexpr std::chrono::seconds kLimit = 2s;
const std::string kKey = "/ping/5f1c2a9e-7d3b-4c8e";

// The run's status, and what the monitor answers (0: nothing, ever).
class HeartbeatRun : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(HeartbeatRun, StartsAndEndsOnceWithinItsLimitAndWarnsWithoutTheKey) {
  const auto [status, answer] = GetParam();
  testing::HttpRecorder monitor(answer);
  const std::string url = "http://corvane:s3cretpass@" + monitor.url().substr(7) + kKey + "?rid=7";
  Heartbeat heartbeat(url, "", kLimit);
  const std::string report = status == 0 ? "" : "corvane-email-handler: run-time error 55: x";
  const auto began = std::chrono::steady_clock::now();
  std::string warnings = heartbeat.Start();
  warnings += heartbeat.Finish({status, 3, 1.5s, report, {}});
  warnings += heartbeat.Finish({});  // sends nothing: the run ended once
  EXPECT_LT(std::chrono::steady_clock::now() - began, 2 * kLimit + 5s);
  const auto requests = monitor.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method + " " + requests[0].target, "POST " + kKey + "/start?rid=7");
  EXPECT_EQ(requests[1].target,
            kKey + (status == 0 ? "" : "/" + std::to_string(status)) + "?rid=7");
  EXPECT_EQ(requests[1].body, "exit status " + std::to_string(status) +
                                  "\nalerts sent 3\nduration 1.500 s\n" +
                                  (report.empty() ? "" : report + "\n"));
  EXPECT_EQ(std::count(warnings.begin(), warnings.end(), '\n'), answer == 200 ? 0 : 2);
  if (answer != 200) {
    EXPECT_THAT(warnings, HasSubstr("warning: heartbeat to 127.0.0.1:"));
  }
  EXPECT_THAT(warnings + MaskSecrets(url, heartbeat.Secrets()),
              Not(::testing::AnyOf(HasSubstr("5f1c"), HasSubstr("s3cret"))));
}
INSTANTIATE_TEST_SUITE_P(StatusAndAnswer, HeartbeatRun,
                         ::testing::Values(std::pair{0, 200}, std::pair{76, 200},
                                           std::pair{124, 500}, std::pair{143, 0}));

TEST(MonitorSettings, TakesTheOptionOverTheEnvironmentAndRefusesOtherSchemesUnshown) {
  setenv("CORVANE_HEARTBEAT_URL", "https://hc.example/ping/k", 1);
  EXPECT_EQ(MonitorSettings::Resolve(std::nullopt, "").heartbeat_url, "https://hc.example/ping/k");
  EXPECT_EQ(MonitorSettings::Resolve("", "").heartbeat_url, "");
  unsetenv("CORVANE_HEARTBEAT_URL");
  EXPECT_THAT([] { MonitorSettings::Resolve("ftp://hc.example/secretkey", std::nullopt); },
              ::testing::ThrowsMessage<Error>(
                  ::testing::AllOf(HasSubstr("--heartbeat-url"), Not(HasSubstr("secretkey")))));
}

// The file as Prometheus's own parser reads it, each family a documented gauge.
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
