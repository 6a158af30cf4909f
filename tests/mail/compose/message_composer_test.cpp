// The composer against a real MIME parser (Python's email package, policy=default): whatever
// goes in comes back out of the parser unchanged, and the raw message keeps the line rules.
#include "mail/compose/message_composer.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "mail/compose/message_stamp.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace corvane::mail {
namespace {

using testing::DecodeMessageFiles;
using testing::ReceivedMessage;

OutgoingMessage Alert() {
  OutgoingMessage m;
  m.from_address = "alerts@corvanetours.com";
  m.from_name = "Corvane Alert";
  m.recipients.push_back({"dispatch@corvanetours.com", "", RecipientKind::kTo});
  m.subject = "Tour Drop with open invoice";
  m.body = "The following Tour has an open invoice and is about to end:\r\nTour: Alps\r\n";
  return m;
}

ComposedMessage Compose(const OutgoingMessage& m, BccHeader bcc = BccHeader::kOmit) {
  return ComposeMessage(m, {"Tue, 08 Dec 2026 06:33:00 +0100", "<t.1@corvanetours.com>"}, bcc);
}

// Decodes many messages with one run of the parser.
std::vector<ReceivedMessage> DecodeAll(const std::vector<std::string>& raws) {
  testing::TempDir dir;
  std::vector<std::filesystem::path> files;
  for (std::size_t i = 0; i < raws.size(); ++i) {
    files.push_back(dir / (std::to_string(1000 + i) + ".eml"));
    testing::WriteFile(files.back(), raws[i]);
  }
  return DecodeMessageFiles(files);
}

// Every line ends with CR LF, keeps within 998 octets (headers within 78, a quoted-printable
// body within 76) and, for the 7-bit form, holds no byte above 0x7F.
void ExpectLineRules(const std::string& raw, bool seven_bit) {
  bool in_header = true;
  std::size_t start = 0;
  while (start < raw.size()) {
    const std::size_t end = raw.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "last line without CR LF";
    const std::string line = raw.substr(start, end - start);
    EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "bare CR or LF in: " << line;
    EXPECT_LE(line.size(), in_header ? 78u : 998u) << line;
    if (!in_header && raw.find("quoted-printable") != std::string::npos) {
      EXPECT_LE(line.size(), 76u) << line;
    }
    if (seven_bit) {
      for (const char c : line) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << line;
    }
    if (line.empty()) in_header = false;
    start = end + 2;
  }
}

TEST(MessageComposer, ParserReadsBackNamesSubjectsAndBodiesExactly) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  struct Case {
    std::string name, subject, body;
  };
  const std::string long_line(1100, 'x');
  const std::vector<Case> cases = {
      {"Corvane Alert", "Tour Drop with open invoice", "line 1\r\nline 2\r\n"},
      {"Fleet, Maintenance (Hexmile)", "New Hexmile Ticket - ", "Description:\r\n\r\n"},
      {"O'Brien \"Bus\" \\ Depot", "a  b\tc", "bare LF\nbare CR\rCR LF\r\n"},
      {"Jörg Müller", "Bus 12 – Bremsen prüfen", "Grüße, € 25,00\r\n"},
      {"  spaced  name ", "  leading and trailing  ", "trailing blanks   \r\ntab\t\r\n"},
      {"=?utf-8?q?not_encoded?=", "=?utf-8?q?literal?= text", "= sign =3D\r\n"},
      {"", "", ""},
      {"Zoë", std::string(120, 'S') + " " + std::string(30, 'w'), long_line + "\r\n"},
      {"名前", "日本語の件名がとても長い場合でも正しく折り返されるべきです。日本語の件名", "x"},
      {"a", "dots", ".\r\n..\r\n.\r\nFrom here\r\nFrom the depot\r\n\n.\n"},
      {"b", "no final line break", "end without CR LF"},
      {"c", "control\x01text", std::string("nul\0byte\r\n", 10)},
      {"d", "Subject words " + std::string(10, ' ') + "gap", "\r\n\r\n\r\n"},
  };
  std::vector<std::string> raws;
  for (const Case& c : cases) {
    OutgoingMessage m = Alert();
    m.from_name = c.name;
    m.subject = c.subject;
    m.body = c.body;
    raws.push_back(Compose(m).seven_bit);
  }
  const std::vector<ReceivedMessage> decoded = DecodeAll(raws);
  ASSERT_EQ(decoded.size(), cases.size());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + "\n" + raws[i]);
    const ReceivedMessage& r = decoded[i];
    EXPECT_EQ(r.defects, std::vector<std::string>{});
    EXPECT_EQ(r.from_name, cases[i].name);
    EXPECT_EQ(r.from_address, "alerts@corvanetours.com");
    ASSERT_EQ(r.to.size(), 1u);
    EXPECT_EQ(r.to[0].address, "dispatch@corvanetours.com");
    EXPECT_EQ(r.subject, cases[i].subject);
    EXPECT_EQ(r.body, cases[i].body);
    EXPECT_EQ(r.content_type, "text/plain");
    EXPECT_EQ(r.charset, "utf-8");
    EXPECT_EQ(r.transfer_encoding, "quoted-printable");
    ExpectLineRules(raws[i], true);
  }
}

TEST(MessageComposer, WritesTheStandardHeadersInOrder) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  const std::string raw = Compose(Alert()).seven_bit;
  EXPECT_EQ(raw.substr(0, raw.find("\r\n\r\n") + 4),
            "Date: Tue, 08 Dec 2026 06:33:00 +0100\r\n"
            "From: Corvane Alert <alerts@corvanetours.com>\r\n"
            "To: dispatch@corvanetours.com\r\n"
            "Subject: Tour Drop with open invoice\r\n"
            "Message-ID: <t.1@corvanetours.com>\r\n"
            "MIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=utf-8\r\n"
            "Content-Transfer-Encoding: quoted-printable\r\n\r\n");
  const ReceivedMessage r = testing::DecodeMessage(raw);
  EXPECT_EQ(r.date, "Tue, 08 Dec 2026 06:33:00 +0100");
  EXPECT_EQ(r.message_id, "<t.1@corvanetours.com>");
}

TEST(MessageComposer, RecipientKindsGoToTheirHeadersAndBccOnlyIntoPickupFiles) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  OutgoingMessage m = Alert();
  m.recipients = {{"a@x.example", "Anna A.", RecipientKind::kTo},
                  {"b@x.example", "Bernd", RecipientKind::kTo},
                  {"c@x.example", "Chef, Fleet", RecipientKind::kCc},
                  {"d@x.example", "Hidden", RecipientKind::kBcc}};
  const std::vector<ReceivedMessage> r =
      DecodeAll({Compose(m).seven_bit, Compose(m, BccHeader::kWrite).seven_bit});
  using F = testing::MailboxField;
  EXPECT_EQ(r[0].to, (std::vector<F>{{"Anna A.", "a@x.example"}, {"Bernd", "b@x.example"}}));
  EXPECT_EQ(r[0].cc, (std::vector<F>{{"Chef, Fleet", "c@x.example"}}));
  EXPECT_TRUE(r[0].bcc.empty());
  EXPECT_EQ(r[0].raw.find("d@x.example"), std::string::npos);
  EXPECT_EQ(r[1].bcc, (std::vector<F>{{"Hidden", "d@x.example"}}));

  OutgoingMessage blind = Alert();
  blind.recipients = {{"d@x.example", "", RecipientKind::kBcc}};
  const std::string raw = Compose(blind).seven_bit;
  EXPECT_NE(raw.find("\r\nTo: undisclosed-recipients:;\r\n"), std::string::npos);
  EXPECT_EQ(testing::DecodeMessage(raw).defects, std::vector<std::string>{});
}

TEST(MessageComposer, ManyRecipientsFoldTheirHeader) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  OutgoingMessage m = Alert();
  m.recipients.clear();
  std::vector<testing::MailboxField> expected;
  for (int i = 0; i < 12; ++i) {
    const std::string address = "driver" + std::to_string(i) + "@fleet.corvanetours.com";
    m.recipients.push_back({address, "Driver Nr " + std::to_string(i), RecipientKind::kTo});
    expected.push_back({"Driver Nr " + std::to_string(i), address});
  }
  const std::string raw = Compose(m).seven_bit;
  ExpectLineRules(raw, true);
  EXPECT_EQ(testing::DecodeMessage(raw).to, expected);
}

TEST(MessageComposer, WithoutSevenBitAPlainBodyTravelsUnencoded) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  OutgoingMessage m = Alert();
  m.seven_bit = false;
  ComposedMessage ascii = Compose(m);
  EXPECT_TRUE(ascii.eight_bit.empty());
  EXPECT_NE(ascii.seven_bit.find("Content-Transfer-Encoding: 7bit\r\n\r\n" + m.body),
            std::string::npos);

  m.body = "Grüße\r\n";
  const ComposedMessage utf8 = Compose(m);
  EXPECT_NE(utf8.eight_bit.find("Content-Transfer-Encoding: 8bit\r\n\r\nGrüße\r\n"),
            std::string::npos);
  const std::vector<ReceivedMessage> r = DecodeAll({utf8.eight_bit, utf8.seven_bit});
  EXPECT_EQ(r[0].body, m.body);
  EXPECT_EQ(r[1].body, m.body);
  EXPECT_EQ(r[1].transfer_encoding, "quoted-printable");
  ExpectLineRules(utf8.eight_bit, false);

  // A body that could not survive unencoded is quoted-printable whatever the setting says.
  for (const std::string& body :
       std::vector<std::string>{"bare\nLF\r\n", "no end", std::string(999, 'x') + "\r\n"}) {
    m.body = body;
    const ComposedMessage c = Compose(m);
    EXPECT_TRUE(c.eight_bit.empty()) << body;
    EXPECT_NE(c.seven_bit.find("quoted-printable"), std::string::npos) << body;
  }
}

TEST(MessageComposer, DatesAndMessageIdsFollowTheirSyntax) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  std::tm winter{};
  winter.tm_year = 126, winter.tm_mon = 11, winter.tm_mday = 8, winter.tm_wday = 2;
  winter.tm_hour = 6, winter.tm_min = 3, winter.tm_sec = 9, winter.tm_gmtoff = -5 * 3600 - 1800;
  EXPECT_EQ(FormatMailDate(winter), "Tue, 08 Dec 2026 06:03:09 -0530");
  winter.tm_gmtoff = 3600;
  EXPECT_EQ(FormatMailDate(winter), "Tue, 08 Dec 2026 06:03:09 +0100");

  UniqueTokens tokens;
  std::set<std::string> seen;
  for (int i = 0; i < 10000; ++i) {
    const std::string token = tokens.Next();
    ASSERT_EQ(token.find_first_not_of("0123456789abcdefT."), std::string::npos) << token;
    ASSERT_TRUE(seen.insert(token).second) << token;
  }
  EXPECT_EQ(MakeMessageId("a.b", "alerts@corvanetours.com"), "<a.b@corvanetours.com>");
  const ReceivedMessage r = testing::DecodeMessage(
      ComposeMessage(Alert(), {MailDateNow(), MakeMessageId(tokens.Next(), "x@corvanetours.com")},
                     BccHeader::kOmit)
          .seven_bit);
  EXPECT_EQ(r.defects, std::vector<std::string>{});
  EXPECT_TRUE(r.message_id.ends_with("@corvanetours.com>")) << r.message_id;
}

}  // namespace
}  // namespace corvane::mail
