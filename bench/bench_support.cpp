#include "bench_support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace corvane::bench {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::filesystem::path& folder) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

}  // namespace

Measurement Measure(const std::vector<std::string>& argv, const std::filesystem::path& folder) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(argv, folder);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Measurement m;
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.max_rss_kib = usage.ru_maxrss;
  m.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return m;
}

TempFolder::TempFolder() {
  std::string pattern = "/tmp/corvane-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

Server::~Server() {
  if (pid > 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
}

Server StartSmtpSink() {
  const int port = FreePort();
  std::vector<std::string> argv = {"smtp-sink"};
  if (geteuid() == 0) argv.insert(argv.end(), {"-u", "nobody"});
  argv.insert(argv.end(), {"-a", "-c", "127.0.0.1:" + std::to_string(port), "1000"});
  Server server(Spawn(argv, {}), port);
  for (int i = 0; i < 200 && !Accepts(port); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (!Accepts(port)) throw std::runtime_error("smtp-sink did not start");
  return server;
}

}  // namespace corvane::bench
