#include "alerts/fleet_actions.h"

#include <string>

#include "base/text_form.h"

namespace corvane::alerts {

namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string ActionBody(const data::RowSet& action) {
  auto field = [&action](std::string_view column) { return JoinText(action.Field(column)); };
  std::string body;
  auto line = [&body](std::string_view label, const std::string& value) {
    body += label;
    body += value;
    body += kCrLf;
  };
  line("Ticket ID: ", field("TicketID"));
  line("Bus: ", field("BusName"));
  line("Driver: ", field("DriverName"));
  line("Add Driver: ", field("AddDriverName"));
  line("Ticket Date: ", field("TicketDate"));
  line("Miles: ", field("Miles"));
  line("Location: ", field("Location"));
  line("Priority: ", field("Priority"));
  line("Status: ", field("Status"));
  line("Entered: ", field("TktEnteredBy") + " - " + field("TktEnteredDate"));
  line("Description:", "");
  line("", "");
  line("", field("Description"));
  line("", "");
  line(kActionSeparator, "");
  line("", "");
  line("Action ID: ", field("ActID"));
  line("Action Date: ", field("ActionDate"));
  line("Entered: ", field("ActEnteredBy") + " - " + field("ActEnteredDate"));
  line("Description:", "");
  line("", "");
  body += field("ActDescription");  // the body ends here, with no line break
  return body;
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
    auto send_to = [&](const Value& address) {
      context.mail.SendMsg(Value(settings.gEmailFromAddress), Value(settings.gEmailFromName),
                           address, Value(subject), Value(body));
    };

    if (EqualsTrue(actions->Field("EmailDriver"))) {
      const Value driver = actions->Field("D1Email");
      if (DiffersFromText(driver, "")) send_to(driver);
      const Value additional_driver = actions->Field("D2Email");
      if (DiffersFromText(additional_driver, "")) send_to(additional_driver);
    }
    const Value notify = actions->Field("AddNotifyEmail");
    if (DiffersFromText(notify, "")) send_to(notify);

    actions->SetField("EmailSent", Value(true));
    actions->Update();

    std::string line = "HM Action: " + JoinText(actions->Field("ActID"));
    line += "\t\t";
    line += JoinText(actions->Field("BusName"));
    line += "\t\t\t";
    line += GeneralDate(context.clock.Now());
    line += kCrLf;
    context.log.AppendLine(line);
    actions->MoveNext();
  }
  context.trace.ClearRow();
  actions->Close();
}

}  // namespace corvane::alerts
