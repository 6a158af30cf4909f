#include "bench_support.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "support/loopback_socket.h"

namespace corvane::bench {

namespace {

pid_t Spawn(const std::vector<std::string>& argv, const std::filesystem::path& folder,
            const MeasureOptions& options = {}) {
  // Everything the child needs is made before the fork.
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (options.set_env.count(text.substr(0, text.find('='))) == 0) env.push_back(text);
  }
  for (const auto& [name, value] : options.set_env) env.push_back(name + "=" + value);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(127);
    const int null_fd = open("/dev/null", O_RDWR);
    const int in_fd =
        options.stdin_file.empty() ? null_fd : open(options.stdin_file.c_str(), O_RDONLY);
    if (in_fd < 0) _exit(127);
    dup2(in_fd, STDIN_FILENO);
    dup2(null_fd, STDOUT_FILENO);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

Measurement Measure(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                    const MeasureOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = Spawn(argv, folder, options);
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
  // smtp-sink binds port 0 as asked; its port is the one its own descriptors listen on, looked
  // at once the child runs smtp-sink (before its exec the child holds copies of ours).
  std::vector<std::string> argv = {"smtp-sink"};
  if (geteuid() == 0) argv.insert(argv.end(), {"-u", "nobody"});
  argv.insert(argv.end(), {"-a", "-c", "127.0.0.1:0", "1000"});
  Server server(Spawn(argv, {}), 0);
  const std::filesystem::path executable = "/proc/" + std::to_string(server.pid) + "/exe";
  for (int i = 0; i < 400; ++i) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(executable, ignored).filename() == "smtp-sink") {
      const std::vector<int> ports = corvane::testing::ListeningPorts(server.pid);
      if (!ports.empty()) {
        server.port = ports.front();
        return server;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  throw std::runtime_error("smtp-sink did not start");
}

}  // namespace corvane::bench
