// Delivery over SMTP through libcurl. One transport (one easy handle) per server text, kept
// for the run: libcurl keeps the connection open between messages, so a run of alerts pays
// one connection and one TLS handshake, not one per message.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <string>

#include "mail/transport/curl_handle.h"
#include "mail/transport/mail_transport.h"
#include "mail/transport/server_address.h"

namespace corvane::mail {

class SmtpTransport final : public MailTransport {
 public:
  // `server` of kind kRelay, kSmtpUrl or kSmtpsUrl. Fails with kMail when libcurl refuses.
  SmtpTransport(ServerAddress server, const MailOptions& options);
  // Not movable: libcurl holds pointers to this object.
  SmtpTransport(const SmtpTransport&) = delete;
  SmtpTransport& operator=(const SmtpTransport&) = delete;

  BccHeader bcc_header() const override { return BccHeader::kOmit; }

  // Fails with kMail carrying the curl code (its number), libcurl's message, the last reply
  // code and the server's last reply line: refused connection, TLS or AUTH failure, a
  // rejected sender, recipient or message, a connection lost before the reply to the final
  // dot, or the time limit.
  long Deliver(const Envelope& envelope, const ComposedMessage& message,
               const DeliveryOptions& options) override;

 private:
  static size_t ReadMessage(char* buffer, size_t size, size_t count, void* self);
  static int Debug(CURL* handle, curl_infotype type, char* data, size_t size, void* self);
  void NoteReply(std::string_view line);
  [[noreturn]] void Fail(CURLcode code);

  ServerAddress server_;
  std::chrono::seconds connect_timeout_;
  char error_buffer_[CURL_ERROR_SIZE] = {};
  CurlList recipients_;  // declared before handle_: libcurl reads it until the handle goes

  // The message being read out by ReadMessage.
  const ComposedMessage* message_ = nullptr;
  const std::string* chosen_ = nullptr;
  std::size_t offset_ = 0;

  // What the server said, seen through the debug callback.
  bool eight_bit_mime_ = false;  // announced in the EHLO reply of this connection
  std::string reply_so_far_;     // the lines of a multi-line reply until its last line
  std::string last_reply_;
  std::string last_refusal_;  // the last 4xx or 5xx line: the QUIT after a failure answers 221

  CurlEasy handle_;
};

}  // namespace corvane::mail
