#include "mail/transport/smtp_transport.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "base/ascii.h"
#include "mail/mail_error.h"

namespace corvane::mail {

namespace {

using std::chrono::steady_clock;

constexpr std::size_t kMaxReplyKept = 400;

long Milliseconds(std::chrono::seconds s) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(s).count());
}

// The waits of an SMTP session, for the watch and for a report of a time limit: what the program
// was waiting for (read by the watchdog as "<awaited> did not end within N seconds") and what
// did not come.
struct Step {
  const char* awaited;
  const char* missing;
};
enum StepIndex : int {
  kGreeting,
  kEhlo,
  kStartTls,
  kTlsHandshake,
  kAuth,
  kMailFrom,
  kRcptTo,
  kData,
  kEndOfMessage,
  kQuit,
  kOtherCommand,
};
constexpr Step kSteps[] = {
    {"the wait for the mail server's greeting", "no greeting after connecting"},
    {"the wait for the mail server's reply to EHLO", "no reply to EHLO"},
    {"the wait for the mail server's reply to STARTTLS", "no reply to STARTTLS"},
    {"the TLS handshake with the mail server", "the TLS handshake did not end"},
    {"the wait for the mail server's reply to AUTH", "no reply to AUTH"},
    {"the wait for the mail server's reply to MAIL FROM", "no reply to MAIL FROM"},
    {"the wait for the mail server's reply to RCPT TO", "no reply to RCPT TO"},
    {"the wait for the mail server's reply to DATA", "no reply to DATA"},
    {"the wait for the mail server's reply to the end of the message",
     "no reply to the end of the message"},
    {"the wait for the mail server's reply to QUIT", "no reply to QUIT"},
    {"the wait for the mail server's reply", "no reply to the last command"},
};

// The step a command starts (its first word, as libcurl or the check sends it).
int StepOfCommand(std::string_view command) {
  static constexpr std::pair<std::string_view, StepIndex> kVerbs[] = {
      {"EHLO", kEhlo}, {"HELO", kEhlo},     {"STARTTLS", kStartTls}, {"AUTH", kAuth},
      {"MAIL", kMailFrom}, {"RCPT", kRcptTo}, {"DATA", kData},      {"QUIT", kQuit}};
  for (const auto& [verb, step] : kVerbs) {
    if (StartsWithNoCase(command, verb)) return step;
  }
  return kOtherCommand;
}

}  // namespace

SmtpTransport::SmtpTransport(ServerAddress server, const MailOptions& options)
    : server_(std::move(server)),
      connect_timeout_(options.connect_timeout),
      quit_timeout_(options.quit_timeout),
      watch_(options.watch),
      handle_(curl_easy_init()) {
  if (!handle_) ThrowMailFailure(CurlCode(CURLE_FAILED_INIT), "libcurl cannot make a handle");
  if (server_.kind != ServerKind::kRelay && !options.ca_file.empty()) {
    ca_certificates_ = ReadCaFile(options.ca_file);
  }
  Configure(handle_.get());
  CURL* h = handle_.get();
  SetCurlOption(h, CURLOPT_UPLOAD, 1L, "CURLOPT_UPLOAD");
  SetCurlOption(h, CURLOPT_READFUNCTION, &SmtpTransport::ReadMessage, "CURLOPT_READFUNCTION");
  SetCurlOption(h, CURLOPT_READDATA, this, "CURLOPT_READDATA");
}

SmtpTransport::~SmtpTransport() {
  // libcurl says QUIT on the cached connection when the handle goes, and waits for the reply as
  // long as the reply limit of the last transfer it started: its handle for closing connections
  // takes that limit when a transfer starts (measured with libcurl 7.88). A transfer that fails
  // at once, on a URL that cannot be parsed, hands it the QUIT limit without touching the
  // connection.
  CURL* h = handle_.get();
  if (h == nullptr) return;
  if (curl_easy_setopt(h, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                       static_cast<long>(quit_timeout_.count())) == CURLE_OK &&
      curl_easy_setopt(h, CURLOPT_URL, "smtp://[") == CURLE_OK) {
    (void)curl_easy_perform(h);
  }
}

void SmtpTransport::Configure(CURL* h) {
  SetCurlOption(h, CURLOPT_ERRORBUFFER, error_buffer_, "CURLOPT_ERRORBUFFER");
  SetCurlOption(h, CURLOPT_URL, server_.Url().c_str(), "CURLOPT_URL");
  SetCurlOption(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps", "CURLOPT_PROTOCOLS_STR");
  SetCurlOption(h, CURLOPT_NOSIGNAL, 1L, "CURLOPT_NOSIGNAL");
  // The protocol trace is how the server's reply text and its EHLO extensions are seen.
  SetCurlOption(h, CURLOPT_DEBUGFUNCTION, &SmtpTransport::Debug, "CURLOPT_DEBUGFUNCTION");
  SetCurlOption(h, CURLOPT_DEBUGDATA, this, "CURLOPT_DEBUGDATA");
  SetCurlOption(h, CURLOPT_VERBOSE, 1L, "CURLOPT_VERBOSE");
  // Called about once a second while libcurl waits: how a QUIT of its own is kept short.
  SetCurlOption(h, CURLOPT_XFERINFOFUNCTION, &SmtpTransport::Progress, "CURLOPT_XFERINFOFUNCTION");
  SetCurlOption(h, CURLOPT_XFERINFODATA, this, "CURLOPT_XFERINFODATA");
  SetCurlOption(h, CURLOPT_NOPROGRESS, 0L, "CURLOPT_NOPROGRESS");
  if (server_.kind == ServerKind::kRelay) {
    // Opportunistic STARTTLS as an MTA does it (RFC 3207 §4.1, RFC 7435): encrypt when offered,
    // but an internal relay's certificate is rarely one the system store knows.
    SetCurlOption(h, CURLOPT_SSL_VERIFYPEER, 0L, "CURLOPT_SSL_VERIFYPEER");
    SetCurlOption(h, CURLOPT_SSL_VERIFYHOST, 0L, "CURLOPT_SSL_VERIFYHOST");
  } else {
    SetCurlOption(h, CURLOPT_SSL_VERIFYPEER, 1L, "CURLOPT_SSL_VERIFYPEER");
    SetCurlOption(h, CURLOPT_SSL_VERIFYHOST, 2L, "CURLOPT_SSL_VERIFYHOST");
    if (ca_certificates_) SetCaCertificates(h, *ca_certificates_);
  }
  if (server_.has_credentials) {
    SetCurlOption(h, CURLOPT_USERNAME, server_.user.c_str(), "CURLOPT_USERNAME");
    SetCurlOption(h, CURLOPT_PASSWORD, server_.password.c_str(), "CURLOPT_PASSWORD");
  }
}

void SmtpTransport::SetLimits(CURL* h, const DeliveryOptions& options) {
  long use_ssl = CURLUSESSL_NONE;
  switch (server_.kind) {
    case ServerKind::kRelay:
      use_ssl = options.opportunistic_tls ? CURLUSESSL_TRY : CURLUSESSL_NONE;
      break;
    case ServerKind::kSmtpUrl:
      // Credentials never travel in clear (RFC 4954 §4): no STARTTLS, no AUTH.
      use_ssl = server_.has_credentials ? CURLUSESSL_ALL : CURLUSESSL_TRY;
      break;
    case ServerKind::kSmtpsUrl:
    case ServerKind::kPickup:
      use_ssl = CURLUSESSL_ALL;
      break;
  }
  SetCurlOption(h, CURLOPT_USE_SSL, use_ssl, "CURLOPT_USE_SSL");
  SetCurlOption(h, CURLOPT_TIMEOUT_MS, Milliseconds(options.time_limit), "CURLOPT_TIMEOUT_MS");
  // Each reply within the send's limit too; libcurl's own default is two minutes, and it is
  // what the QUIT of a connection closed later waits (see the destructor).
  SetCurlOption(h, CURLOPT_SERVER_RESPONSE_TIMEOUT, static_cast<long>(options.time_limit.count()),
                "CURLOPT_SERVER_RESPONSE_TIMEOUT");
  SetCurlOption(h, CURLOPT_CONNECTTIMEOUT_MS,
                Milliseconds(std::min(connect_timeout_, options.time_limit)),
                "CURLOPT_CONNECTTIMEOUT_MS");
}

void SmtpTransport::ClearReplies() {
  last_reply_.clear();
  last_refusal_.clear();
  refusal_step_ = 0;
  reply_so_far_.clear();
  error_buffer_[0] = '\0';
  tls_started_ = server_.kind == ServerKind::kSmtpsUrl;
  logged_in_ = false;
  step_ = server_.kind == ServerKind::kSmtpsUrl ? kTlsHandshake : kGreeting;
  quit_deadline_ = {};
}

void SmtpTransport::NoteStep(int step) {
  step_ = step;
  if (step == kQuit) quit_deadline_ = steady_clock::now() + quit_timeout_;
  if (watched_ && watch_ != nullptr) watch_->Watch({deadline_, limit_, kSteps[step].awaited});
}

long SmtpTransport::Deliver(const Envelope& envelope, const ComposedMessage& message,
                            const DeliveryOptions& options) {
  CURL* h = handle_.get();
  SetLimits(h, options);
  const std::string from = "<" + envelope.from + ">";
  SetCurlOption(h, CURLOPT_MAIL_FROM, from.c_str(), "CURLOPT_MAIL_FROM");
  CurlList recipients;
  for (const std::string& address : envelope.recipients) {
    AppendCurlList(recipients, ("<" + address + ">").c_str());
  }
  SetCurlOption(h, CURLOPT_MAIL_RCPT, recipients.get(), "CURLOPT_MAIL_RCPT");
  recipients_ = std::move(recipients);

  message_ = &message;
  chosen_ = nullptr;
  offset_ = 0;
  ClearReplies();
  limit_ = options.time_limit;
  CURLcode code = CURLE_OK;
  {
    // libcurl keeps the limit itself; the watch is there for when it cannot.
    const BoundedWait wait(watch_, limit_, kSteps[step_].awaited, kOwnLimitMargin);
    deadline_ = steady_clock::now() + limit_ + kOwnLimitMargin;
    watched_ = true;
    code = curl_easy_perform(h);
    watched_ = false;
  }
  message_ = nullptr;
  if (code != CURLE_OK) Fail(h, code);
  long reply = 0;
  CheckCurl(curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &reply), "CURLINFO_RESPONSE_CODE");
  return reply;
}

std::string SmtpTransport::Check(const std::vector<Envelope>& envelopes,
                                 const DeliveryOptions& options) {
  CurlEasy check(curl_easy_init());
  if (!check) ThrowMailFailure(CurlCode(CURLE_FAILED_INIT), "libcurl cannot make a handle");
  CURL* h = check.get();
  Configure(h);
  SetLimits(h, options);
  // Connecting only: for SMTP that is the greeting, EHLO, STARTTLS and AUTH.
  SetCurlOption(h, CURLOPT_CONNECT_ONLY, 1L, "CURLOPT_CONNECT_ONLY");
  const auto deadline = steady_clock::now() + options.time_limit;
  ClearReplies();
  limit_ = options.time_limit;
  const BoundedWait wait(watch_, limit_, kSteps[step_].awaited, kOwnLimitMargin);
  deadline_ = deadline + kOwnLimitMargin;
  watched_ = true;
  const CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    watched_ = false;
    Fail(h, code);
  }
  std::string found = server_.Describe() + ": greeted";
  if (tls_started_) found += ", TLS";
  if (logged_in_) found += ", logged in as " + server_.user;
  for (const Envelope& envelope : envelopes) {
    Command(h, "MAIL FROM:<" + envelope.from + ">", deadline);
    found += "; " + envelope.from + " ->";
    for (const std::string& recipient : envelope.recipients) {
      Command(h, "RCPT TO:<" + recipient + ">", deadline);
      found += " " + recipient;
    }
    Command(h, "RSET", deadline);
  }
  Quit(h, std::min(deadline, steady_clock::now() + quit_timeout_));
  watched_ = false;
  return found + ": accepted";
}

void SmtpTransport::Quit(CURL* h, std::chrono::steady_clock::time_point deadline) noexcept {
  curl_socket_t socket = CURL_SOCKET_BAD;
  if (curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
      socket == CURL_SOCKET_BAD) {
    return;
  }
  NoteStep(kQuit);
  const auto wait = [&](short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fd{socket, events, 0};
    ::poll(&fd, 1, static_cast<int>(left.count()));
    return true;
  };
  constexpr std::string_view kLine = "QUIT\r\n";
  std::size_t sent = 0;
  while (sent < kLine.size()) {
    std::size_t n = 0;
    const CURLcode code = curl_easy_send(h, kLine.data() + sent, kLine.size() - sent, &n);
    if (code == CURLE_AGAIN && wait(POLLOUT)) continue;
    if (code != CURLE_OK) break;
    sent += n;
  }
  // The reply is read only so the server is not cut off mid-answer; what it says changes nothing.
  for (std::string reply; sent == kLine.size() && reply.find('\n') == std::string::npos;) {
    char buffer[512];
    std::size_t n = 0;
    const CURLcode code = curl_easy_recv(h, buffer, sizeof buffer, &n);
    if (code == CURLE_AGAIN && wait(POLLIN)) continue;
    if (code != CURLE_OK || n == 0) break;
    reply.append(buffer, n);
  }
  // Closed for libcurl too: it would otherwise say QUIT once more when the handle goes.
  ::shutdown(socket, SHUT_RDWR);
}

std::string SmtpTransport::Command(CURL* h, const std::string& command,
                                   std::chrono::steady_clock::time_point deadline) {
  NoteStep(StepOfCommand(command));
  const std::string line = command + "\r\n";
  std::size_t sent = 0;
  curl_socket_t socket = CURL_SOCKET_BAD;
  CheckCurl(curl_easy_getinfo(h, CURLINFO_ACTIVESOCKET, &socket), "CURLINFO_ACTIVESOCKET");
  const auto wait = [&](short events) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady_clock::now());
    if (left.count() <= 0) {
      ThrowMailFailure(CurlCode(CURLE_OPERATION_TIMEDOUT), "checking " + server_.Describe() +
                                                               " failed: no reply to " + command +
                                                               " within the time limit");
    }
    pollfd fd{socket, events, 0};
    ::poll(&fd, 1, static_cast<int>(std::min<long long>(left.count(), 1000)));
  };
  while (sent < line.size()) {
    std::size_t n = 0;
    const CURLcode code = curl_easy_send(h, line.data() + sent, line.size() - sent, &n);
    if (code == CURLE_AGAIN) {
      wait(POLLOUT);
      continue;
    }
    if (code != CURLE_OK) Fail(h, code);
    sent += n;
  }
  // The reply ends with its last line: the code followed by a blank (RFC 5321 §4.2.1).
  std::string reply;
  while (true) {
    const std::size_t last = reply.rfind('\n', reply.size() >= 2 ? reply.size() - 2 : 0);
    const std::size_t start = last == std::string::npos ? 0 : last + 1;
    if (!reply.empty() && reply.back() == '\n' && reply.size() - start >= 4 &&
        reply[start + 3] == ' ') {
      break;
    }
    char buffer[1024];
    std::size_t n = 0;
    const CURLcode code = curl_easy_recv(h, buffer, sizeof buffer, &n);
    if (code == CURLE_AGAIN) {
      wait(POLLIN);
      continue;
    }
    if (code != CURLE_OK) Fail(h, code);
    if (n == 0) {
      ThrowMailFailure(CurlCode(CURLE_RECV_ERROR),
                       "checking " + server_.Describe() +
                           " failed: the server closed the connection after " + command);
    }
    reply.append(buffer, n);
    if (reply.size() > 64 * 1024) break;
  }
  std::string joined;
  for (std::size_t at = 0; at < reply.size();) {
    std::size_t end = reply.find('\n', at);
    if (end == std::string::npos) end = reply.size();
    std::string_view one(reply.data() + at, end - at);
    if (!one.empty() && one.back() == '\r') one.remove_suffix(1);
    if (!joined.empty()) joined += ' ';
    joined.append(one.substr(0, kMaxReplyKept));
    at = end + 1;
  }
  last_reply_ = joined;
  if (joined.empty() || joined[0] != '2') {
    ThrowMailFailure(CurlCode(CURLE_WEIRD_SERVER_REPLY),
                     "checking " + server_.Describe() + " failed: " + command +
                         " was refused; server said: " + Quoted(joined));
  }
  return joined;
}

size_t SmtpTransport::ReadMessage(char* buffer, size_t size, size_t count, void* self) {
  auto& transport = *static_cast<SmtpTransport*>(self);
  if (transport.message_ == nullptr) return 0;
  if (transport.chosen_ == nullptr) {
    // Read only after the server's 354, so its EHLO reply has been seen: 8bit goes only to a
    // server that announced 8BITMIME (RFC 6152).
    const ComposedMessage& message = *transport.message_;
    const bool eight_bit = !message.eight_bit.empty() && transport.eight_bit_mime_;
    transport.chosen_ = eight_bit ? &message.eight_bit : &message.seven_bit;
  }
  const std::string& bytes = *transport.chosen_;
  const std::size_t n = std::min(size * count, bytes.size() - transport.offset_);
  std::memcpy(buffer, bytes.data() + transport.offset_, n);
  transport.offset_ += n;
  // Nothing more to read: libcurl ends the message with its dot and waits for the reply.
  if (n == 0) transport.NoteStep(kEndOfMessage);
  return n;
}

int SmtpTransport::Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  const auto& transport = *static_cast<SmtpTransport*>(self);
  const bool quit_overdue = transport.quit_deadline_ != steady_clock::time_point{} &&
                            steady_clock::now() >= transport.quit_deadline_;
  return quit_overdue ? 1 : 0;  // non-zero: libcurl gives up the wait
}

int SmtpTransport::Debug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
  auto& transport = *static_cast<SmtpTransport*>(self);
  if (type == CURLINFO_HEADER_OUT) {
    transport.last_command_.assign(data, std::min<std::size_t>(size, 16));
    transport.NoteStep(StepOfCommand(transport.last_command_));
    return 0;
  }
  if (type != CURLINFO_HEADER_IN) return 0;
  std::string_view text(data, size);
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    transport.NoteReply(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return 0;
}

void SmtpTransport::NoteReply(std::string_view line) {
  if (line.size() < 3) return;
  // A greeting (also the one after STARTTLS) starts a new EHLO: forget what was announced.
  if (line.starts_with("220")) eight_bit_mime_ = false;
  if (line.starts_with("220") && StartsWithNoCase(last_command_, "STARTTLS")) {
    tls_started_ = true;
    NoteStep(kTlsHandshake);
  }
  if (line.starts_with("235")) logged_in_ = true;
  if (line.size() >= 4 && line.starts_with("250") && EqualsNoCase(line.substr(4), "8BITMIME")) {
    eight_bit_mime_ = true;
  }
  // A multi-line reply ("550-...", ..., "550 ...") is kept whole: servers often give the reason
  // on the first lines and a link on the last (RFC 5321 §4.2.1).
  if (!reply_so_far_.empty()) reply_so_far_ += ' ';
  reply_so_far_.append(line.substr(0, kMaxReplyKept));
  if (line.size() > 3 && line[3] == '-' && reply_so_far_.size() < kMaxReplyKept) return;
  last_reply_ = reply_so_far_.substr(0, kMaxReplyKept);
  reply_so_far_.clear();
  if (line[0] == '4' || line[0] == '5') {
    last_refusal_ = last_reply_;
    refusal_step_ = step_;
  }
}

DeliveryReport SmtpTransport::last_failure() const {
  const bool about_the_message =
      refusal_step_ == kRcptTo || refusal_step_ == kData || refusal_step_ == kEndOfMessage;
  return {last_refusal_.empty() ? last_reply_ : last_refusal_,
          last_refusal_.starts_with('5') && about_the_message};
}

void SmtpTransport::Fail(CURL* handle, CURLcode code) {
  if (code == CURLE_OPERATION_TIMEDOUT) {
    // The last reply answered an earlier step: name the one that went unanswered instead.
    const bool connecting = step_ == kGreeting || step_ == kTlsHandshake || step_ == kEhlo;
    const auto limit = connecting ? std::min(connect_timeout_, limit_) : limit_;
    std::string text = "sending through " + server_.Describe() +
                       " failed: " + kSteps[step_].missing + " within " +
                       std::to_string(limit.count()) + " seconds";
    if (error_buffer_[0] != '\0') text += ": " + std::string(error_buffer_);
    ThrowMailFailure(CurlCode(code), std::move(text));
  }
  long reply = 0;  // stays 0 if libcurl cannot say: the failure itself is reported either way
  (void)curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &reply);
  std::string text =
      "sending through " + server_.Describe() + " failed: " + curl_easy_strerror(code);
  if (error_buffer_[0] != '\0') text += ": " + std::string(error_buffer_);
  if (reply != 0) text += "; reply code " + std::to_string(reply);
  const std::string& said = last_refusal_.empty() ? last_reply_ : last_refusal_;
  if (!said.empty()) text += "; server said: " + Quoted(said);
  ThrowMailFailure(CurlCode(code), std::move(text));
}

}  // namespace corvane::mail
