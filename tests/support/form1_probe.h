// Reaches the alert window's private handlers and passes, as the toolkit's event loop and the
// window's own code would. Form1 names this struct its friend.
#pragma once

#include <string_view>

#include "window/form1.h"

namespace corvane::window {

struct Form1Probe {
  static void Form_Load(Form1& form) { form.Form_Load(); }
  static void btnExit_Click(Form1& form) { form.btnExit_Click(); }
  static void Timer1_Timer(Form1& form) { form.Timer1_Timer(); }
  static void AppendLine(Form1& form, std::string_view line) { form.AppendLine(line); }
  static void CheckTourDrops(Form1& form) { form.CheckTourDrops(); }
  static void SendTicketAlerts(Form1& form) { form.SendTicketAlerts(); }
  static void SendActionAlerts(Form1& form) { form.SendActionAlerts(); }
};

}  // namespace corvane::window
