// Delivery over SMTP through libcurl. One transport (one easy handle) per server text, kept
// for the run: libcurl keeps the connection open between messages, so a run of alerts pays
// one connection and one TLS handshake, not one per message.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

#include "mail/transport/curl_handle.h"
#include "mail/transport/mail_transport.h"
#include "mail/transport/server_address.h"

namespace corvane::mail {

class SmtpTransport final : public MailTransport {
 public:
  // `server` of kind kRelay, kSmtpUrl or kSmtpsUrl. Fails with kMail when libcurl refuses or
  // the CA file cannot be used (ReadCaFile).
  SmtpTransport(ServerAddress server, const MailOptions& options);
  // Closes the cached connection with a QUIT that waits at most MailOptions::quit_timeout.
  ~SmtpTransport() override;
  // Not movable: libcurl holds pointers to this object.
  SmtpTransport(const SmtpTransport&) = delete;
  SmtpTransport& operator=(const SmtpTransport&) = delete;

  BccHeader bcc_header() const override { return BccHeader::kOmit; }

  // Fails with kMail carrying the curl code (its number), libcurl's message, the last reply
  // code and the server's last reply line: refused connection, TLS or AUTH failure, a
  // rejected sender, recipient or message, a connection lost before the reply to the final
  // dot; or, for the time limit, the step the server did not answer. The watch, if any, holds
  // the delivery to its time limit (plus a margin for libcurl's own) and names the same step.
  long Deliver(const Envelope& envelope, const ComposedMessage& message,
               const DeliveryOptions& options) override;
  std::string last_reply() const override { return last_reply_; }
  // For good: a 5xx reply to RCPT TO, DATA or the end of the message. A 5xx to anything else
  // (the greeting, EHLO, AUTH, MAIL FROM) is about the session or the sender, not this message.
  DeliveryReport last_failure() const override;
  // On a connection of its own: libcurl connects, greets, says EHLO, STARTTLS and AUTH as a
  // delivery would; the envelopes' MAIL FROM, RCPT TO and RSET and the QUIT follow as commands.
  // An unanswered QUIT does not fail the check: everything it asks about was answered.
  std::string Check(const std::vector<Envelope>& envelopes,
                    const DeliveryOptions& options) override;

 private:
  // Everything a handle for this server needs but the envelope and the time limits.
  void Configure(CURL* handle);
  void SetLimits(CURL* handle, const DeliveryOptions& options);
  // One command of a check and the server's whole reply (its lines joined); fails on a reply
  // that is not 2xx, or when nothing comes within the time left.
  std::string Command(CURL* handle, const std::string& command,
                      std::chrono::steady_clock::time_point deadline);
  // The check's QUIT: waits for the reply until `deadline`, fails on nothing, and leaves the
  // connection closed so that libcurl has nothing left to say.
  void Quit(CURL* handle, std::chrono::steady_clock::time_point deadline) noexcept;
  static size_t ReadMessage(char* buffer, size_t size, size_t count, void* self);
  static int Debug(CURL* handle, curl_infotype type, char* data, size_t size, void* self);
  static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  void NoteReply(std::string_view line);
  // The wait now under way (an index into the step table of the .cpp), also for the watch.
  void NoteStep(int step);
  [[noreturn]] void Fail(CURL* handle, CURLcode code);
  void ClearReplies();

  ServerAddress server_;
  std::chrono::seconds connect_timeout_;
  std::chrono::seconds quit_timeout_;
  // From MailOptions::ca_file, read once, for the forms that verify; none: the system's.
  std::optional<std::string> ca_certificates_;
  WaitWatch* watch_;
  char error_buffer_[CURL_ERROR_SIZE] = {};
  CurlList recipients_;  // declared before handle_: libcurl reads it until the handle goes

  // The message being read out by ReadMessage.
  const ComposedMessage* message_ = nullptr;
  const std::string* chosen_ = nullptr;
  std::size_t offset_ = 0;

  // What the server said, seen through the debug callback.
  bool eight_bit_mime_ = false;  // announced in the EHLO reply of this connection
  bool tls_started_ = false;     // a STARTTLS was answered 220 (or the form is smtps)
  bool logged_in_ = false;       // an AUTH was answered 235
  std::string reply_so_far_;     // the lines of a multi-line reply until its last line
  std::string last_reply_;
  std::string last_refusal_;   // the last 4xx or 5xx line: the QUIT after a failure answers 221
  int refusal_step_ = 0;       // the step last_refusal_ answered
  std::string last_command_;  // the start of the last command libcurl sent

  // The delivery under way: its step, its time limit, and when it must have ended.
  int step_ = 0;
  std::chrono::seconds limit_{0};
  std::chrono::steady_clock::time_point deadline_{};
  bool watched_ = false;
  // When libcurl says QUIT itself (closing the connection after a failure): the latest moment
  // its reply is waited for.
  std::chrono::steady_clock::time_point quit_deadline_{};

  CurlEasy handle_;
};

}  // namespace corvane::mail
