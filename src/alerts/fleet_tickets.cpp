#include "alerts/fleet_tickets.h"

#include <string>

#include "alerts/alert_messages.h"
#include "alerts/message_text.h"
#include "base/text_form.h"

namespace corvane::alerts {

namespace {

std::string TicketBody(const data::RowSet& ticket, const std::string& ticket_number) {
  auto field = [&ticket](std::string_view column) { return JoinText(ticket.Field(column)); };
  return MessageBody()
      .Line("Ticket ID: ", ticket_number)
      .Line("Bus: ", field("BusName"))
      .Line("Driver: ", field("DriverName"))
      .Line("Add Driver: ", field("AddDriverName"))
      .Line("Ticket Date: ", field("TicketDate"))
      .Line("Miles: ", field("Miles"))
      .Line("Location: ", field("Location"))
      .Line("Priority: ", field("Priority"))
      .Line("Add. Notify Email: ", field("AddNotifyEmail") + "   ")
      .Line("Entered: ", field("EnteredBy") + " - " + field("EnteredDate"))
      .Line("Description:")
      .Line("")
      .Text(field("Description"))
      .Take();
}

}  // namespace

void SendTicketAlerts(PassContext& context) {
  context.trace.Stage("SendTicketAlerts");
  const RunSettings& settings = context.settings;
  std::unique_ptr<data::RowSet> tickets = context.gConn.OpenRowSet(kTicketQuery);
  while (!tickets->eof()) {
    context.trace.Row("HexmileTicket ID " + JoinText(tickets->Field("ID")));
    const std::string ticket_number = ToText(tickets->Field("ID"), "column ID of HexmileTicket");
    const std::string body = TicketBody(*tickets, ticket_number);
    const std::string subject = "New Hexmile Ticket - " + JoinText(tickets->Field("BusName"));

    AlertMessages messages(context, kTicketPass, "HexmileTicket " + ticket_number,
                           context.clock.Today());
    messages.Add("MaintenanceEmail", Value(settings.gMaintenanceEmail));
    const Value notify = tickets->Field("AddNotifyEmail");
    if (DiffersFromText(notify, "")) messages.Add("AddNotifyEmail", notify);
    const AlertMessages::Sent sent = messages.SendEach([&](const Value& to) {
      context.mail.SendMsg(Value(settings.gEmailFromAddress), Value(settings.gEmailFromName), to,
                           Value(subject), Value(body));
    });
    if (!sent.all) {  // a message the ledger skipped: the ticket stays unmarked
      tickets->MoveNext();
      continue;
    }

    if (context.mark_rows) {
      tickets->SetField("EmailSent", Value(true));
      tickets->Update();
    }

    const std::string line = LogLine("HM Ticket: " + ticket_number,
                                     JoinText(tickets->Field("BusName")), context.clock.Now());
    context.log.AppendLine(line);
    tickets->MoveNext();
  }
  context.trace.ClearRow();
  tickets->Close();
}

}  // namespace corvane::alerts
