// Mail throughput: N alerts through the real mail component (SendMsg, one connection kept per
// server) to a local smtp-sink, beside the floor measured in the same run: postfix's
// smtp-source sending the same count of messages of the same size over one connection to the
// same sink. A third row sends N/10 with a new component per message (a new connection each)
// to show what keeping the connection saves.
// Usage: mail_throughput [N=10000] [BODY_BYTES=600]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"
#include "mail/compose/message_composer.h"
#include "mail/delivering_component.h"
#include "mail/send_msg.h"

namespace {

using corvane::mail::DeliveringMailComponent;
using corvane::mail::MailSender;

constexpr const char* kFrom = "alerts@corvanetours.com";
constexpr const char* kTo = "dispatch@corvanetours.com";
constexpr const char* kSubject = "Tour Drop with open invoice";

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

  const corvane::bench::Server sink = corvane::bench::StartSmtpSink();
  const std::string server = "127.0.0.1:" + std::to_string(sink.port);

  const double ours = SendAll(count, server, body, true);
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  const int fresh_count = count / 10 > 0 ? count / 10 : 1;
  const double fresh = SendAll(fresh_count, server, body, false);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);

  const corvane::bench::Measurement floor =
      corvane::bench::Measure({"smtp-source", "-d", "-s", "1", "-m", std::to_string(count), "-l",
                               std::to_string(message_bytes), "-f", kFrom, "-t", kTo, server},
                              {});
  if (floor.exit_status != 0) {
    std::fprintf(stderr, "smtp-source failed (status %d)\n", floor.exit_status);
    return 1;
  }

  std::printf("mail throughput to smtp-sink on 127.0.0.1, message %zu bytes (body %zu)\n",
              message_bytes, body.size());
  PrintRow("mail component, SendMsg, one connection kept", count, ours, self.ru_maxrss);
  PrintRow("floor: smtp-source -d, same count and size", count, floor.seconds, floor.max_rss_kib);
  std::printf("  ratio (component time / floor time) %.2fx\n", ours / floor.seconds);
  PrintRow("mail component, new connection per message", fresh_count, fresh, after.ru_maxrss);
  return 0;
}
