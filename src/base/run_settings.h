// The process-wide values set once at start-up and only read afterwards: the settings-file
// values (ReadConfig) and the company values (LoadCompany). One object per run, handed to what
// needs it, so a test builds a fresh one.
#pragma once

#include <string>

namespace corvane {

struct CompanyInfo {
  std::string Name;
  std::string Address1;
  std::string Address2;
  std::string City;
  std::string State;
  std::string Zip;
  std::string Phone;
  std::string Fax;
  std::string Email;
  std::string Website;
};

struct RunSettings {
  // From config.txt.
  std::string gConnectString;  // connection string without its password part
  std::string gConfigItem3;    // held, unused
  std::string gConfigItem4;    // held, unused
  std::string gConfigItem5;    // held, unused
  std::string gTourAlertTo;    // recipient of tour-drop alerts
  std::string gTourAlertDays;  // days ahead, as text; converted where it is used

  // From the first Company row.
  bool company_loaded = false;  // false while the Company table gave no row
  CompanyInfo gCompany;
  double gKeyPressDelay = 0;
  double gTaxRate = 0;
  std::string gMaintenanceEmail;
  std::string gEmailFromAddress;
  std::string gEmailFromName;
  std::string gEmailServer;
};

}  // namespace corvane
