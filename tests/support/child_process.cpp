#include "support/child_process.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/file_descriptor.h"

extern char** environ;

namespace corvane::testing {

namespace {

// Everything the child needs, made before the fork: between fork and exec a child of a
// threaded process may only make plain system calls (another thread may have held a lock).
struct ExecPlan {
  std::string program;  // a path: PATH is searched here, with the child's environment
  std::vector<std::string> args;
  std::vector<std::string> env;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::optional<uid_t> uid;
  gid_t gid = 0;
  std::vector<gid_t> groups;
  std::string directory;
  std::vector<int> pass_fds;
  std::vector<int> moved_fds;  // room for the child's copies of pass_fds
  int death_signal = SIGKILL;
  pid_t parent = 0;
};

std::string FindOnPath(const std::string& name, const std::vector<std::string>& env) {
  if (name.find('/') != std::string::npos) return name;
  std::string path = "/usr/local/bin:/usr/bin:/bin";
  for (const std::string& entry : env) {
    if (entry.starts_with("PATH=")) path = entry.substr(5);
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find(':', start), path.size());
    const std::string candidate =
        (end == start ? std::string(".") : path.substr(start, end - start)) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;  // exec fails, and the child ends with 127
}

ExecPlan MakePlan(const std::vector<std::string>& argv, const ProcessOptions& options) {
  if (argv.empty()) throw std::invalid_argument("no program to run");
  ExecPlan plan;
  plan.args = argv;
  std::map<std::string, std::string> env;
  if (!options.clear_env) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text = *entry;
      const std::size_t equals = text.find('=');
      if (equals != std::string::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
    }
  }
  for (const auto& [name, value] : options.set_env) env[name] = value;
  for (const auto& [name, value] : env) plan.env.push_back(name + "=" + value);
  plan.program = FindOnPath(argv[0], plan.env);
  for (std::string& a : plan.args) plan.argv.push_back(a.data());
  plan.argv.push_back(nullptr);
  for (std::string& e : plan.env) plan.envp.push_back(e.data());
  plan.envp.push_back(nullptr);

  if (options.run_as_user) {
    const passwd* user = getpwnam(options.run_as_user->c_str());
    if (user == nullptr) throw std::runtime_error("no user " + *options.run_as_user);
    plan.uid = user->pw_uid;
    plan.gid = user->pw_gid;
    int count = 32;
    plan.groups.resize(static_cast<std::size_t>(count));
    while (getgrouplist(user->pw_name, user->pw_gid, plan.groups.data(), &count) < 0) {
      plan.groups.resize(static_cast<std::size_t>(count));
    }
    plan.groups.resize(static_cast<std::size_t>(count));
  }
  plan.directory = options.working_directory.string();
  plan.pass_fds = options.pass_fds;
  plan.moved_fds.resize(plan.pass_fds.size());
  plan.death_signal = options.death_signal;
  plan.parent = getpid();
  return plan;
}

// In the child, after fork: plain system calls only, and never returns.
[[noreturn]] void ExecChild(ExecPlan& plan, int in_fd, int out_fd, int err_fd) {
  if (plan.uid && (setgroups(plan.groups.size(), plan.groups.data()) != 0 ||
                   setgid(plan.gid) != 0 || setuid(*plan.uid) != 0)) {
    _exit(126);
  }
  // Set after the switch of user: a change of credentials clears it. A parent already gone
  // (we were adopted) must not leave this child running.
  prctl(PR_SET_PDEATHSIG, plan.death_signal);
  if (getppid() != plan.parent) _exit(125);
  setpgid(0, 0);
  if (!plan.directory.empty() && chdir(plan.directory.c_str()) != 0) _exit(127);

  const int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
  // Moved above the numbers they go to first, so that none is overwritten before it is placed.
  const std::size_t n = plan.pass_fds.size();
  const int high = 3 + static_cast<int>(n);
  int standard[3] = {in_fd >= 0 ? in_fd : null_fd, out_fd >= 0 ? out_fd : null_fd,
                     err_fd >= 0 ? err_fd : null_fd};
  for (int& fd : standard) fd = fcntl(fd, F_DUPFD_CLOEXEC, high);
  for (std::size_t i = 0; i < n; ++i) {
    plan.moved_fds[i] = fcntl(plan.pass_fds[i], F_DUPFD_CLOEXEC, high);
  }
  for (int target = 0; target < 3; ++target) dup2(standard[target], target);
  for (std::size_t i = 0; i < n; ++i) dup2(plan.moved_fds[i], 3 + static_cast<int>(i));
  // dup2 leaves the new descriptors open across exec; nothing else the test holds may leak in.
  close_range(3 + static_cast<unsigned>(n), ~0U, 0);
  execve(plan.program.c_str(), plan.argv.data(), plan.envp.data());
  _exit(127);
}

int OpenOutput(const std::filesystem::path& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// The read end goes to `into`, the write end is returned for the child.
int CapturePipe(int& into) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  into = fds[0];
  return fds[1];
}

void ReadInto(int& fd, std::string& into) {
  char buffer[65536];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    close(fd);
    fd = -1;
  }
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  ExecPlan plan = MakePlan(argv, options);
  FileDescriptor child_in(
      options.stdin_file.empty() ? -1 : open(options.stdin_file.c_str(), O_RDONLY | O_CLOEXEC));
  if (!options.stdin_file.empty() && !child_in.valid()) {
    throw std::runtime_error("cannot read " + options.stdin_file.string());
  }
  FileDescriptor child_out(options.stdout_file.empty() ? CapturePipe(out_fd_)
                                                       : OpenOutput(options.stdout_file));
  FileDescriptor child_err(options.stderr_file.empty() ? CapturePipe(err_fd_)
                                                       : OpenOutput(options.stderr_file));
  pid_ = fork();
  if (pid_ < 0) {
    for (int fd : {out_fd_, err_fd_}) {
      if (fd >= 0) close(fd);
    }
    throw std::runtime_error("fork failed");
  }
  if (pid_ == 0) ExecChild(plan, child_in.get(), child_out.get(), child_err.get());
  // Also here, so that a Stop right after the start reaches the group.
  setpgid(pid_, pid_);
}

ChildProcess::~ChildProcess() {
  if (!reaped_ && pid_ > 0) Stop(SIGKILL);
  if (out_fd_ >= 0) close(out_fd_);
  if (err_fd_ >= 0) close(err_fd_);
}

bool ChildProcess::running() {
  if (reaped_) return false;
  int status = 0;
  const pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    reaped_ = true;
    result_.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result_.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    return false;
  }
  return true;
}

int ChildProcess::Stop(int signal) {
  if (!reaped_) {
    kill(-pid_, signal);  // the whole group: a server may have children of its own
    kill(pid_, signal);
    Wait(std::chrono::seconds(30));
  }
  return result_.exit_status;
}

void ChildProcess::Drain(std::chrono::milliseconds wait) {
  pollfd fds[2];
  nfds_t n = 0;
  if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
  if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
  if (n == 0) {
    std::this_thread::sleep_for(wait);
    return;
  }
  poll(fds, n, static_cast<int>(wait.count()));
  for (nfds_t i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    if (fds[i].fd == out_fd_)
      ReadInto(out_fd_, result_.out);
    else if (fds[i].fd == err_fd_)
      ReadInto(err_fd_, result_.err);
  }
}

ProcessResult ChildProcess::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    Drain(std::chrono::milliseconds(out_fd_ >= 0 || err_fd_ >= 0 ? 50 : 20));
    if (!running() && out_fd_ < 0 && err_fd_ < 0) break;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid_, SIGKILL);
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      reaped_ = true;
      result_.exit_status = -1;
      result_.signal = SIGKILL;
      result_.err += "\n[test support: killed after the time limit]";
      break;
    }
  }
  return result_;
}

bool ChildProcess::WaitForLine(std::string_view line, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  const std::string wanted = std::string(line) + "\n";
  while (true) {
    if (result_.out.starts_with(wanted) || result_.out.find("\n" + wanted) != std::string::npos) {
      return true;
    }
    // The end of the output (the child's end, as nothing else holds the pipe) or the limit.
    if (out_fd_ < 0 || std::chrono::steady_clock::now() > deadline) return false;
    Drain(std::chrono::milliseconds(50));
  }
}

ProcessResult Run(const std::vector<std::string>& argv, const ProcessOptions& options,
                  std::chrono::seconds limit) {
  ChildProcess child(argv, options);
  return child.Wait(limit);
}

namespace {

// Of /proc/<pid>/stat, "pid (command) state ppid ...": what follows the command, which may hold
// blanks and parentheses itself; empty when there is no such process.
std::string StatAfterCommand(const std::string& pid) {
  std::ifstream stat("/proc/" + pid + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t close = text.rfind(')');
  return close == std::string::npos ? "" : text.substr(close + 1);
}

}  // namespace

std::vector<pid_t> ChildrenOf(pid_t pid) {
  std::vector<pid_t> children;
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", ignored)) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::istringstream fields(StatAfterCommand(name));
    std::string state;
    long parent = 0;
    if (fields >> state >> parent && parent == pid) children.push_back(std::stoi(name));
  }
  return children;
}

char ProcessState(pid_t pid) {
  std::istringstream fields(StatAfterCommand(std::to_string(pid)));
  std::string state;
  return fields >> state ? state[0] : '\0';
}

}  // namespace corvane::testing
