#include "data/company.h"

#include "base/ascii.h"
#include "base/text_form.h"

namespace corvane::data {

void LoadCompany(Connection& gConn, RunSettings& s) {
  auto rs = gConn.OpenRowSet("SELECT TOP 1 * FROM Company");
  if (!rs->eof() && !rs->bof()) {
    // Read in this order, each strictly: the first failing column ends the run.
    auto text = [&](const char* column) {
      return ToText(rs->Field(column), std::string("column ") + column);
    };
    auto number = [&](const char* column) {
      return ToNumber(rs->Field(column), std::string("column ") + column);
    };
    s.gCompany.Name = text("Name");
    s.gCompany.Address1 = text("Address1");
    s.gCompany.Address2 = text("Address2");
    s.gCompany.City = text("City");
    s.gCompany.State = text("State");
    s.gCompany.Zip = text("Zip");
    s.gCompany.Phone = text("Phone");
    s.gCompany.Fax = text("Fax");
    s.gCompany.Email = text("Email");
    s.gCompany.Website = text("Website");
    s.gKeyPressDelay = number("KeyPressDelay");
    s.gTaxRate = number("TaxRate");
    // Addresses, the sender's name and the mail server lose the blanks around them: fixed-width
    // CHAR columns pad their values, and a padded server name is not a server.
    auto trimmed = [&](const char* column) { return std::string(TrimBlanks(text(column))); };
    s.gMaintenanceEmail = trimmed("MaintenanceEmail");
    s.gEmailFromAddress = trimmed("EmailFromAddress");
    s.gEmailFromName = trimmed("EmailFromName");
    s.gEmailServer = trimmed("EmailServer");
    s.company_loaded = true;
  }
  rs->Close();
}

}  // namespace corvane::data
