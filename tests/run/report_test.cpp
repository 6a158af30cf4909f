// Every report is one line and never holds a password, whatever the driver or server said.
#include "run/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace corvane::run {
namespace {

TEST(Report, IsOneLineWhateverTheDriverSaid) {
  EXPECT_EQ(OneLine("failed: Connection refused\n\tIs the server running on that host?\n"),
            "failed: Connection refused Is the server running on that host?");
  EXPECT_EQ(OneLine("a \r\n b\x01\x7F"), "a b\\x01\\x7F");
  const std::string line = ReportLine(101, "connect failed:\r\n\tline two\n", "OpenDatabase",
                                      std::vector<std::string>{});
  EXPECT_EQ(line,
            "corvane-email-handler: run-time error 101: connect failed: line two [in "
            "OpenDatabase]\n");
}

TEST(Report, MasksPasswordPartsAndKnownSecrets) {
  const std::vector<std::string> secrets = {"vantorel", "s3cret"};
  EXPECT_EQ(MaskSecrets("UID=corvane;PWD=vantorel;Server=db", {}),
            "UID=corvane;PWD=****;Server=db");
  EXPECT_EQ(MaskSecrets("user=x; Password = {a;b} ;pwd=z", {}),
            "user=x; Password = **** ;pwd=****");
  EXPECT_EQ(MaskSecrets("user \"corvanePWD=vantorel\" failed", secrets),
            "user \"corvanePWD=****\" failed");
  EXPECT_EQ(MaskSecrets("login for vantorel and s3cret@host", secrets),
            "login for **** and ****@host");
  EXPECT_EQ(MaskSecrets("Keypwd=no, PWDX=7", {}), "Keypwd=no, PWDX=7");  // not a password part
  EXPECT_EQ(ReportLine(5, "file fleet.dbPWD=vantorel", "", secrets).find("vantorel"),
            std::string::npos);
}

}  // namespace
}  // namespace corvane::run
