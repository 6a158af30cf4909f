// Shared by the delivery tests: one message through the real component, and error capture.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/error.h"
#include "mail/delivering_component.h"

namespace corvane::mail {

struct TestMessage {
  std::string from = "alerts@corvanetours.com";
  std::string from_name = "Corvane Alert";
  std::string to = "dispatch@corvanetours.com";
  std::string subject = "Tour Drop with open invoice";
  std::string body = "The following Tour has an open invoice and is about to end:\r\n";
  bool seven_bit = true;
  bool opportunistic_tls = true;
  PlainArg time_limit{0LL};
};

// Makes, fills and sends one message object; returns what Send gives back.
inline long SendOne(MailComponent& component, const std::string& server,
                    const TestMessage& m = {}) {
  std::unique_ptr<MailMessage> message = component.Create();
  message->SetSevenBit(m.seven_bit);
  message->SetOpportunisticTls(m.opportunistic_tls);
  message->SetFromAddress(m.from);
  message->SetFromName(m.from_name);
  message->AddRecipient(m.to, PlainArg{0LL}, PlainArg{0LL});
  message->SetSubject(m.subject);
  message->SetBody(m.body);
  return message->Send(server, m.time_limit);
}

// Runs `action`, expects an Error of kind kMail and returns it.
template <typename Action>
Error ExpectMailError(Action action) {
  try {
    action();
  } catch (const Error& error) {
    EXPECT_EQ(error.kind(), ErrorKind::kMail) << error.what();
    return error;
  }
  ADD_FAILURE() << "no error";
  return Error(ErrorKind::kMail, 0, "");
}

}  // namespace corvane::mail
