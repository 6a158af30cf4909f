// Runs a program for a test: either to its end (Run) or in the background for the test's
// lifetime (ChildProcess, killed on destruction and by the kernel if the test process dies).
//
// Each child leads a process group of its own, so stopping it reaches whatever it started. The
// kernel's parent-death signal is tied to the thread that forked, not the process: start
// children from the test's main thread (or another thread that outlives them).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::testing {

struct ProcessOptions {
  std::filesystem::path working_directory;     // empty: the test's own
  std::map<std::string, std::string> set_env;  // added to (or replacing) the environment
  bool clear_env = false;                      // start from an empty environment
  std::optional<std::string> run_as_user;      // switch to this user first (needs root)
  std::filesystem::path stdin_file;            // empty: /dev/null
  std::filesystem::path stdout_file;           // empty: captured (Run) or /dev/null
  std::filesystem::path stderr_file;
  // Open descriptors the child gets as 3, 4, ... (every other one is closed on exec).
  std::vector<int> pass_fds;
  // What the child gets when the test process dies first.
  int death_signal = SIGKILL;
};

struct ProcessResult {
  int exit_status = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH) to its end, capturing its output unless files are given.
ProcessResult Run(const std::vector<std::string>& argv, const ProcessOptions& options = {},
                  std::chrono::seconds limit = std::chrono::seconds(120));

class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool running();
  // Sends `signal` to the child's process group and waits for the end; returns the exit
  // status (-1 when killed).
  int Stop(int signal = SIGTERM);
  // Waits for the end (at most `limit`), then returns the result; output only if captured.
  ProcessResult Wait(std::chrono::seconds limit = std::chrono::seconds(120));
  // Waits until the captured standard output holds the line `line`; false when the child ends
  // or closes its output first, or after `limit`.
  bool WaitForLine(std::string_view line, std::chrono::milliseconds limit);

 private:
  // Reads what is ready on the captured outputs, waiting at most `wait`.
  void Drain(std::chrono::milliseconds wait);

  pid_t pid_ = -1;
  bool reaped_ = false;
  int out_fd_ = -1;
  int err_fd_ = -1;
  ProcessResult result_;
};

// The processes whose parent is `pid` now, as /proc shows them.
std::vector<pid_t> ChildrenOf(pid_t pid);
// The state of process `pid` as /proc shows it ('T' stopped, 'Z' ended but not yet reaped, ...),
// or '\0' when there is no such process.
char ProcessState(pid_t pid);

}  // namespace corvane::testing
