// A cron monitor for tests: an HTTP server on 127.0.0.1, in a thread of the test process, on a
// socket the test bound itself. It records every request (method, target, body) and answers
// each with 200, with 500, or never (it reads the request and keeps silent until the client
// leaves). One request per connection.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/file_descriptor.h"
#include "support/loopback_socket.h"

namespace corvane::testing {

struct HttpRequest {
  std::string method;
  std::string target;  // path and query, as sent
  std::string body;
};

class HttpRecorder {
 public:
  enum class Answer { kOk, kServerError, kNever };
  explicit HttpRecorder(Answer answer = Answer::kOk) : answer_(answer) {}
  ~HttpRecorder() {
    stopping_ = true;
    thread_.join();
  }
  HttpRecorder(const HttpRecorder&) = delete;
  HttpRecorder& operator=(const HttpRecorder&) = delete;

  std::string url() const { return "http://" + listener_.host_port(); }
  std::vector<HttpRequest> Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  // Whether `fd` became readable; false once the recorder stops.
  bool Ready(int fd) const {
    pollfd ready{fd, POLLIN, 0};
    while (!stopping_) {
      if (::poll(&ready, 1, 100) > 0) return true;
    }
    return false;
  }

  void Loop() {
    while (Ready(listener_.fd())) {
      const FileDescriptor client(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
      std::string in;
      std::size_t head = std::string::npos, length = 0;
      ssize_t n = 1;
      char chunk[4096];
      while (client.valid() && n > 0 && (head == std::string::npos || in.size() < head + length) &&
             Ready(client.get())) {
        if ((n = ::recv(client.get(), chunk, sizeof chunk, 0)) > 0) {
          in.append(chunk, static_cast<std::size_t>(n));
        }
        if ((head = in.find("\r\n\r\n")) != std::string::npos) head += 4;
        const std::size_t at = in.find("Content-Length: ");
        if (head != std::string::npos && at < head) length = std::stoul(in.substr(at + 16));
      }
      if (head == std::string::npos || in.size() < head + length) continue;
      const std::size_t space = in.find(' '), second = in.find(' ', space + 1);
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back({in.substr(0, space), in.substr(space + 1, second - space - 1),
                             in.substr(head, length)});
      }
      if (answer_ == Answer::kNever) {
        while (Ready(client.get()) && ::recv(client.get(), chunk, sizeof chunk, 0) > 0) {
        }
        continue;
      }
      const std::string reply = answer_ == Answer::kOk ? "200 OK" : "500 Internal Server Error";
      const std::string bytes = "HTTP/1.1 " + reply + "\r\nContent-Length: 0\r\n\r\n";
      (void)!::send(client.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    }
  }

  Answer answer_;
  LoopbackSocket listener_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_{[this] { Loop(); }};  // last: it starts once everything above is ready
};

}  // namespace corvane::testing
