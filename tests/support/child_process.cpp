#include "support/child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace corvane::testing {

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
};

Pipe MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  return {fds[0], fds[1]};
}

// In the child, after fork: never returns.
[[noreturn]] void ExecChild(const std::vector<std::string>& argv, const ProcessOptions& options,
                            int out_fd, int err_fd) {
  if (options.run_as_user) {
    const passwd* user = getpwnam(options.run_as_user->c_str());
    if (user == nullptr || initgroups(user->pw_name, user->pw_gid) != 0 ||
        setgid(user->pw_gid) != 0 || setuid(user->pw_uid) != 0) {
      _exit(126);
    }
  }
  // Set after the switch of user: a change of credentials clears it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() == 1) _exit(125);
  setpgid(0, 0);
  if (!options.working_directory.empty() && chdir(options.working_directory.c_str()) != 0) {
    _exit(127);
  }
  int null_fd = open("/dev/null", O_RDWR);
  dup2(null_fd, STDIN_FILENO);
  dup2(out_fd >= 0 ? out_fd : null_fd, STDOUT_FILENO);
  dup2(err_fd >= 0 ? err_fd : null_fd, STDERR_FILENO);
  if (options.clear_env) clearenv();
  for (const auto& [name, value] : options.set_env) setenv(name.c_str(), value.c_str(), 1);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

int OpenOutput(const std::filesystem::path& path) {
  return open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

void Drain(int& fd, std::string& into) {
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
  int child_out = -1, child_err = -1;
  if (!options.stdout_file.empty()) {
    child_out = OpenOutput(options.stdout_file);
  } else {
    Pipe p = MakePipe();
    out_fd_ = p.read;
    child_out = p.write;
  }
  if (!options.stderr_file.empty()) {
    child_err = OpenOutput(options.stderr_file);
  } else {
    Pipe p = MakePipe();
    err_fd_ = p.read;
    child_err = p.write;
  }
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) ExecChild(argv, options, child_out, child_err);
  close(child_out);
  close(child_err);
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

ProcessResult ChildProcess::Wait(std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    pollfd fds[2];
    nfds_t n = 0;
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (n > 0) {
      poll(fds, n, 50);
      for (nfds_t i = 0; i < n; ++i) {
        if (fds[i].revents == 0) continue;
        if (fds[i].fd == out_fd_)
          Drain(out_fd_, result_.out);
        else if (fds[i].fd == err_fd_)
          Drain(err_fd_, result_.err);
      }
    }
    if (!running() && out_fd_ < 0 && err_fd_ < 0) break;
    if (!running() && n == 0) break;
    if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
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

ProcessResult Run(const std::vector<std::string>& argv, const ProcessOptions& options,
                  std::chrono::seconds limit) {
  ChildProcess child(argv, options);
  return child.Wait(limit);
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(fd);
    throw std::runtime_error("no free port");
  }
  close(fd);
  return ntohs(address.sin_port);
}

bool WaitForPort(int port, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    if (ok) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

}  // namespace corvane::testing
