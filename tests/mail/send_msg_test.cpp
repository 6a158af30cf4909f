// SendMsg's calls on the mail boundary: their exact order, one object per call, text forms,
// and where a failure stops it.
#include "mail/send_msg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/date_time.h"
#include "base/error.h"
#include "support/recording_mail.h"

namespace corvane::mail {
namespace {

using testing::MailCall;
using testing::RecordingMailComponent;

const std::string kServer = "mail.corvanetours.com";

std::vector<MailCall> Sequence(int object, const std::string& from, const std::string& name,
                               const std::string& to, const std::string& subject,
                               const std::string& body) {
  return {{object, "Create", {}},
          {object, "SetSevenBit", {"true"}},
          {object, "SetOpportunisticTls", {"true"}},
          {object, "SetFromAddress", {from}},
          {object, "SetFromName", {name}},
          {object, "AddRecipient", {to, "int:0", "int:0"}},
          {object, "SetSubject", {subject}},
          {object, "SetBody", {body}},
          {object, "Send", {kServer, "int:0"}},
          {object, "Release", {}}};
}

TEST(SendMsg, OneCallMakesTheExactSequenceOnOneObject) {
  RecordingMailComponent component;
  const MailSender sender(component, kServer);
  sender.SendMsg("alerts@corvanetours.com", "Corvane Alert", "dispatch@corvanetours.com",
                 "Tour Drop with open invoice", "line 1\r\nline 2\r\n");
  EXPECT_EQ(component.calls(),
            Sequence(1, "alerts@corvanetours.com", "Corvane Alert", "dispatch@corvanetours.com",
                     "Tour Drop with open invoice", "line 1\r\nline 2\r\n"));
  EXPECT_EQ(component.live_objects(), 0);
}

TEST(SendMsg, TwoCallsUseTwoObjectsAndTheSecondHasOnlyItsOwnRecipient) {
  RecordingMailComponent component;
  const MailSender sender(component, kServer);
  sender.SendMsg("f@x.example", "F", "first@x.example", "S", "B");
  sender.SendMsg("f@x.example", "F", "second@x.example", "S", "B");
  std::vector<MailCall> expected = Sequence(1, "f@x.example", "F", "first@x.example", "S", "B");
  const std::vector<MailCall> second =
      Sequence(2, "f@x.example", "F", "second@x.example", "S", "B");
  expected.insert(expected.end(), second.begin(), second.end());
  EXPECT_EQ(component.calls(), expected);
  EXPECT_EQ(component.Messages()[1].to, std::vector<std::string>{"second@x.example"});
}

TEST(SendMsg, NumbersDatesAndEmptyValuesArriveAsTheirTextForms) {
  RecordingMailComponent component;
  const MailSender sender(component, kServer);
  sender.SendMsg(Value(), 42, 2.5, DateTime::FromParts(2026, 12, 7, 14, 5, 0),
                 DateTime::FromParts(2026, 12, 7));
  EXPECT_EQ(component.calls(), Sequence(1, "", "42", "2.5", "12/7/2026 2:05:00 PM", "12/7/2026"));
}

TEST(SendMsg, TheServerIsReadAtEachSend) {
  RecordingMailComponent component;
  std::string server = "first.example";
  const MailSender sender(component, server);
  sender.SendMsg("f@x.example", "F", "t@x.example", "S", "B");
  server = "pickup:outbox";
  sender.SendMsg("f@x.example", "F", "t@x.example", "S", "B");
  const auto messages = component.Messages();
  EXPECT_EQ(messages[0].sent_through, std::vector<std::string>{"first.example"});
  EXPECT_EQ(messages[1].sent_through, std::vector<std::string>{"pickup:outbox"});
}

TEST(SendMsg, TheSendResultIsNotRead) {
  RecordingMailComponent component;
  component.SetSendResult(554);
  const MailSender sender(component, kServer);
  EXPECT_NO_THROW(sender.SendMsg("f@x.example", "F", "t@x.example", "S", "B"));
}

TEST(SendMsg, ANullStopsAtItsOwnStepWithNothingSentAndTheObjectReleased) {
  const std::vector<std::string> steps = {"SetFromAddress", "SetFromName", "AddRecipient",
                                          "SetSubject", "SetBody"};
  for (std::size_t null_at = 0; null_at < steps.size(); ++null_at) {
    SCOPED_TRACE(steps[null_at]);
    std::vector<Value> args = {"f@x.example", "F", "t@x.example", "S", "B"};
    args[null_at] = Value::Null();
    RecordingMailComponent component;
    const MailSender sender(component, kServer);
    try {
      sender.SendMsg(args[0], args[1], args[2], args[3], args[4]);
      ADD_FAILURE() << "no error";
    } catch (const Error& error) {
      EXPECT_EQ(error.kind(), ErrorKind::kValue);
      EXPECT_EQ(error.number(), errnum::kInvalidUseOfNull);
    }
    // Create and the two settings, the steps before the Null, then the release.
    const std::vector<MailCall>& calls = component.calls();
    ASSERT_EQ(calls.size(), 3 + null_at + 1);
    EXPECT_EQ(calls[2 + null_at].operation,
              null_at == 0 ? "SetOpportunisticTls" : steps[null_at - 1]);
    EXPECT_EQ(calls.back().operation, "Release");
    EXPECT_TRUE(component.Messages()[0].sent_through.empty());
    EXPECT_EQ(component.live_objects(), 0);
  }
}

TEST(SendMsg, AFailingCallStopsThereAndTheObjectIsReleased) {
  for (const char* step : {"Create", "SetSevenBit", "SetOpportunisticTls", "SetFromAddress",
                           "AddRecipient", "SetBody", "Send"}) {
    SCOPED_TRACE(step);
    RecordingMailComponent component;
    component.FailAt(step);
    const MailSender sender(component, kServer);
    EXPECT_THROW(sender.SendMsg("f@x.example", "F", "t@x.example", "S", "B"), Error);
    const std::vector<MailCall>& calls = component.calls();
    const std::vector<MailCall> all = Sequence(1, "f@x.example", "F", "t@x.example", "S", "B");
    std::size_t failed = 0;
    while (all[failed].operation != step) ++failed;
    std::vector<MailCall> expected(all.begin(), all.begin() + static_cast<long>(failed) + 1);
    if (std::string(step) != "Create") expected.push_back({1, "Release", {}});
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(component.live_objects(), 0);
  }
}

}  // namespace
}  // namespace corvane::mail
