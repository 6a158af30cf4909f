#include "alerts/fleet_actions.h"

#include <string>

#include "alerts/alert_messages.h"
#include "alerts/message_text.h"
#include "base/text_form.h"

namespace corvane::alerts {

namespace {

std::string ActionBody(const data::RowSet& action) {
  auto field = [&action](std::string_view column) { return JoinText(action.Field(column)); };
  return MessageBody()
      .Line("Ticket ID: ", field("TicketID"))
      .Line("Bus: ", field("BusName"))
      .Line("Driver: ", field("DriverName"))
      .Line("Add Driver: ", field("AddDriverName"))
      .Line("Ticket Date: ", field("TicketDate"))
      .Line("Miles: ", field("Miles"))
      .Line("Location: ", field("Location"))
      .Line("Priority: ", field("Priority"))
      .Line("Status: ", field("Status"))
      .Line("Entered: ", field("TktEnteredBy") + " - " + field("TktEnteredDate"))
      .Line("Description:")
      .Line("")
      .Line(field("Description"))
      .Line("")
      .Line(kActionSeparator)
      .Line("")
      .Line("Action ID: ", field("ActID"))
      .Line("Action Date: ", field("ActionDate"))
      .Line("Entered: ", field("ActEnteredBy") + " - " + field("ActEnteredDate"))
      .Line("Description:")
      .Line("")
      .Text(field("ActDescription"))  // the body ends here, with no line break
      .Take();
}

}  // namespace

void SendActionAlerts(PassContext& context) {
  context.trace.Stage("SendActionAlerts");
  const RunSettings& settings = context.settings;
  std::unique_ptr<data::RowSet> actions = context.gConn.OpenRowSet(kActionQuery);
  while (!actions->eof()) {
    context.trace.Row("HexmileAction ID " + JoinText(actions->Field("ActID")));
    const std::string body = ActionBody(*actions);
    const std::string subject = "New Hexmile Action - " + JoinText(actions->Field("BusName"));
    AlertMessages messages(context, kActionPass,
                           "HexmileAction " + JoinText(actions->Field("ActID")),
                           context.clock.Today());
    if (EqualsTrue(actions->Field("EmailDriver"))) {
      const Value driver = actions->Field("D1Email");
      if (DiffersFromText(driver, "")) messages.Add("D1Email", driver);
      const Value additional_driver = actions->Field("D2Email");
      if (DiffersFromText(additional_driver, "")) messages.Add("D2Email", additional_driver);
    }
    const Value notify = actions->Field("AddNotifyEmail");
    if (DiffersFromText(notify, "")) messages.Add("AddNotifyEmail", notify);
    const AlertMessages::Sent sent = messages.SendEach([&](const Value& address) {
      context.mail.SendMsg(Value(settings.gEmailFromAddress), Value(settings.gEmailFromName),
                           address, Value(subject), Value(body));
    });
    if (!sent.all) {  // a message the ledger skipped: the action stays unmarked
      actions->MoveNext();
      continue;
    }

    if (context.mark_rows) {
      actions->SetField("EmailSent", Value(true));
      actions->Update();
    }

    const std::string line = LogLine("HM Action: " + JoinText(actions->Field("ActID")),
                                     JoinText(actions->Field("BusName")), context.clock.Now());
    context.log.AppendLine(line);
    actions->MoveNext();
  }
  context.trace.ClearRow();
  actions->Close();
}

}  // namespace corvane::alerts
