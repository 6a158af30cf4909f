#include "window/form1.h"

#include "alerts/fleet_actions.h"
#include "alerts/fleet_tickets.h"
#include "alerts/ledger/message_ledger.h"
#include "alerts/tour_drops.h"
#include "base/one_line.h"
#include "base/process_end.h"
#include "data/database.h"

namespace corvane::window {

Form1::Form1(data::Connection& gConn, const RunSettings& settings, mail::MailComponent& mail,
             const Clock& clock, RunTrace& trace)
    : gConn_(gConn),
      settings_(settings),
      mail_(mail, settings.gEmailServer),
      clock_(clock),
      trace_(trace) {}

Form1::~Form1() = default;

void Form1::Load() {
  trace_.Stage("loading the window");
  txtResults_ = std::make_unique<TextBox>("txtResults", Bounds{120, 120, 10695, 6255}, 0);
  btnExit_ = std::make_unique<CommandButton>("btnExit", "Exit", Bounds{9600, 6480, 1215, 375}, 1,
                                             [this] { btnExit_Click(); });
  btnClear_ = std::make_unique<CommandButton>("btnClear", "Clear", Bounds{8280, 6480, 1215, 375}, 2,
                                              [this] { btnClear_Click(); });
  Timer1_ = std::make_unique<Timer>("Timer1", std::chrono::milliseconds(1000), false,
                                    [this] { Timer1_Timer(); });
  Form_Load();
}

void Form1::SendMsg(const Value& MsgFrom, const Value& MsgFromName, const Value& MsgTo,
                    const Value& MsgSubject, const Value& msgBody) const {
  mail_.SendMsg(MsgFrom, MsgFromName, MsgTo, MsgSubject, msgBody);
}

void Form1::btnClear_Click() {
  txtResults_->set_text("");
}

void Form1::btnExit_Click() {
  data::CloseAndEnd(gConn_);
}

void Form1::Form_Load() {
  CheckTourDrops();
  if (fleet_on_load_) {
    SendTicketAlerts();
    SendActionAlerts();
  }
  if (ledger_ != nullptr) ledger_->Finish();
  EndProcess(0);
}

void Form1::Timer1_Timer() {}

void Form1::CheckTourDrops() {
  alerts::PassContext context = Context();
  alerts::CheckTourDrops(context);
}

void Form1::SendTicketAlerts() {
  alerts::PassContext context = Context();
  alerts::SendTicketAlerts(context);
}

void Form1::SendActionAlerts() {
  alerts::PassContext context = Context();
  alerts::SendActionAlerts(context);
}

void Form1::AppendLine(std::string_view line) {
  txtResults_->AppendText(line);
  if (log_echo_ != nullptr) {
    std::string_view shown = line;
    if (shown.ends_with("\r\n")) shown.remove_suffix(2);
    // One output line per log line, whatever a caller put in it; its TABs are the log's own.
    // Written at once: a run ended by its watchdog loses nothing already logged.
    (void)log_echo_->Write(OneLineText(shown, Tabs::kKeep) + '\n');
  }
  if (log_lines_ != nullptr) ++*log_lines_;
}

alerts::PassContext Form1::Context() {
  return alerts::PassContext{gConn_, settings_, mail_, *this, clock_, trace_, mark_rows_, ledger_};
}

}  // namespace corvane::window
