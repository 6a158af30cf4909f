// Small process helpers for the benchmarks: run a command and measure it, start smtp-sink.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace corvane::bench {

struct Measurement {
  double seconds = 0;
  long max_rss_kib = 0;  // peak resident memory of the command
  int exit_status = -1;
};

struct MeasureOptions {
  std::filesystem::path stdin_file;            // empty: /dev/null
  std::map<std::string, std::string> set_env;  // added to the environment
};

// Runs argv (searched on PATH) in `folder` with its output thrown away. The peak memory is the
// command's own (a server it talks to is not counted).
Measurement Measure(const std::vector<std::string>& argv, const std::filesystem::path& folder,
                    const MeasureOptions& options = {});

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// A server process that is killed with its owner.
class Server {
 public:
  Server(pid_t server_pid, int server_port) : pid(server_pid), port(server_port) {}
  ~Server();
  Server(Server&& other) noexcept : pid(other.pid), port(other.port) { other.pid = -1; }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  Server& operator=(Server&&) = delete;

  pid_t pid;
  int port;
};

// postfix's smtp-sink on 127.0.0.1, accepting everything, on the port the kernel gave it.
Server StartSmtpSink();

}  // namespace corvane::bench
