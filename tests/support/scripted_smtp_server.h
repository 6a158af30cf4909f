// A hand-driven SMTP server for fault tests, on 127.0.0.1 in a thread of the test process. It
// speaks enough SMTP for libcurl (EHLO, MAIL, RCPT, DATA, RSET, NOOP, QUIT; STARTTLS only to
// refuse it) and misbehaves exactly where a test says: a refusal at one step from the n-th
// message on, a connection dropped without a reply, silence, a reply held until the test lets it
// go, and replies cut into separate packets. aiosmtpd and smtp-sink cannot fail at the n-th
// message of a session or split a reply, so the fleet passes' marks are tested against this one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/loopback_socket.h"

namespace corvane::testing {

// The points of a session where the server answers.
enum class SmtpStep { kGreeting, kEhlo, kStartTls, kMail, kRcpt, kData, kDot, kQuit };

struct SmtpMisstep {
  enum class Action {
    kReply,    // send `reply` instead of the usual answer
    kClose,    // close the connection without a word
    kSilence,  // say nothing and keep listening
  };
  SmtpStep step = SmtpStep::kGreeting;
  Action action = Action::kReply;
  // Reply lines separated by CR LF, without the final CR LF. A reply to the final dot that
  // starts with '2' still accepts the message.
  std::string reply;
  // The message (MAIL commands counted from 1 over the server's life) from which the misstep
  // holds; for the greeting, EHLO, STARTTLS and QUIT, the connection.
  int from = 1;
};

struct ScriptedSmtpOptions {
  std::vector<SmtpMisstep> missteps;
  bool offer_starttls = false;
  // Not zero: every reply is written in pieces of this many bytes, one write each with a pause
  // in between, so the client reads it in separate packets.
  std::size_t packet_size = 0;
  // The reply at this step waits until Release().
  std::optional<SmtpStep> hold_at;
  // Not empty: RCPT TO this address is answered 550, every other as usual.
  std::string refused_recipient;
};

// One message as the server took it: the envelope and the data, dot-stuffing removed.
struct SmtpTransaction {
  std::string from;
  std::vector<std::string> recipients;
  std::string data;
};

class ScriptedSmtpServer {
 public:
  // Listens at once; throws std::runtime_error when it cannot.
  explicit ScriptedSmtpServer(ScriptedSmtpOptions options = {});
  ~ScriptedSmtpServer();
  ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
  ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

  int port() const { return listener_.port(); }
  std::string host_port() const { return listener_.host_port(); }

  // Messages whose final dot the server answered with a 2xx reply, in order.
  std::vector<SmtpTransaction> Accepted() const;
  // Every command line received, in order (the data lines of a message excluded).
  std::vector<std::string> Commands() const;
  std::size_t Connections() const;
  // Waits until a command line starting with `verb` (e.g. "MAIL", ".") has been received, or
  // until a held reply is waiting; false after `limit`.
  bool WaitForCommand(std::string_view verb, std::chrono::milliseconds limit) const;
  bool WaitUntilHolding(std::chrono::milliseconds limit) const;
  // Lets a held reply (and every later one) go.
  void Release();

 private:
  class Session;
  void AcceptLoop();
  bool Stopping() const;

  ScriptedSmtpOptions options_;
  LoopbackSocket listener_;
  int wake_read_ = -1;  // becomes readable when the server stops
  int wake_write_ = -1;

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  bool stopping_ = false;
  bool released_ = false;
  bool holding_ = false;
  int messages_ = 0;  // MAIL commands so far
  std::size_t connections_ = 0;
  std::vector<std::string> commands_;
  std::vector<SmtpTransaction> accepted_;
  std::thread thread_;  // last: it starts once everything above is ready
};

}  // namespace corvane::testing
