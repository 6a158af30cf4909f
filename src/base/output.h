// The one door for text: every byte the process writes to standard error, standard output or a
// file of its own (the metrics file) passes an Output, and so the run's SecretGuard. Text for
// outputs that are no descriptor (a monitor's request body, a test message's body) passes the
// same guard as GuardedText. Nothing else in the program writes to a descriptor but the mail
// it delivers (tests/run/report_test.cpp holds the program to that).
#pragma once

#include <string_view>

#include "base/secret_guard.h"

namespace corvane {

// What a line is, for the journal (systemd's "<N>" prefixes, sd-daemon(3)).
enum class Priority {
  kError = 3,    // the run's report line
  kWarning = 4,  // a warning: the run's result stands
  kNotice = 5,   // standing down: another run is going
  kInfo = 6,     // log lines, the commands' output
};

class Output {
 public:
  // Writes to `fd` (not owned). Whether `fd` is the journal (JOURNAL_STREAM names its device and
  // inode) is found here, once.
  Output(int fd, const SecretGuard& guard);

  // Writes `text` whole, retrying short writes. On the journal each line starts with
  // `priority`'s prefix, so that a text from outside cannot choose its own priority; any other
  // descriptor gets the text as it is. False when it could not be written (errno says why).
  bool Write(const GuardedText& text, Priority priority = Priority::kInfo) const;
  // The same for a text from outside, each of its lines masked first.
  bool Write(std::string_view outside, Priority priority = Priority::kInfo) const;

  const SecretGuard& guard() const { return guard_; }
  bool journal() const { return journal_; }

 private:
  int fd_;
  const SecretGuard& guard_;
  bool journal_;
};

}  // namespace corvane
