// Settings as operators write them (several recipients, display names, values padded by
// fixed-width columns) work end to end; settings that someone other than their owner could
// change are refused before anything is connected; the shipped service unit is sandboxed.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/file_descriptor.h"
#include "base/status_codes.h"
#include "support/local_day.h"
#include "support/loopback_socket.h"
#include "support/pass_harness.h"
#include "support/program_folder.h"
#include "support/smtp_server.h"

namespace corvane::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(SettingsAsWritten, SeveralRecipientsANameFormAndPaddedValuesWorkEndToEnd) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  OnOneDay([](DateTime today) {
    SmtpServer smtp;
    ProgramFolder program;
    // CHAR columns pad their values; the server text and the sender's name too.
    program.CreateSqliteDatabase(CompanyRowSql(smtp.host_port() + "     ", "Corvane Fleet    ") +
                                 OneOpenTourSql(today));
    program.WriteConfig(
        "Provider=SQLite;Data Source=fleet.db",  // no ';' before the password
                                                 // Item 11 is a quoted item: a display name in it
                                                 // cannot hold quotes.
        "  dispatch@corvanetours.com; Dana Lee <dana@corvanetours.com>,"
        "Yard <yard@corvanetours.com>; Dispatch <dispatch@CorvaneTours.com>  ",
        "7");
    const ProcessResult result = program.RunProgram();
    EXPECT_EQ(result.exit_status, exit_status::kOk) << result.err;
    const std::vector<ReceivedMessage> sent = smtp.Messages();
    ASSERT_EQ(sent.size(), 1u);  // one message, one RCPT per recipient, also one listed twice
    EXPECT_EQ(sent[0].recipients,
              (std::vector<std::string>{"dispatch@corvanetours.com", "dana@corvanetours.com",
                                        "yard@corvanetours.com"}));
    EXPECT_EQ(sent[0].to, (std::vector<MailboxField>{{"", "dispatch@corvanetours.com"},
                                                     {"Dana Lee", "dana@corvanetours.com"},
                                                     {"Yard", "yard@corvanetours.com"}}));
    EXPECT_EQ(sent[0].from_name, "Corvane Alert");
    EXPECT_EQ(sent[0].defects, std::vector<std::string>{});
  });
}

TEST(SettingsAsWritten, AListWithOneBadAddressSendsNothing) {
  CORVANE_REQUIRE_SERVICE(SmtpServerAvailable());
  OnOneDay([](DateTime today) {
    SmtpServer smtp;
    ProgramFolder program;
    program.CreateSqliteDatabase(CompanyRowSql(smtp.host_port()) + OneOpenTourSql(today));
    program.WriteConfig("Provider=SQLite;Data Source=fleet.db;",
                        "dispatch@corvanetours.com; dispatch office", "7");
    const ProcessResult result = program.RunProgram();
    EXPECT_EQ(result.exit_status, exit_status::kMailFailed);
    EXPECT_THAT(result.err, HasSubstr("recipient address"));
    EXPECT_THAT(result.err, HasSubstr("dispatch office"));
    EXPECT_TRUE(smtp.Commands().empty()) << "nothing may reach the server";
  });
}

// A program folder whose database is a "PostgreSQL server" the test listens for: a refused
// settings file must end the run before anything connects to it.
class UnsafeSettings : public ::testing::TestWithParam<std::string> {};

TEST_P(UnsafeSettings, AreRefusedBeforeAnyConnection) {
  const std::string& how = GetParam();
  LoopbackSocket database;
  ProgramFolder program;
  const std::string password = how == "PasswordReadableByOthers" ? "PWD=s3cret;" : "";
  program.WriteConfig(
      "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + std::to_string(database.port()) +
          ";Database=fleet;UID=corvane;" + password,
      "dispatch@corvanetours.com", "7");
  const fs::path config = program / "config.txt";
  TempDir elsewhere;
  std::string fix;
  ProcessOptions options = program.CronOptions();
  if (how == "PasswordReadableByOthers") {
    fs::permissions(config, fs::perms::group_read | fs::perms::others_read, fs::perm_options::add);
    fix = "holds the database password and others can read it (mode 0644). Fix: chmod 600 " +
          config.string();
  } else if (how == "LinkToAFolderOthersCanWrite") {
    // As the package links it to /etc: the target's folder is held to the rule too.
    fs::rename(config, elsewhere / "config.txt");
    fs::create_symlink(elsewhere / "config.txt", config);
    fs::permissions(elsewhere.path(), fs::perms::all);
    fix = "the folder on the way to config.txt " + elsewhere.path().string() +
          " can be changed by others (mode 0777); they could send the database password "
          "anywhere. Fix: chmod go-w " +
          elsewhere.path().string();
  } else if (how == "GroupWritable") {
    fs::permissions(config, fs::perms::group_write, fs::perm_options::add);
    fix = "chmod go-w " + config.string();
  } else if (how == "WorldWritable") {
    fs::permissions(config, fs::perms::others_write, fs::perm_options::add);
    fix = "chmod go-w " + config.string();
  } else if (how == "OwnedByAnotherUser") {
    // Started as nobody on daemon's settings; a start as root would run as daemon.
    if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    ASSERT_EQ(chown(config.c_str(), getpwnam("daemon")->pw_uid, 0), 0);
    fs::permissions(config, fs::perms(0644));
    fs::permissions(program.path(), fs::perms(0711));
    options.run_as_user = "nobody";
    fix = "only root or nobody, who runs the program, may own it";
    fix += ", or its owner could send the database password anywhere. Fix: chown nobody ";
  } else if (how == "ProgramOwnedByAnotherUser") {
    if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
    ASSERT_EQ(chown(program.executable().c_str(), getpwnam("nobody")->pw_uid, 0), 0);
    // Root is never told to take the file over.
    fix = "with the database password. Fix: run the program as nobody (runuser -u nobody -- ";
  } else if (how == "ProgramWorldWritable") {
    fs::permissions(program.executable(), fs::perms::others_write, fs::perm_options::add);
    fix = "chmod go-w " + program.executable().string();
  } else {  // the program folder, where others could put a config.txt of their own
    fs::permissions(program.path(), fs::perms::others_write | fs::perms::others_exec,
                    fs::perm_options::add);
    fix = "chmod go-w " + program.path().string();
  }
  const ProcessResult result = corvane::testing::Run({program.executable().string()}, options);
  ExpectOneLineReport(result);
  EXPECT_EQ(result.exit_status, exit_status::kUnsafeSettings) << result.err;
  EXPECT_THAT(result.err, HasSubstr("run-time error 70: Permission denied"));
  EXPECT_THAT(result.err, HasSubstr(fix));
  EXPECT_THAT(result.err, HasSubstr("[in ReadConfig]"));
  pollfd pending{database.fd(), POLLIN, 0};
  EXPECT_EQ(poll(&pending, 1, 0), 0) << "the run connected to the database";
}

INSTANTIATE_TEST_SUITE_P(ConfigAndFolder, UnsafeSettings,
                         ::testing::Values("GroupWritable", "WorldWritable", "OwnedByAnotherUser",
                                           "FolderWorldWritable", "ProgramWorldWritable",
                                           "ProgramOwnedByAnotherUser", "PasswordReadableByOthers",
                                           "LinkToAFolderOthersCanWrite"),
                         [](const auto& param) { return param.param; });

// Another local user, woken by each file event in the folder, tries to open config.txt and the
// lock file while `cmake --install` makes them: a descriptor opened in any moment before they are
// owner-only would be kept (to read the password written later, or to hold the lock). The racer
// is a thread of this test that has become nobody: the raw system calls change its own
// credentials only.
TEST(Install, MakesTheSettingsAndTheLockOwnerOnlyFromTheirFirstByte) {
  if (geteuid() != 0) GTEST_SKIP() << "a racer of another user needs root";
  TempDir dir;
  const fs::path prefix = dir / "program";
  fs::create_directory(prefix);
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
  const passwd* nobody = getpwnam("nobody");
  ASSERT_NE(nobody, nullptr);
  const std::vector<fs::path> made = {prefix / "config.txt", prefix / "corvane-email-handler.lock"};
  std::atomic<bool> installed{false};
  std::atomic<int> opened{0};
  std::set<fs::path> refused;
  const FileDescriptor events(inotify_init1(IN_CLOEXEC));
  ASSERT_GE(inotify_add_watch(events.get(), prefix.c_str(), IN_CREATE | IN_ATTRIB), 0);
  std::thread racer([&, uid = nobody->pw_uid, gid = nobody->pw_gid] {
    if (syscall(SYS_setgroups, 0, nullptr) != 0 || syscall(SYS_setresgid, gid, gid, gid) != 0 ||
        syscall(SYS_setresuid, uid, uid, uid) != 0) {
      return;
    }
    while (!installed) {
      pollfd event{events.get(), POLLIN, 0};
      if (poll(&event, 1, 50) <= 0) continue;
      char buffer[4096];
      (void)!read(events.get(), buffer, sizeof buffer);
      for (const fs::path& file : made) {
        const FileDescriptor got(open(file.c_str(), O_RDONLY | O_CLOEXEC));
        if (got.valid()) ++opened;
        if (!got.valid() && errno == EACCES) refused.insert(file);
      }
    }
  });
  const ProcessResult install =
      testing::Run({"cmake", "--install", CORVANE_BINARY_DIR, "--prefix", prefix.string()});
  installed = true;
  racer.join();
  ASSERT_EQ(install.exit_status, 0) << install.out << install.err;
  EXPECT_EQ(refused, std::set<fs::path>(made.begin(), made.end())) << "the racer saw them made";
  EXPECT_EQ(opened, 0);
  for (const fs::path& file : made) {
    EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << file;
  }
}

TEST(ServiceUnit, IsSandboxedAndVerifies) {
  if (access("/usr/bin/systemd-analyze", X_OK) != 0) GTEST_SKIP() << "no systemd-analyze";
  const fs::path unit =
      fs::path(CORVANE_SOURCE_DIR) / "packaging" / "corvane-email-handler.service";
  const ProcessResult security =
      testing::Run({"systemd-analyze", "security", "--offline=true", "--no-pager", unit.string()});
  std::smatch level;
  const std::regex overall("Overall exposure level for \\S+: ([0-9.]+)");
  ASSERT_TRUE(std::regex_search(security.out, level, overall)) << security.out << security.err;
  EXPECT_LE(std::stod(level[1]), 2.0) << security.out;

  // verify wants the executable where ExecStart says: a copy of the unit names the built one.
  TempDir dir;
  std::string text = ReadFile(unit);
  text = std::regex_replace(text, std::regex("ExecStart=.*"),
                            std::string("ExecStart=") + CORVANE_EXECUTABLE);
  WriteFile(dir / "corvane-email-handler.service", text);
  WriteFile(dir / "corvane-email-handler.timer",
            ReadFile(unit.parent_path() / "corvane-email-handler.timer"));
  const ProcessResult verify = testing::Run({"systemd-analyze", "verify", "--man=no",
                                             (dir / "corvane-email-handler.service").string(),
                                             (dir / "corvane-email-handler.timer").string()});
  EXPECT_EQ(verify.exit_status, 0) << verify.out << verify.err;
}

}  // namespace
}  // namespace corvane::testing
