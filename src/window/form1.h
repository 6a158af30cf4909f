// The alert window: the run log (txtResults), Clear and Exit, an idle timer, and the home of the
// working operations: SendMsg and the three alert passes. Headless: no display is needed, so the
// job runs under cron. During a run the window is loaded, its load handler runs the tour-drop
// pass and ends the process; it is never shown.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>

#include "alerts/pass_context.h"
#include "base/clock.h"
#include "base/output.h"
#include "base/run_settings.h"
#include "base/trace.h"
#include "base/value.h"
#include "data/connection.h"
#include "mail/mail_message.h"
#include "mail/send_msg.h"
#include "window/controls.h"

namespace corvane::window {

class Form1 final : private alerts::RunLog {
 public:
  static constexpr std::string_view kCaption = "Corvane Email Handler 1.1";
  static constexpr int kClientWidthTwips = 10935;
  static constexpr int kClientHeightTwips = 6990;
  static constexpr int kTwipsPerPixel = 15;  // at 96 dots per inch

  Form1(data::Connection& gConn, const RunSettings& settings, mail::MailComponent& mail,
        const Clock& clock, RunTrace& trace);
  ~Form1() override;
  Form1(const Form1&) = delete;
  Form1& operator=(const Form1&) = delete;

  // Each line added to the log from now on is also written to `out` as it is added (without its
  // CR, one line each), so cron's mail or the journal keeps the run's record; and counted in
  // `lines`, if given, which any thread may read.
  void EchoLogTo(const Output& out, std::atomic<long>* lines = nullptr) {
    log_echo_ = &out;
    log_lines_ = lines;
  }
  // Each message the mail server accepts from now on is counted in `messages`, if given, which
  // any thread may read.
  void CountMessagesIn(std::atomic<long>* messages) { mail_.CountAcceptedIn(messages); }

  // What loading runs besides the tour-drop pass: with `fleet`, the fleet-ticket pass and then
  // the fleet-action pass (the --fleet option); `mark_rows` false keeps their rows unmarked (a
  // dry run). Set before Load.
  void SetLoadPasses(bool fleet, bool mark_rows) {
    fleet_on_load_ = fleet;
    mark_rows_ = mark_rows;
  }

  // The run's ledger (--ledger): the passes send each message through it, and loading ends it
  // (MessageLedger::Finish) after the last pass. Set before Load.
  void KeepLedger(alerts::MessageLedger* ledger) { ledger_ = ledger; }

  // Creates the controls, hidden, then runs Form_Load, which ends the process.
  void Load();
  // Makes the window visible. A run never gets here: loading ends the process.
  void Show() { visible_ = true; }
  bool loaded() const { return txtResults_ != nullptr; }
  bool visible() const { return visible_; }
  std::string_view caption() const { return kCaption; }

  // The controls; valid once the window is loaded.
  TextBox& txtResults() { return *txtResults_; }
  const CommandButton& btnExit() const { return *btnExit_; }
  const CommandButton& btnClear() const { return *btnClear_; }
  Timer& Timer1() { return *Timer1_; }

  // The one public operation: sends one e-mail through gEmailServer.
  void SendMsg(const Value& MsgFrom, const Value& MsgFromName, const Value& MsgTo,
               const Value& MsgSubject, const Value& msgBody) const;

 private:
  friend struct Form1Probe;  // lets tests reach the handlers and passes

  // Handlers.
  void btnClear_Click();
  void btnExit_Click();
  void Form_Load();
  void Timer1_Timer();

  // The passes. A run calls the tour-drop pass, and the fleet passes when asked (--fleet).
  void CheckTourDrops();
  void SendTicketAlerts();
  void SendActionAlerts();

  void AppendLine(std::string_view line) override;
  alerts::PassContext Context();

  data::Connection& gConn_;
  const RunSettings& settings_;
  mail::MailSender mail_;
  const Clock& clock_;
  RunTrace& trace_;

  const Output* log_echo_ = nullptr;
  std::atomic<long>* log_lines_ = nullptr;
  bool fleet_on_load_ = false;
  bool mark_rows_ = true;
  alerts::MessageLedger* ledger_ = nullptr;
  bool visible_ = false;
  std::unique_ptr<TextBox> txtResults_;
  std::unique_ptr<CommandButton> btnExit_;
  std::unique_ptr<CommandButton> btnClear_;
  std::unique_ptr<Timer> Timer1_;
};

}  // namespace corvane::window
