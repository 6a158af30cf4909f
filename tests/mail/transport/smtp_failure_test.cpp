// Every way a send can fail is an Error of kind kMail carrying curl's code and the server's
// reply; none is a value nobody reads. Faults come from postfix's smtp-sink.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "delivery_helpers.h"
#include "support/loopback_socket.h"
#include "support/smtp_server.h"

namespace corvane::mail {
namespace {

using testing::SmtpSink;

struct Fault {
  std::vector<std::string> sink_options;
  std::vector<CURLcode> codes;  // what libcurl may report
  std::string reply;            // in the error's description
};

TEST(SmtpFailures, RefusalsAndDroppedConnectionsAreErrorsWithTheServersReply) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpSinkAvailable());
  const std::vector<Fault> faults = {
      {{"-f", "MAIL"}, {CURLE_SEND_ERROR}, "500 5.3.0"},       // sender rejected
      {{"-f", "RCPT"}, {CURLE_SEND_ERROR}, "500 5.3.0"},       // recipient rejected, 5xx
      {{"-r", "RCPT"}, {CURLE_SEND_ERROR}, "450 4.3.0"},       // recipient deferred, 4xx
      {{"-Q", "RCPT"}, {CURLE_SEND_ERROR}, "421"},             // 421 and the connection closed
      {{"-f", "."}, {CURLE_WEIRD_SERVER_REPLY}, "500 5.3.0"},  // refused at the final dot
      {{"-q", "."}, {CURLE_RECV_ERROR}, ""},                   // dropped before the reply
      // 550 right after 354, then closed: depending on timing libcurl reads the 550 or fails
      // writing the body into the closed connection first.
      {{"-A", "0"}, {CURLE_WEIRD_SERVER_REPLY, CURLE_SEND_ERROR}, ""},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.sink_options[0] + " " + fault.sink_options[1]);
    SmtpSink sink(fault.sink_options);
    DeliveringMailComponent component("/nonexistent", {});
    const Error error = ExpectMailError([&] { SendOne(component, sink.host_port()); });
    EXPECT_NE(std::find(fault.codes.begin(), fault.codes.end(), error.number()), fault.codes.end())
        << error.what();
    EXPECT_NE(error.description().find(fault.reply), std::string::npos) << error.what();
    EXPECT_NE(error.description().find(sink.host_port()), std::string::npos) << error.what();
  }
}

TEST(SmtpFailures, ARefusedConnectionIsAnError) {
  DeliveringMailComponent component("/nonexistent", {});
  const testing::LoopbackSocket refusing(testing::LoopbackSocket::Mode::kRefusing);
  const Error error = ExpectMailError([&] { SendOne(component, refusing.host_port()); });
  EXPECT_EQ(error.number(), CURLE_COULDNT_CONNECT) << error.what();
}

TEST(SmtpFailures, AHungServerIsCutOffAtTheSendsTimeLimit) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpSinkAvailable());
  // Waits 30 s before answering DATA, and would then accept: a time-out is the limit's doing.
  SmtpSink sink({"-w", "30"});
  DeliveringMailComponent component("/nonexistent", {});
  TestMessage m;
  m.time_limit = PlainArg{1LL};
  const Error error = ExpectMailError([&] { SendOne(component, sink.host_port(), m); });
  EXPECT_EQ(error.number(), CURLE_OPERATION_TIMEDOUT) << error.what();
}

TEST(SmtpFailures, AfterAFailureTheNextMessageToTheSameServerGoesThrough) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  testing::SmtpServer server;
  DeliveringMailComponent component("/nonexistent", {});
  TestMessage refused;
  refused.to = "refused@corvanetours.com";
  const Error error = ExpectMailError([&] { SendOne(component, server.host_port(), refused); });
  EXPECT_NE(error.description().find("550 5.1.1 <refused@corvanetours.com>"), std::string::npos)
      << error.what();
  EXPECT_EQ(SendOne(component, server.host_port()), 250);
  ASSERT_EQ(server.Messages().size(), 1u);
  EXPECT_EQ(server.Messages()[0].recipients, std::vector<std::string>{"dispatch@corvanetours.com"});
}

}  // namespace
}  // namespace corvane::mail
