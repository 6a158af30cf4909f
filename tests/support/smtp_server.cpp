#include "support/smtp_server.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <sstream>
#include <stdexcept>

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

void StartAndWait(std::unique_ptr<ChildProcess>& process, const std::vector<std::string>& argv,
                  const ProcessOptions& options, int port) {
  process = std::make_unique<ChildProcess>(argv, options);
  if (!WaitForPort(port) || !process->running()) {
    process->Stop(9);
    throw std::runtime_error("test SMTP server did not start: " + argv[0] + " " + argv[1]);
  }
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
  fs::create_directory(dir_ / "mail");
  port_ = FreePort();
  const std::string folder = (dir_ / "mail").string();
  if (options.tls != Tls::kNone || !options.auth_user.empty()) {
    certificate_ = MakeTestCertificate(dir_.path());
  }
  ProcessOptions process_options;
  process_options.set_env["PYTHONPATH"] = SupportFolder().string();
  process_options.stderr_file = dir_ / "server.log";
  std::vector<std::string> argv;
  if (!options.auth_user.empty()) {
    argv = {kPython,
            (SupportFolder() / "smtp_auth_server.py").string(),
            std::to_string(port_),
            folder,
            certificate_.cert.string(),
            certificate_.key.string(),
            options.auth_user,
            options.auth_password};
    if (options.tls == Tls::kImplicit) argv.push_back("smtps");
  } else {
    argv = {kPython, "-m",        "aiosmtpd", "-n",
            "-l",    host_port(), "-c",       "smtp_capture.CaptureHandler"};
    if (options.tls == Tls::kImplicit) {
      argv.insert(argv.end(), {"--smtpscert", certificate_.cert.string(), "--smtpskey",
                               certificate_.key.string()});
    } else if (options.tls != Tls::kNone) {
      argv.insert(argv.end(),
                  {"--tlscert", certificate_.cert.string(), "--tlskey", certificate_.key.string()});
      if (options.tls == Tls::kStartTls) argv.push_back("--no-requiretls");
    }
    argv.push_back(folder);
    if (!options.announce_8bitmime) argv.push_back("no8bitmime");
  }
  StartAndWait(process_, argv, process_options, port_);
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
  port_ = FreePort();
  std::vector<std::string> argv = {kSmtpSink, "-u", "nobody", "-a"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("127.0.0.1:" + std::to_string(port_));
  argv.push_back("100");
  StartAndWait(process_, argv, {}, port_);
}

}  // namespace corvane::testing
