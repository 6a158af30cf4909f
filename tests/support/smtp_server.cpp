#include "support/smtp_server.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/loopback_socket.h"

namespace corvane::testing {

namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kSmtpSink = "/usr/sbin/smtp-sink";

fs::path SupportFolder() {
  return fs::path(CORVANE_SOURCE_DIR) / "tests" / "support";
}

std::string FromHex(std::string_view hex) {
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return out;
}

MailboxField SplitMailbox(const std::string& value) {
  const std::size_t nul = value.find('\0');
  return {value.substr(0, nul), nul == std::string::npos ? "" : value.substr(nul + 1)};
}

// Applies one "key value" line of mime_decode.py or of an .env file.
void Apply(ReceivedMessage& m, const std::string& key, const std::string& value) {
  if (key == "from_name")
    m.from_name = value;
  else if (key == "from_addr")
    m.from_address = value;
  else if (key == "to")
    m.to.push_back(SplitMailbox(value));
  else if (key == "cc")
    m.cc.push_back(SplitMailbox(value));
  else if (key == "bcc")
    m.bcc.push_back(SplitMailbox(value));
  else if (key == "subject")
    m.subject = value;
  else if (key == "date")
    m.date = value;
  else if (key == "message_id")
    m.message_id = value;
  else if (key == "content_type")
    m.content_type = value;
  else if (key == "charset")
    m.charset = value;
  else if (key == "cte")
    m.transfer_encoding = value;
  else if (key == "defect")
    m.defects.push_back(value);
  else if (key == "body")
    m.body = value;
  else if (key == "from")
    m.envelope_from = value;
  else if (key == "rcpt")
    m.recipients.push_back(value);
  else if (key == "auth")
    m.auth_user = value;
}

// Lines "key hex" (hex-encoded values) or "peer N" / "tls N".
void ApplyLines(ReceivedMessage& m, const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos) continue;
    const std::string key = line.substr(0, blank);
    const std::string value = line.substr(blank + 1);
    if (key == "peer")
      m.peer_port = std::stoi(value);
    else if (key == "tls")
      m.tls = value == "1";
    else
      Apply(m, key, FromHex(value));
  }
}

std::vector<fs::path> FilesEndingWith(const fs::path& folder, std::string_view suffix) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().string().ends_with(suffix)) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

bool ServicesRequired() {
  const char* value = std::getenv("CORVANE_REQUIRE_SERVICES");
  return value != nullptr && std::string_view(value) == "1";
}

ServiceCheck MimeParserAvailable() {
  if (access(kPython, X_OK) != 0) return {false, "/usr/bin/python3"};
  return {};
}

ServiceCheck SmtpServerAvailable() {
  static const ServiceCheck check = [] {
    ServiceCheck c;
    if (access(kPython, X_OK) != 0 || Run({kPython, "-c", "import aiosmtpd"}).exit_status != 0) {
      c = {false, "aiosmtpd for /usr/bin/python3 (python3-aiosmtpd)"};
    } else if (Run({"openssl", "version"}).exit_status != 0) {
      c = {false, "openssl"};
    }
    return c;
  }();
  return check;
}

ServiceCheck SmtpSinkAvailable() {
  if (access(kSmtpSink, X_OK) != 0) return {false, "smtp-sink (postfix)"};
  return {};
}

std::vector<ReceivedMessage> DecodeMessageFiles(const std::vector<fs::path>& files) {
  std::vector<ReceivedMessage> messages;
  if (files.empty()) return messages;
  std::vector<std::string> argv = {kPython, (SupportFolder() / "mime_decode.py").string()};
  for (const fs::path& file : files) argv.push_back(file.string());
  const ProcessResult result = Run(argv);
  if (result.exit_status != 0) throw std::runtime_error("mime_decode.py failed: " + result.err);
  std::istringstream lines(result.out);
  std::string line;
  ReceivedMessage current;
  while (std::getline(lines, line)) {
    if (line == "end") {
      current.raw = ReadFile(files[messages.size()]);
      messages.push_back(std::move(current));
      current = ReceivedMessage{};
      continue;
    }
    ApplyLines(current, line + "\n");
  }
  if (messages.size() != files.size()) throw std::runtime_error("mime_decode.py: short output");
  return messages;
}

ReceivedMessage DecodeMessage(std::string_view raw) {
  TempDir dir;
  WriteFile(dir / "message.eml", raw);
  return DecodeMessageFiles({dir / "message.eml"}).at(0);
}

TestCertificate MakeTestCertificate(const fs::path& folder) {
  TestCertificate certificate{folder / "cert.pem", folder / "key.pem"};
  const ProcessResult result =
      Run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
           "-nodes", "-days", "2", "-subj", "/CN=localhost", "-addext",
           "subjectAltName=IP:127.0.0.1,DNS:localhost", "-keyout", certificate.key.string(), "-out",
           certificate.cert.string()});
  if (result.exit_status != 0) throw std::runtime_error("openssl req failed: " + result.err);
  return certificate;
}

SmtpServer::SmtpServer(SmtpServerOptions options) {
  using Tls = SmtpServerOptions::Tls;
  const fs::path folder = dir_ / "mail";
  fs::create_directory(folder);
  if (options.tls != Tls::kNone || !options.auth_user.empty()) {
    certificate_ = MakeTestCertificate(dir_.path());
  }
  // Bound here, served there: the port is this server's from before it starts until it ends.
  const LoopbackSocket listener;
  port_ = listener.port();
  ProcessOptions process_options;
  process_options.pass_fds = {listener.fd()};
  process_options.stderr_file = dir_ / "server.log";
  std::vector<std::string> argv = {kPython, (SupportFolder() / "smtp_capture.py").string(),
                                   folder.string()};
  if (options.tls != Tls::kNone) {
    const char* mode = options.tls == Tls::kImplicit           ? "implicit"
                       : options.tls == Tls::kStartTlsRequired ? "starttls-required"
                                                               : "starttls";
    argv.insert(argv.end(), {"--tls", mode, "--cert", certificate_.cert.string(), "--key",
                             certificate_.key.string()});
  }
  if (!options.auth_user.empty()) {
    auth_password_ = options.auth_password.empty() ? RandomSecret() : options.auth_password;
    argv.insert(argv.end(), {"--auth-user", options.auth_user});
    process_options.set_env["CORVANE_SMTP_PASSWORD"] = auth_password_;
  }
  if (!options.announce_8bitmime) argv.push_back("--no8bitmime");
  if (options.echo_auth) argv.push_back("--echo-auth");
  process_ = std::make_unique<ChildProcess>(argv, process_options);
  if (!process_->WaitForLine("ready", std::chrono::seconds(60))) {
    process_->Stop(SIGKILL);
    throw std::runtime_error("test SMTP server did not start: " + ReadFile(dir_ / "server.log"));
  }
}

SmtpServer::~SmtpServer() {
  if (process_) process_->Stop();
}

std::vector<ReceivedMessage> SmtpServer::Messages() const {
  const fs::path folder = dir_ / "mail";
  std::vector<ReceivedMessage> messages = DecodeMessageFiles(FilesEndingWith(folder, ".eml"));
  const std::vector<fs::path> envelopes = FilesEndingWith(folder, ".env");
  for (std::size_t i = 0; i < messages.size() && i < envelopes.size(); ++i) {
    ApplyLines(messages[i], ReadFile(envelopes[i]));
  }
  return messages;
}

std::vector<std::string> SmtpServer::Commands() const {
  std::vector<std::string> commands;
  const fs::path log = dir_ / "mail" / "events.log";
  if (!fs::exists(log)) return commands;
  std::istringstream lines(ReadFile(log));
  std::string line;
  while (std::getline(lines, line)) commands.push_back(line.substr(0, line.find(' ')));
  return commands;
}

std::size_t SmtpServer::Connections() const {
  std::set<std::string> peers;
  const fs::path log = dir_ / "mail" / "events.log";
  if (!fs::exists(log)) return 0;
  std::istringstream lines(ReadFile(log));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.starts_with("EHLO ")) peers.insert(line.substr(5));
  }
  return peers.size();
}

SmtpSink::SmtpSink(const std::vector<std::string>& options) {
  // smtp-sink takes no socket from its parent, but binds port 0 as asked; the port it got is
  // the one its own descriptors listen on. Looked at only once the child runs smtp-sink: before
  // its exec the child still holds copies of the test's descriptors.
  std::vector<std::string> argv = {kSmtpSink, "-u", "nobody", "-a"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {"127.0.0.1:0", "100"});
  process_ = std::make_unique<ChildProcess>(argv);
  const fs::path executable = "/proc/" + std::to_string(process_->pid()) + "/exe";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  std::vector<int> ports;
  std::error_code ignored;
  while (fs::read_symlink(executable, ignored) != kSmtpSink ||
         (ports = ListeningPorts(process_->pid())).empty()) {
    if (!process_->running() || std::chrono::steady_clock::now() > deadline) {
      const ProcessResult result = process_->Wait(std::chrono::seconds(5));
      throw std::runtime_error("smtp-sink did not start: " + result.err);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  port_ = ports.front();
}

}  // namespace corvane::testing
