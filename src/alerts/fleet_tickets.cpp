#include "alerts/fleet_tickets.h"

#include <string>

#include "base/text_form.h"

namespace corvane::alerts {

namespace {

constexpr std::string_view kCrLf = "\r\n";

std::string TicketBody(const data::RowSet& ticket, const std::string& ticket_number) {
  auto field = [&ticket](std::string_view column) { return JoinText(ticket.Field(column)); };
  std::string body;
  body += "Ticket ID: " + ticket_number;
  body += kCrLf;
  body += "Bus: " + field("BusName");
  body += kCrLf;
  body += "Driver: " + field("DriverName");
  body += kCrLf;
  body += "Add Driver: " + field("AddDriverName");
  body += kCrLf;
  body += "Ticket Date: " + field("TicketDate");
  body += kCrLf;
  body += "Miles: " + field("Miles");
  body += kCrLf;
  body += "Location: " + field("Location");
  body += kCrLf;
  body += "Priority: " + field("Priority");
  body += kCrLf;
  body += "Add. Notify Email: " + field("AddNotifyEmail") + "   ";
  body += kCrLf;
  body += "Entered: " + field("EnteredBy");
  body += " - " + field("EnteredDate");
  body += kCrLf;
  body += "Description:";
  body += kCrLf;
  body += kCrLf;
  body += field("Description");
  return body;
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

    context.mail.SendMsg(Value(settings.gEmailFromAddress), Value(settings.gEmailFromName),
                         Value(settings.gMaintenanceEmail), Value(subject), Value(body));
    const Value notify = tickets->Field("AddNotifyEmail");
    if (DiffersFromText(notify, "")) {
      context.mail.SendMsg(Value(settings.gEmailFromAddress), Value(settings.gEmailFromName),
                           notify, Value(subject), Value(body));
    }

    tickets->SetField("EmailSent", Value(true));
    tickets->Update();

    std::string line = "HM Ticket: " + ticket_number;
    line += "\t\t";
    line += JoinText(tickets->Field("BusName"));
    line += "\t\t\t";
    line += GeneralDate(context.clock.Now());
    line += kCrLf;
    context.log.AppendLine(line);
    tickets->MoveNext();
  }
  context.trace.ClearRow();
  tickets->Close();
}

}  // namespace corvane::alerts
