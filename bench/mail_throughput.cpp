// Mail throughput: N alerts through the real mail component (SendMsg, one connection kept per
// server) to a local smtp-sink, beside the floor measured in the same run: postfix's
// smtp-source sending the same count of messages of the same size over one connection to the
// same sink. A third row sends N/10 with a new component per message (a new connection each)
// to show what keeping the connection saves.
// Usage: mail_throughput [N=10000] [BODY_BYTES=600]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "mail/delivering_component.h"
#include "mail/message_composer.h"
#include "mail/send_msg.h"

namespace {

using corvane::mail::DeliveringMailComponent;
using corvane::mail::MailSender;

constexpr const char* kFrom = "alerts@corvanetours.com";
constexpr const char* kTo = "dispatch@corvanetours.com";
constexpr const char* kSubject = "Tour Drop with open invoice";

// A child process killed with this one; output thrown away.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) : pid_(fork()) {
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      const int null_fd = open("/dev/null", O_RDWR);
      dup2(null_fd, STDIN_FILENO);
      dup2(null_fd, STDOUT_FILENO);
      std::vector<char*> args;
      for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
      args.push_back(nullptr);
      execvp(args[0], args.data());
      _exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Waits for the end; returns the exit status and fills `usage`.
  int Wait(rusage& usage) {
    int status = 0;
    wait4(pid_, &status, 0, &usage);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_;
};

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address = Loopback(port);
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// An alert-like body: lines of 60 characters, CR LF after each.
std::string Body(std::size_t bytes) {
  std::string body;
  for (std::size_t line = 0; body.size() + 62 <= bytes; ++line) {
    body.append(60, static_cast<char>('a' + line % 26)).append("\r\n");
  }
  return body;
}

double SendAll(int count, const std::string& server, const std::string& body, bool reuse) {
  const auto start = std::chrono::steady_clock::now();
  DeliveringMailComponent shared("/tmp", {});
  for (int i = 0; i < count; ++i) {
    if (reuse) {
      MailSender(shared, server).SendMsg(kFrom, "Corvane Alert", kTo, kSubject, body);
    } else {
      DeliveringMailComponent own("/tmp", {});
      MailSender(own, server).SendMsg(kFrom, "Corvane Alert", kTo, kSubject, body);
    }
  }
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void PrintRow(const char* what, int count, double seconds, long max_rss_kib) {
  std::printf("  %-52s %7d msgs %8.3f s %9.0f msg/s  peak RSS %6ld KiB\n", what, count, seconds,
              count / seconds, max_rss_kib);
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::size_t body_bytes = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 600;
  if (count <= 0) {
    std::fprintf(stderr, "usage: mail_throughput [N=10000] [BODY_BYTES=600]\n");
    return 64;
  }
  const std::string body = Body(body_bytes);
  const std::size_t message_bytes =
      corvane::mail::ComposeMessage({kFrom, "Corvane Alert", {{kTo, "", {}}}, kSubject, body, true},
                                    {"Tue, 08 Dec 2026 06:33:00 +0100", "<x@corvanetours.com>"},
                                    corvane::mail::BccHeader::kOmit)
          .seven_bit.size();

  const int port = FreePort();
  const std::string server = "127.0.0.1:" + std::to_string(port);
  // As root smtp-sink must drop to another user; -a: it cannot really do AUTH.
  std::vector<std::string> sink_argv = {"smtp-sink", "-a", server, "1000"};
  if (geteuid() == 0) sink_argv.insert(sink_argv.begin() + 1, {"-u", "nobody"});
  Child sink(sink_argv);
  for (int i = 0; i < 200 && !Accepts(port); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  if (!Accepts(port)) {
    std::fprintf(stderr, "smtp-sink did not start\n");
    return 1;
  }

  const double ours = SendAll(count, server, body, true);
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  const int fresh_count = count / 10 > 0 ? count / 10 : 1;
  const double fresh = SendAll(fresh_count, server, body, false);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);

  const auto floor_start = std::chrono::steady_clock::now();
  Child source({"smtp-source", "-d", "-s", "1", "-m", std::to_string(count), "-l",
                std::to_string(message_bytes), "-f", kFrom, "-t", kTo, server});
  rusage source_usage{};
  const int source_status = source.Wait(source_usage);
  const double floor_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - floor_start).count();
  if (source_status != 0) {
    std::fprintf(stderr, "smtp-source failed (status %d)\n", source_status);
    return 1;
  }

  std::printf("mail throughput to smtp-sink on 127.0.0.1, message %zu bytes (body %zu)\n",
              message_bytes, body.size());
  PrintRow("mail component, SendMsg, one connection kept", count, ours, self.ru_maxrss);
  PrintRow("floor: smtp-source -d, same count and size", count, floor_seconds,
           source_usage.ru_maxrss);
  std::printf("  ratio (component time / floor time) %.2fx\n", ours / floor_seconds);
  PrintRow("mail component, new connection per message", fresh_count, fresh, after.ru_maxrss);
  return 0;
}
