#include "window/form1.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/process_end.h"
#include "data/engine_profile.h"
#include "support/form1_probe.h"

namespace corvane::window {

namespace {

// A connection that answers every query with no rows and records what happens to it.
class EmptyConnection final : public data::Connection {
 public:
  class NoRows final : public data::RowSet {
   public:
    bool eof() const override { return true; }
    bool bof() const override { return true; }
    Value Field(std::string_view) const override { return Value::Null(); }
    bool HasColumn(std::string_view) const override { return false; }
    void CheckUpdatable(std::string_view) override {}
    void SetField(std::string_view, Value) override {}
    void Update() override {}
    void MoveNext() override {}
    void Close() override {}
  };

  std::unique_ptr<data::RowSet> OpenRowSet(std::string_view query,
                                           std::span<const Value>) override {
    queries.emplace_back(query);
    return std::make_unique<NoRows>();
  }
  std::unique_ptr<data::PreparedStatement> Prepare(std::string_view sql) override {
    ADD_FAILURE() << "no statement was expected to be prepared: " << sql;
    return nullptr;
  }
  void Close() override { closed = true; }
  std::string EngineName() const override { return "none"; }
  const data::EngineProfile& profile() const override { return data::ProfileForServer("", ""); }

  std::vector<std::string> queries;
  bool closed = false;
};

class NoMail final : public mail::MailComponent {
 public:
  std::unique_ptr<mail::MailMessage> Create() override {
    ADD_FAILURE() << "no message was expected";
    return nullptr;
  }
};

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() { settings_.gTourAlertDays = "7"; }

  // Loads the window; its load handler ends the process, which the test observes.
  int LoadAndObserveEnd() {
    try {
      form_.Load();
    } catch (const ProcessEnded& end) {
      return end.status();
    }
    ADD_FAILURE() << "loading the window did not end the process";
    return -1;
  }

  RunSettings settings_;
  EmptyConnection connection_;
  NoMail mail_;
  FixedClock clock_{DateTime::FromParts(2026, 12, 7, 9, 30, 0)};
  RunTrace trace_;
  Form1 form_{connection_, settings_, mail_, clock_, trace_};
};

TEST_F(Form1Test, LoadingRunsTheTourDropPassThenEndsTheProcessUnseen) {
  EXPECT_EQ(LoadAndObserveEnd(), 0);
  ASSERT_EQ(connection_.queries.size(), 1u);
  EXPECT_NE(connection_.queries[0].find("WHERE EndDate >= '12/7/2026' AND EndDate <= '12/14/2026'"),
            std::string::npos);
  EXPECT_TRUE(form_.loaded());
  EXPECT_FALSE(form_.visible());
  EXPECT_EQ(form_.txtResults().text(), "");  // nothing found, nothing logged
  EXPECT_FALSE(connection_.closed);          // the normal end leaves the connection to the process
}

TEST_F(Form1Test, ControlsHaveTheirDesignedLayout) {
  LoadAndObserveEnd();
  EXPECT_EQ(form_.caption(), "Corvane Email Handler 1.1");
  EXPECT_EQ(Form1::kClientWidthTwips / Form1::kTwipsPerPixel, 729);
  EXPECT_EQ(Form1::kClientHeightTwips / Form1::kTwipsPerPixel, 466);

  const Bounds& log = form_.txtResults().bounds();
  EXPECT_EQ((std::vector<int>{log.left, log.top, log.width, log.height}),
            (std::vector<int>{120, 120, 10695, 6255}));
  EXPECT_EQ(form_.txtResults().tab_index(), 0);
  EXPECT_EQ(form_.btnExit().caption(), "Exit");
  EXPECT_EQ(form_.btnExit().tab_index(), 1);
  EXPECT_EQ(form_.btnClear().caption(), "Clear");
  EXPECT_EQ(form_.btnClear().tab_index(), 2);

  // Margins of 120 left, top and right; Exit's right edge on the log's; 105 between buttons.
  const Bounds& exit = form_.btnExit().bounds();
  const Bounds& clear = form_.btnClear().bounds();
  EXPECT_EQ(Form1::kClientWidthTwips - (log.left + log.width), 120);
  EXPECT_EQ(exit.left + exit.width, log.left + log.width);
  EXPECT_EQ(exit.left - (clear.left + clear.width), 105);
  EXPECT_EQ(exit.top, clear.top);
  EXPECT_GT(exit.top, log.top + log.height);
}

TEST_F(Form1Test, LogAppendsClearsAndStartsAfresh) {
  LoadAndObserveEnd();
  Form1Probe::AppendLine(form_, "first\t\tline\r\n");
  EXPECT_EQ(form_.txtResults().text(), "first\t\tline\r\n");
  Form1Probe::AppendLine(form_, "second\r\n");
  EXPECT_EQ(form_.txtResults().text(), "first\t\tline\r\nsecond\r\n");

  form_.btnClear().Click();
  EXPECT_EQ(form_.txtResults().text(), "");
  form_.btnClear().Click();  // clearing an empty log
  EXPECT_EQ(form_.txtResults().text(), "");
  Form1Probe::AppendLine(form_, "again\r\n");
  EXPECT_EQ(form_.txtResults().text(), "again\r\n");
}

TEST_F(Form1Test, TimerIsIdle) {
  LoadAndObserveEnd();
  Timer& timer = form_.Timer1();
  EXPECT_FALSE(timer.enabled());
  EXPECT_EQ(timer.interval(), std::chrono::milliseconds(1000));
  Form1Probe::AppendLine(form_, "kept\r\n");
  EXPECT_EQ(timer.Advance(std::chrono::seconds(5)), 0);  // disabled: no tick
  timer.set_enabled(true);
  EXPECT_EQ(timer.Advance(std::chrono::milliseconds(2500)), 2);  // one tick a second
  EXPECT_EQ(timer.Advance(std::chrono::milliseconds(500)), 1);
  EXPECT_EQ(form_.txtResults().text(), "kept\r\n");  // and each tick changes nothing
}

TEST_F(Form1Test, ExitClosesTheConnectionThenEndsTheProcess) {
  LoadAndObserveEnd();
  try {
    form_.btnExit().Click();
    ADD_FAILURE() << "Exit did not end the process";
  } catch (const ProcessEnded& end) {
    EXPECT_EQ(end.status(), 0);
  }
  EXPECT_TRUE(connection_.closed);
}

TEST(TextBox, AppendingManyLinesKeepsEveryLineInOrder) {
  TextBox log("txtResults", {}, 0);
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    const std::string line = "line " + std::to_string(i) + "\r\n";
    log.AppendText(line);
    expected += line;
  }
  EXPECT_EQ(log.text(), expected);
}

}  // namespace
}  // namespace corvane::window
