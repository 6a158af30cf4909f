// What an alert pass works with. The window hands this to its passes; the passes reach the log
// through RunLog, so this floor does not depend on the window.
#pragma once

#include <string_view>

#include "base/clock.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "data/connection.h"
#include "mail/send_msg.h"

namespace corvane::alerts {

class MessageLedger;

// The run log (the window's txtResults): new text = old text followed by the line.
class RunLog {
 public:
  virtual ~RunLog() = default;
  virtual void AppendLine(std::string_view line) = 0;
};

struct PassContext {
  data::Connection& gConn;
  const RunSettings& settings;
  const mail::MailSender& mail;
  RunLog& log;
  const Clock& clock;
  RunTrace& trace;
  // False in a dry run: the fleet passes leave their rows unmarked (the database is read-only).
  bool mark_rows = true;
  // The run's ledger (--ledger), or null: every message is sent as it always was.
  MessageLedger* ledger = nullptr;
};

}  // namespace corvane::alerts
