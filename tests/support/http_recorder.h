// A cron monitor for tests: an HTTP server on 127.0.0.1, in a thread of the test process, on a
// socket the test bound itself. It records every request and answers each with `status`, or
// with 0 never (it keeps silent until the client leaves); with `accepts`, 404 to a request whose
// "METHOD target" that pattern does not match whole, as a real monitor answers a form not its
// own. One request per connection; a proxy's requests carry the whole URL as their target.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <regex>
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
  explicit HttpRecorder(int status = 200, std::optional<std::regex> accepts = std::nullopt)
      : status_(status), accepts_(std::move(accepts)) {}
  ~HttpRecorder() {
    stopping_ = true;
    thread_.join();
  }

  std::string url() const { return "http://" + listener_.host_port(); }
  std::vector<HttpRequest> Requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  // Reads what `fd` has, waiting until it has some; false at its end or once the recorder stops.
  bool Read(int fd, std::string& into) const {
    pollfd ready{fd, POLLIN, 0};
    while (!stopping_) {
      if (::poll(&ready, 1, 100) <= 0) continue;
      char chunk[4096];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n > 0) into.append(chunk, static_cast<std::size_t>(n));
      return n > 0;
    }
    return false;
  }

  void Loop() {
    for (std::string ignored; !stopping_;) {
      pollfd ready{listener_.fd(), POLLIN, 0};
      if (::poll(&ready, 1, 100) <= 0) continue;
      const FileDescriptor client(::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC));
      std::string in;
      std::size_t head = std::string::npos, length = 0;
      while (head == std::string::npos || in.size() < head + length) {
        if (!Read(client.get(), in)) break;
        if ((head = in.find("\r\n\r\n")) == std::string::npos) continue;
        head += 4;
        const std::size_t at = in.find("Content-Length: ");
        if (at < head) length = std::stoul(in.substr(at + 16));
      }
      if (head == std::string::npos || in.size() < head + length) continue;
      const std::size_t space = in.find(' '), second = in.find(' ', space + 1);
      const HttpRequest request{in.substr(0, space), in.substr(space + 1, second - space - 1),
                                in.substr(head, length)};
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const bool known =
          !accepts_ || std::regex_match(request.method + " " + request.target, *accepts_);
      const std::string reply = "HTTP/1.1 " + std::to_string(known ? status_ : 404) + " X\r\n\r\n";
      if (status_ == 0) {
        while (Read(client.get(), ignored)) {
        }
      } else {
        (void)!::send(client.get(), reply.data(), reply.size(), MSG_NOSIGNAL);
      }
    }
  }

  int status_;
  std::optional<std::regex> accepts_;
  LoopbackSocket listener_;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
  std::thread thread_{[this] { Loop(); }};  // last: it starts once everything above is ready
};

}  // namespace corvane::testing
