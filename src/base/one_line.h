// Text from outside (a database value, a driver's or server's message) shown on one line of a
// report or of the run log, so that no value can end the line early, forge a line of its own or
// send a terminal its escape sequences.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

enum class Tabs {
  kBlank,  // a tab is shown as a blank, like a line break
  kKeep,   // tabs are the line's own separators (the run log)
};

// `text` on one line: each run of blanks that holds a line break (or a tab, with kBlank) becomes
// one blank; every other control character is shown as \xNN, a C1 control written in UTF-8 as
// \u00NN. Nothing is trimmed.
std::string OneLineText(std::string_view text, Tabs tabs = Tabs::kBlank);

// `text` in double quotes with CR and LF as \r and \n, quotes and backslashes escaped, and every
// other control character or byte above 0x7E as \xNN, as refused input and a server's reply are
// quoted in a report.
std::string Quoted(std::string_view text);

}  // namespace corvane
