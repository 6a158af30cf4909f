// Runs a program for a test: either to its end (Run) or in the background for the test's
// lifetime (ChildProcess, killed on destruction and by the kernel if the test process dies).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace corvane::testing {

struct ProcessOptions {
  std::filesystem::path working_directory;     // empty: the test's own
  std::map<std::string, std::string> set_env;  // added to (or replacing) the environment
  bool clear_env = false;                      // start from an empty environment
  std::optional<std::string> run_as_user;      // switch to this user first (needs root)
  std::filesystem::path stdout_file;           // empty: captured (Run) or /dev/null
  std::filesystem::path stderr_file;
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
  // Sends `signal` and waits for the end; returns the exit status (-1 when killed).
  int Stop(int signal = 15);
  // Waits for the end (at most `limit`), then returns the result; output only if captured.
  ProcessResult Wait(std::chrono::seconds limit = std::chrono::seconds(120));

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int out_fd_ = -1;
  int err_fd_ = -1;
  ProcessResult result_;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();
// Waits until something accepts on 127.0.0.1:port; false after `limit`.
bool WaitForPort(int port, std::chrono::milliseconds limit = std::chrono::seconds(20));

}  // namespace corvane::testing
