#include "support/scripted_smtp_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <functional>
#include <stdexcept>

namespace corvane::testing {

namespace {

constexpr std::size_t kMaxLine = 1 << 20;  // a client sending more without a line end is broken

std::string UpperVerb(std::string_view line) {
  std::string verb(line.substr(0, line.find(' ')));
  for (char& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return verb;
}

// The path between the angle brackets of "MAIL FROM:<...>" or "RCPT TO:<...>".
std::string PathOf(std::string_view line) {
  const std::size_t open = line.find('<');
  const std::size_t close = line.rfind('>');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    return std::string(line);
  }
  return std::string(line.substr(open + 1, close - open - 1));
}

bool Positive(const std::string& reply) {
  return !reply.empty() && reply[0] == '2';
}

}  // namespace

// One client connection, served to its end on the server's thread.
class ScriptedSmtpServer::Session {
 public:
  Session(ScriptedSmtpServer& server, int fd, int connection)
      : server_(server), fd_(fd), connection_(connection) {}

  void Run() {
    if (!Answer(SmtpStep::kGreeting, connection_, "220 scripted.test ESMTP")) return;
    std::string line;
    while (ReadLine(line)) {
      Record(line);
      const std::string verb = UpperVerb(line);
      std::optional<std::string> reply;
      if (verb == "EHLO" || verb == "HELO") {
        std::string usual = "250-scripted.test\r\n250-SIZE 10485760\r\n250-8BITMIME\r\n";
        if (server_.options_.offer_starttls) usual += "250-STARTTLS\r\n";
        reply = Answer(SmtpStep::kEhlo, connection_, usual + "250 HELP");
      } else if (verb == "STARTTLS") {
        reply = Answer(SmtpStep::kStartTls, connection_, "454 4.7.0 TLS not available");
      } else if (verb == "MAIL") {
        {
          const std::lock_guard lock(server_.mutex_);
          message_ = ++server_.messages_;
        }
        current_ = SmtpTransaction{PathOf(line), {}, {}};
        reply = Answer(SmtpStep::kMail, message_, "250 2.1.0 Ok");
      } else if (verb == "RCPT") {
        const std::string recipient = PathOf(line);
        reply = recipient == server_.options_.refused_recipient
                    ? Write("550 5.1.1 <" + recipient + ">: Recipient address rejected")
                    : Answer(SmtpStep::kRcpt, message_, "250 2.1.5 Ok");
        if (reply && Positive(*reply)) current_.recipients.push_back(recipient);
      } else if (verb == "DATA") {
        reply = Answer(SmtpStep::kData, message_, "354 End data with <CR><LF>.<CR><LF>");
        if (reply && reply->starts_with("354")) reply = ReadMessage();
      } else if (verb == "RSET" || verb == "NOOP") {
        if (verb == "RSET") current_ = {};
        reply = Write("250 2.0.0 Ok");
      } else if (verb == "QUIT") {
        Answer(SmtpStep::kQuit, connection_, "221 2.0.0 Bye");
        return;
      } else {
        reply = Write("502 5.5.2 Error: command not recognized");
      }
      if (!reply) return;
    }
  }

 private:
  // After a 354: the data lines up to the lone dot, then the answer to the dot.
  std::optional<std::string> ReadMessage() {
    std::string line;
    while (ReadLine(line)) {
      if (line == ".") {
        Record(".");
        // Recorded before the reply goes out: a client that has read "250" may already be gone
        // and its test asking what arrived.
        return Answer(SmtpStep::kDot, message_, "250 2.0.0 Ok: queued",
                      [this](const std::string& reply) {
                        if (!Positive(reply)) return;
                        const std::lock_guard lock(server_.mutex_);
                        server_.accepted_.push_back(current_);
                      });
      }
      if (line.starts_with('.')) line.erase(0, 1);  // dot-stuffing (RFC 5321 §4.5.2)
      current_.data += line;
      current_.data += "\r\n";
    }
    return std::nullopt;
  }

  // Answers at `step`: the usual reply unless a misstep holds from `number` on. Returns the
  // reply sent, or nothing when the session ends here.
  std::optional<std::string> Answer(
      SmtpStep step, int number, std::string usual,
      const std::function<void(const std::string&)>& before_reply = nullptr) {
    const SmtpMisstep* misstep = nullptr;
    for (const SmtpMisstep& m : server_.options_.missteps) {
      if (m.step == step && number >= m.from) misstep = &m;
    }
    if (misstep != nullptr) {
      if (misstep->action == SmtpMisstep::Action::kClose) return std::nullopt;
      if (misstep->action == SmtpMisstep::Action::kSilence) {
        std::string ignored;
        while (ReadLine(ignored)) {
        }
        return std::nullopt;
      }
      usual = misstep->reply;
    }
    if (server_.options_.hold_at == step) {
      std::unique_lock lock(server_.mutex_);
      server_.holding_ = true;
      server_.changed_.notify_all();
      server_.changed_.wait(lock, [this] { return server_.released_ || server_.stopping_; });
      server_.holding_ = false;
      if (server_.stopping_) return std::nullopt;
    }
    if (before_reply) before_reply(usual);
    return Write(usual);
  }

  std::optional<std::string> Write(std::string reply) {
    const std::string bytes = reply + "\r\n";
    const std::size_t piece =
        server_.options_.packet_size == 0 ? bytes.size() : server_.options_.packet_size;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      if (at != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      const std::size_t n = std::min(piece, bytes.size() - at);
      std::size_t sent = 0;
      while (sent < n) {
        const ssize_t r = ::send(fd_, bytes.data() + at + sent, n - sent, MSG_NOSIGNAL);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        sent += static_cast<std::size_t>(r);
      }
    }
    return reply;
  }

  // One line without its CR LF (a bare LF ends a line too); false when the client closed or
  // the server stops.
  bool ReadLine(std::string& line) {
    while (true) {
      const std::size_t end = buffer_.find('\n');
      if (end != std::string::npos) {
        line = buffer_.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        buffer_.erase(0, end + 1);
        return true;
      }
      if (buffer_.size() > kMaxLine) return false;
      pollfd fds[2] = {{fd_, POLLIN, 0}, {server_.wake_read_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (fds[1].revents != 0) return false;
      char chunk[16384];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  void Record(const std::string& line) {
    const std::lock_guard lock(server_.mutex_);
    server_.commands_.push_back(line);
    server_.changed_.notify_all();
  }

  ScriptedSmtpServer& server_;
  int fd_;
  int connection_;
  int message_ = 0;
  std::string buffer_;
  SmtpTransaction current_;
};

ScriptedSmtpServer::ScriptedSmtpServer(ScriptedSmtpOptions options) : options_(std::move(options)) {
  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  wake_read_ = wake[0];
  wake_write_ = wake[1];
  thread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedSmtpServer::~ScriptedSmtpServer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  const char byte = 0;
  (void)!::write(wake_write_, &byte, 1);
  thread_.join();
  ::close(wake_read_);
  ::close(wake_write_);
}

bool ScriptedSmtpServer::Stopping() const {
  const std::lock_guard lock(mutex_);
  return stopping_;
}

void ScriptedSmtpServer::AcceptLoop() {
  while (!Stopping()) {
    pollfd fds[2] = {{listener_.fd(), POLLIN, 0}, {wake_read_, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if (fds[0].revents == 0) continue;
    const int fd = ::accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int connection = 0;
    {
      const std::lock_guard lock(mutex_);
      connection = static_cast<int>(++connections_);
    }
    Session(*this, fd, connection).Run();
    ::close(fd);
  }
}

std::vector<SmtpTransaction> ScriptedSmtpServer::Accepted() const {
  const std::lock_guard lock(mutex_);
  return accepted_;
}

std::vector<std::string> ScriptedSmtpServer::Commands() const {
  const std::lock_guard lock(mutex_);
  return commands_;
}

std::size_t ScriptedSmtpServer::Connections() const {
  const std::lock_guard lock(mutex_);
  return connections_;
}

bool ScriptedSmtpServer::WaitForCommand(std::string_view verb,
                                        std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] {
    return std::any_of(commands_.begin(), commands_.end(),
                       [&](const std::string& line) { return UpperVerb(line) == verb; });
  });
}

bool ScriptedSmtpServer::WaitUntilHolding(std::chrono::milliseconds limit) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return holding_; });
}

void ScriptedSmtpServer::Release() {
  const std::lock_guard lock(mutex_);
  released_ = true;
  changed_.notify_all();
}

}  // namespace corvane::testing
