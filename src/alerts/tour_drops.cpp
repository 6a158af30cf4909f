#include "alerts/tour_drops.h"

#include <charconv>
#include <cstdint>

#include "alerts/alert_messages.h"
#include "alerts/ledger/message_ledger.h"
#include "alerts/message_text.h"
#include "base/error.h"
#include "base/text_form.h"

namespace corvane::alerts {

namespace {

// The invoice number as a whole number, or a type-mismatch error: the number comes from the
// database, and text stored there must never become part of a query.
std::int64_t ParseInvoiceNumber(const std::string& text) {
  std::int64_t number = 0;
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(begin, end, number);
  if (text.empty() || error != std::errc{} || stop != end) {
    ThrowTypeMismatch("InvoiceNumber \"" + text + "\" is not a whole number");
  }
  return number;
}

}  // namespace

std::string TourDropQuery(DateTime lower, DateTime upper) {
  std::string query;
  query +=
      "SELECT DISTINCT Tour.TourName,Customer.Name,TourItems.TourID,EndDate,"
      "MAX(Invoice.ID) AS InvoiceNumber";
  query +=
      " FROM TourItems LEFT JOIN Tour ON TourITems.TourID = Tour.ID LEFT JOIN Customer ON "
      "Tour.CustomerID = Customer.ID LEFT JOIN Invoice ON Tour.ID = Invoice.TourID";
  query += " WHERE EndDate >= '";
  query += GeneralDate(lower);
  query += "' AND EndDate <= '";
  query += GeneralDate(upper);
  query +=
      "' AND (Tour.Status = 'Contract - Committed' OR Tour.Status = 'Contract - Verbal' OR "
      "Tour.Status = 'Contract - Signed')";
  query += " AND (Invoice.Type = 'Daily' OR Invoice.Type = 'Monthly')";
  query += " GROUP BY Tour.TourName,Customer.Name,TourItems.TourID,EndDate";
  query += " ORDER BY TourItems.TourID";
  return query;
}

void CheckTourDrops(PassContext& context) {
  context.trace.Stage("CheckTourDrops");
  // The date is read twice, then N is converted: a bad setting fails before any query.
  const DateTime lower = context.clock.Today();
  const DateTime today = context.clock.Today();
  const std::int32_t days =
      ToWholeNumber(Value(context.settings.gTourAlertDays), "TourAlertDays, config.txt item 13");
  const DateTime upper = today.AddDays(days);

  std::unique_ptr<data::RowSet> tours = context.gConn.OpenRowSet(TourDropQuery(lower, upper));
  if (context.ledger != nullptr) context.ledger->ReadByDay(kTourDropPass);
  std::unique_ptr<data::PreparedStatement> balance_query;  // prepared with the first tour
  while (!tours->eof()) {
    context.trace.Row("TourID " + JoinText(tours->Field("TourID")));
    const std::string invoice_number =
        ToText(tours->Field("InvoiceNumber"), "column InvoiceNumber");
    if (!balance_query) balance_query = context.gConn.Prepare(kBalanceQuery);
    const double balance = GetInvoiceBalance(*balance_query, invoice_number);
    if (balance != 0) {
      const std::string body =
          MessageBody()
              .Line("The following Tour has an open invoice and is about to end:")
              .Line("")
              .Line("Customer: ", JoinText(tours->Field("Name")))
              .Line("Tour: ", JoinText(tours->Field("TourName")))
              .Line("End Date: ", FormatMonthDayYear(tours->Field("EndDate")))
              .Line("Invoice Number: ", JoinText(tours->Field("InvoiceNumber")))
              .Line("Balance: ", FormatDollars(balance))
              .Take();
      // Once per alert day: the key names the tour, its end and its invoice, and the day.
      AlertMessages alert(context, kTourDropPass,
                          "TourID " + JoinText(tours->Field("TourID")) + ", EndDate " +
                              FormatMonthDayYear(tours->Field("EndDate")) + ", InvoiceNumber " +
                              invoice_number + ", AlertDay " + FormatMonthDayYear(lower),
                          lower);
      alert.Add("", Value(context.settings.gTourAlertTo));
      const AlertMessages::Sent sent = alert.SendEach([&](const Value& to) {
        context.mail.SendMsg(Value(TourAlertSender), Value("Corvane Alert"), to,
                             Value("Tour Drop with open invoice"), Value(body));
      });
      if (sent.now > 0) {
        const std::string line =
            LogLine("Tour Alert: Open Invoice for Tour Drop " + JoinText(tours->Field("Name")),
                    JoinText(tours->Field("TourName")), context.clock.Now());
        context.log.AppendLine(line);
      }
    }
    tours->MoveNext();
  }
  context.trace.ClearRow();
  tours->Close();
}

double GetInvoiceBalance(data::PreparedStatement& balance_query,
                         const std::string& invoice_number) {
  double balance = 0;
  const Value parameters[] = {Value(ParseInvoiceNumber(invoice_number))};
  std::unique_ptr<data::RowSet> invoice = balance_query.OpenRowSet(parameters);
  const bool before_first = invoice->bof();
  const bool after_last = invoice->eof();
  if (!before_first || !after_last) {
    balance = ToNumber(invoice->Field("Balance"), "column Balance of invoice " + invoice_number);
  }
  invoice->Close();
  return balance;
}

}  // namespace corvane::alerts
