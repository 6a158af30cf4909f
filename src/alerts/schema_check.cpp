#include "alerts/schema_check.h"

#include <initializer_list>
#include <memory>
#include <string_view>

#include "alerts/fleet_actions.h"
#include "alerts/fleet_tickets.h"
#include "alerts/tour_drops.h"
#include "data/data_error.h"

namespace corvane::alerts {

namespace {

void RequireColumns(const data::RowSet& rows, std::string_view pass,
                    std::initializer_list<std::string_view> columns) {
  for (const std::string_view column : columns) {
    if (!rows.HasColumn(column)) {
      data::ThrowDatabaseError(errnum::kItemNotFound,
                               "Item not found: the query of " + std::string(pass) +
                                   " returns no column " + std::string(column));
    }
  }
}

}  // namespace

std::string CheckSchema(data::Connection& gConn, DateTime today, std::int32_t days, bool fleet) {
  {
    auto tours = gConn.OpenRowSet(TourDropQuery(today, today.AddDays(days)));
    RequireColumns(*tours, "CheckTourDrops",
                   {"TourName", "Name", "TourID", "EndDate", "InvoiceNumber"});
    tours->Close();
  }
  {
    const Value no_invoice[] = {Value(0)};
    auto balance = gConn.Prepare(kBalanceQuery)->OpenRowSet(no_invoice);
    RequireColumns(*balance, "GetInvoiceBalance", {"Balance"});
    balance->Close();
  }
  if (!fleet) return "TourItems, Tour, Customer, Invoice: the tour-drop pass's queries run";
  {
    auto tickets = gConn.OpenRowSet(kTicketQuery);
    RequireColumns(
        *tickets, "SendTicketAlerts",
        {"ID", "BusName", "DriverName", "AddDriverName", "TicketDate", "Miles", "Location",
         "Priority", "AddNotifyEmail", "EnteredBy", "EnteredDate", "Description", "EmailSent"});
    tickets->CheckUpdatable("EmailSent");
    tickets->Close();
  }
  {
    auto actions = gConn.OpenRowSet(kActionQuery);
    RequireColumns(
        *actions, "SendActionAlerts",
        {"TicketID",       "BusName",        "DriverName",  "AddDriverName", "TicketDate",
         "Miles",          "Location",       "Priority",    "Status",        "TktEnteredBy",
         "TktEnteredDate", "Description",    "ActID",       "ActionDate",    "ActEnteredBy",
         "ActEnteredDate", "ActDescription", "EmailDriver", "D1Email",       "D2Email",
         "AddNotifyEmail", "EmailSent"});
    actions->CheckUpdatable("EmailSent");
    actions->Close();
  }
  return "TourItems, Tour, Customer, Invoice, HexmileTicket, HexmileAction, Bus, Driver: the "
         "passes' queries run and each EmailSent mark has its row";
}

std::optional<std::string> CheckMarkPrivileges(data::Connection& gConn) {
  for (const std::string_view table : {"HexmileTicket", "HexmileAction"}) {
    const std::optional<bool> may = gConn.MayUpdate(table, "EmailSent");
    if (!may) return std::nullopt;
    if (!*may) {
      data::ThrowDatabaseError(errnum::kPermissionDenied,
                               "Permission denied: this login may not update EmailSent of " +
                                   std::string(table) +
                                   ", where the fleet passes mark what they e-mailed");
    }
  }
  return "this login may update EmailSent of HexmileTicket and HexmileAction";
}

}  // namespace corvane::alerts
