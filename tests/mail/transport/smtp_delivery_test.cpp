// Delivery through the real component to an aiosmtpd server on 127.0.0.1 that keeps the bytes:
// what a MIME parser reads there is what was sent.
#include <gtest/gtest.h>

#include "delivery_helpers.h"
#include "mail/send_msg.h"
#include "support/smtp_server.h"

namespace corvane::mail {
namespace {

using testing::ReceivedMessage;
using testing::SmtpServer;
using testing::SmtpServerOptions;

TEST(SmtpDelivery, TheServerReceivesExactlyWhatWasSent) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServer server;
  DeliveringMailComponent component("/nonexistent", {});
  TestMessage m;
  m.from_name = "Müller, Fleet \"Desk\"";
  m.subject = "Bus 7 – Prüfung fällig " + std::string(80, '!');
  m.body = ".\r\n..\r\nline\n.\nbare LF, then \\n.\\n\rbare CR\r\n" + std::string(1200, 'z') +
           "\r\nGrüße\r\n.";
  EXPECT_EQ(SendOne(component, server.host_port(), m), 250);

  const std::vector<ReceivedMessage> received = server.Messages();
  ASSERT_EQ(received.size(), 1u);
  const ReceivedMessage& r = received[0];
  EXPECT_EQ(r.envelope_from, m.from);
  EXPECT_EQ(r.recipients, std::vector<std::string>{m.to});
  EXPECT_EQ(r.from_name, m.from_name);
  EXPECT_EQ(r.from_address, m.from);
  EXPECT_EQ(r.to, (std::vector<testing::MailboxField>{{"", m.to}}));
  EXPECT_EQ(r.subject, m.subject);
  EXPECT_EQ(r.body, m.body);
  EXPECT_EQ(r.defects, std::vector<std::string>{});
  EXPECT_FALSE(r.tls);
}

TEST(SmtpDelivery, SendMsgDeliversOneMessageToItsOneRecipient) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServer server;
  DeliveringMailComponent component("/nonexistent", {});
  const std::string server_text = server.host_port();
  const MailSender sender(component, server_text);
  sender.SendMsg("alerts@corvanetours.com", "Corvane Alert", "dispatch@corvanetours.com",
                 "Tour Drop with open invoice", "Tour: Alps\r\nBalance: -$25.00\r\n");
  sender.SendMsg("fleet@corvanetours.com", "Corvane Fleet", "driver@corvanetours.com",
                 "New Hexmile Ticket - Bus 12", "Ticket ID: 7\r\n");
  const std::vector<ReceivedMessage> r = server.Messages();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].recipients, std::vector<std::string>{"dispatch@corvanetours.com"});
  EXPECT_EQ(r[0].body, "Tour: Alps\r\nBalance: -$25.00\r\n");
  EXPECT_EQ(r[1].recipients, std::vector<std::string>{"driver@corvanetours.com"});
  EXPECT_EQ(r[1].from_name, "Corvane Fleet");
  EXPECT_NE(r[0].message_id, r[1].message_id);
}

TEST(SmtpDelivery, ManyMessagesToOneServerShareOneConnection) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServer server;
  {
    DeliveringMailComponent component("/nonexistent", {});
    for (int i = 0; i < 40; ++i) {
      TestMessage m;
      m.subject = "Alert " + std::to_string(i);
      SendOne(component, server.host_port(), m);
    }
  }
  const std::vector<ReceivedMessage> r = server.Messages();
  ASSERT_EQ(r.size(), 40u);
  EXPECT_EQ(r[39].subject, "Alert 39");
  EXPECT_EQ(server.Connections(), 1u);
}

TEST(SmtpDelivery, UnsafeTextIsRefusedBeforeAnythingReachesTheServer) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServer server;
  DeliveringMailComponent component("/nonexistent", {});
  const std::string injected = "\r\nRCPT TO:<victim@example.org>\r\nBcc: victim@example.org";
  std::vector<TestMessage> attempts(8);
  attempts[0].from += injected;
  attempts[1].to += injected;
  attempts[2].from_name += injected;
  attempts[3].subject += injected;
  attempts[4].subject += "\nBcc: victim@example.org";
  attempts[5].to = "victim@example.org>, <dispatch@corvanetours.com";
  attempts[6].to = "";    // bad data: no recipient
  attempts[7].from = "";  // bad data: no sender
  for (const TestMessage& m : attempts) {
    const Error error = ExpectMailError([&] { SendOne(component, server.host_port(), m); });
    EXPECT_EQ(error.number(), errnum::kInvalidProcedureCall) << error.what();
    EXPECT_EQ(std::string(error.what()).find_first_of("\r\n"), std::string::npos);
  }
  ExpectMailError([&] { SendOne(component, "", {}); });  // bad data: no server
  EXPECT_EQ(server.Commands(), std::vector<std::string>{});
  EXPECT_TRUE(server.Messages().empty());
}

TEST(SmtpDelivery, CcAndBccRecipientsAreInTheEnvelopeAndBccNotInTheHeaders) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServer server;
  DeliveringMailComponent component("/nonexistent", {});
  std::unique_ptr<MailMessage> message = component.Create();
  message->SetFromAddress("alerts@corvanetours.com");
  message->AddRecipient("to@corvanetours.com", PlainArg{"Dispatch"}, PlainArg{0LL});
  message->AddRecipient("cc@corvanetours.com", PlainArg{0LL}, PlainArg{1LL});
  message->AddRecipient("bcc@corvanetours.com", PlainArg{"Secret"}, PlainArg{2LL});
  message->SetBody("x\r\n");
  message->Send(server.host_port(), PlainArg{0LL});
  const ReceivedMessage r = server.Messages().at(0);
  EXPECT_EQ(r.recipients, (std::vector<std::string>{"to@corvanetours.com", "cc@corvanetours.com",
                                                    "bcc@corvanetours.com"}));
  EXPECT_EQ(r.to, (std::vector<testing::MailboxField>{{"Dispatch", "to@corvanetours.com"}}));
  EXPECT_EQ(r.cc, (std::vector<testing::MailboxField>{{"", "cc@corvanetours.com"}}));
  EXPECT_EQ(r.raw.find("bcc@"), std::string::npos);
  EXPECT_EQ(r.from_name, "");
}

TEST(SmtpDelivery, SevenBitOffSends8bitOnlyToServersAnnouncing8BitMime) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServerOptions plain_only;
  plain_only.announce_8bitmime = false;
  SmtpServer with_8bit;
  SmtpServer without_8bit(plain_only);
  DeliveringMailComponent component("/nonexistent", {});
  TestMessage m;
  m.body = "Grüße aus dem Depot\r\n";
  m.seven_bit = false;
  SendOne(component, with_8bit.host_port(), m);
  SendOne(component, without_8bit.host_port(), m);
  m.seven_bit = true;
  SendOne(component, with_8bit.host_port(), m);
  const std::vector<ReceivedMessage> a = with_8bit.Messages();
  const std::vector<ReceivedMessage> b = without_8bit.Messages();
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(a[0].transfer_encoding, "8bit");
  EXPECT_EQ(b[0].transfer_encoding, "quoted-printable");
  EXPECT_EQ(a[1].transfer_encoding, "quoted-printable");
  for (const ReceivedMessage* r : {&a[0], &a[1], &b[0]}) EXPECT_EQ(r->body, m.body);
}

TEST(SmtpDelivery, TextThatIsNotUtf8ArrivesConvertedFromWindows1252) {
  CORVANE_REQUIRE_SERVICE(testing::SmtpServerAvailable());
  SmtpServer server;
  DeliveringMailComponent component("/nonexistent", {});
  TestMessage m;
  m.from_name = "Caf\xE9";
  m.subject = "\x93Tour\x94 \x80 25";
  m.body =
      "Stra\xDF"
      "e\r\n";
  SendOne(component, server.host_port(), m);
  const ReceivedMessage r = server.Messages().at(0);
  EXPECT_EQ(r.from_name, "Café");
  EXPECT_EQ(r.subject, "“Tour” € 25");
  EXPECT_EQ(r.body, "Straße\r\n");
}

}  // namespace
}  // namespace corvane::mail
