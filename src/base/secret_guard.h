// What no output of the process may show: every secret of the run, in every form the program
// itself gives it. The run makes one guard and hands it to every output (base/output.h), so a
// report, a warning, a log line, a monitor's request, the metrics file, a test message or a
// preview cannot carry a secret, whatever door it leaves by.
//
// A secret is looked for as text in each of its forms: as written; decoded (percent-escapes
// undone, a quote or brace doubled as a connection string or URL writes it); escaped as a
// one-line report or a quoted reply shows it; and as it goes on the wire in a SASL response
// (base64, at each of the three alignments a prefix can give it). Any piece of kShortestFound
// characters or more of any form is masked wherever it appears: a reply cut short, a line
// folded or a server quoting half of it shows no piece either. A secret shorter than that
// cannot be told from ordinary text; it is masked only where its grammar puts it (a PWD= value,
// the password part of a server text), and the operator is told (ShortSecrets).
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/guarded_text.h"

namespace corvane {

class SecretGuard {
 public:
  static constexpr std::size_t kShortestFound = 4;
  static constexpr std::string_view kMask = "****";

  SecretGuard() = default;
  SecretGuard(const SecretGuard&) = delete;
  SecretGuard& operator=(const SecretGuard&) = delete;

  // `secret` as it is written or used; its other forms are derived here. `what` names it for
  // ShortSecrets ("the database password"). Empty: nothing.
  void AddSecret(std::string_view secret, std::string_view what);
  // The SASL responses the program sends to log in as `user` with `password`: PLAIN's whole
  // response (RFC 4616) and LOGIN's password line. Found whatever the password's length.
  void AddLogin(std::string_view user, std::string_view password);
  // Wherever `text` appears whole it is shown as `shown`: a server text with its secrets
  // masked where its grammar puts them, also when they are too short to be looked for.
  void AddShownAs(std::string_view text, std::string shown);
  // A masker that knows a grammar (the PWD= parts of a connection string), run over every text.
  void AddGrammar(std::function<std::string(std::string_view)> masker);

  // What was added too short to be looked for as text, by name, each once.
  std::vector<std::string> ShortSecrets() const;

  // `text` from outside with every secret masked as kMask. Any thread may call it.
  GuardedText Mask(std::string_view text) const;

 private:
  void AddForm(std::string_view form);  // under the lock

  mutable std::mutex mutex_;  // the watchdog's thread masks while the run adds secrets
  std::unordered_set<std::uint32_t> pieces_;  // every kShortestFound bytes of every form
  std::vector<std::pair<std::string, std::string>> shown_as_;
  std::vector<std::function<std::string(std::string_view)>> grammars_;
  std::vector<std::string> short_;
};

// `bytes` in base64 (RFC 4648 §4), padded.
std::string Base64(std::string_view bytes);

}  // namespace corvane
