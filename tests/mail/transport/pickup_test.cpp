// The pickup folder: one complete .eml file per message, written atomically, nothing left
// behind by a failed write.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "delivery_helpers.h"
#include "mail/send_msg.h"
#include "support/smtp_server.h"
#include "support/temp_dir.h"

namespace corvane::mail {
namespace {

namespace fs = std::filesystem;
using testing::ReceivedMessage;

std::vector<fs::path> FilesIn(const fs::path& folder) {
  std::vector<fs::path> files;
  if (!fs::exists(folder)) return files;
  for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

TEST(PickupFolder, EachMessageBecomesOneCompleteFileBesideTheProgram) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  testing::TempDir program;
  DeliveringMailComponent component(program.path(), {});
  const std::string server = "pickup:outbox";  // relative to the program folder, made if missing
  const MailSender sender(component, server);
  sender.SendMsg("alerts@corvanetours.com", "Corvane Alert", "dispatch@corvanetours.com",
                 "Tour Drop with open invoice", "Tour: Alps\r\n.\r\nGrüße\n");
  sender.SendMsg("alerts@corvanetours.com", "Corvane Alert", "second@corvanetours.com", "Second",
                 "B\r\n");
  TestMessage m;
  EXPECT_EQ(SendOne(component, server, m), 0);  // no server, no reply code

  const std::vector<fs::path> files = FilesIn(program / "outbox");
  ASSERT_EQ(files.size(), 3u);
  for (const fs::path& file : files) {
    EXPECT_EQ(file.extension(), ".eml");
    EXPECT_NE(file.filename().string().front(), '.');
  }
  std::vector<ReceivedMessage> r = testing::DecodeMessageFiles(files);
  std::sort(r.begin(), r.end(), [](const auto& a, const auto& b) { return a.date < b.date; });
  std::vector<std::string> recipients;
  for (const ReceivedMessage& message : r) {
    EXPECT_EQ(message.defects, std::vector<std::string>{});
    EXPECT_TRUE(message.raw.ends_with("\r\n"));
    recipients.push_back(message.to.at(0).address);
  }
  std::sort(recipients.begin(), recipients.end());
  EXPECT_EQ(recipients,
            (std::vector<std::string>{"dispatch@corvanetours.com", "dispatch@corvanetours.com",
                                      "second@corvanetours.com"}));
  const auto first =
      std::find_if(r.begin(), r.end(), [](const auto& x) { return x.subject.starts_with("Tour"); });
  ASSERT_NE(first, r.end());
  EXPECT_EQ(first->body, "Tour: Alps\r\n.\r\nGrüße\n");
  EXPECT_EQ(first->from_name, "Corvane Alert");
}

TEST(PickupFolder, BlindCopiesStayInTheFileAndSevenBitOffWrites8bit) {
  CORVANE_REQUIRE_SERVICE(testing::MimeParserAvailable());
  testing::TempDir folder;
  DeliveringMailComponent component("/nonexistent", {});
  std::unique_ptr<MailMessage> message = component.Create();
  message->SetSevenBit(false);
  message->SetFromAddress("alerts@corvanetours.com");
  message->AddRecipient("hidden@corvanetours.com", PlainArg{0LL}, PlainArg{"Bcc"});
  message->SetBody("Grüße\r\n");
  message->Send("pickup:" + folder.path().string(), PlainArg{0LL});
  const std::vector<fs::path> files = FilesIn(folder.path());
  ASSERT_EQ(files.size(), 1u);
  const ReceivedMessage r = testing::DecodeMessageFiles(files).at(0);
  EXPECT_EQ(r.bcc, (std::vector<testing::MailboxField>{{"", "hidden@corvanetours.com"}}));
  EXPECT_EQ(r.transfer_encoding, "8bit");
  EXPECT_EQ(r.body, "Grüße\r\n");
}

TEST(PickupFolder, AFolderThatCannotBeMadeIsAnErrorAndLeavesNothing) {
  testing::TempDir program;
  testing::WriteFile(program / "outbox", "a file, not a folder");
  DeliveringMailComponent component(program.path(), {});
  const Error error = ExpectMailError([&] { SendOne(component, "pickup:outbox/new"); });
  EXPECT_NE(error.description().find("outbox/new"), std::string::npos) << error.what();
  EXPECT_EQ(FilesIn(program.path()).size(), 1u);
}

// A write that fails half way (the file size limit, in a child process so the limit stays
// there) leaves neither a partial .eml nor the temporary file.
TEST(PickupFolder, AWriteThatFailsHalfWayLeavesNoPartialFile) {
  testing::TempDir folder;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1024, 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    int status = 0;
    try {
      DeliveringMailComponent component("/nonexistent", {});
      TestMessage m;
      m.body = std::string(8000, 'x');
      SendOne(component, "pickup:" + folder.path().string(), m);
      status = 1;
    } catch (const Error& error) {
      status = error.kind() == ErrorKind::kMail && error.number() == EFBIG ? 0 : 2;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: no error, 2: another error";
  EXPECT_EQ(FilesIn(folder.path()), std::vector<fs::path>{});
}

}  // namespace
}  // namespace corvane::mail
