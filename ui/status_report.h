#pragma once

#include <string>

// Who made the program, as shown in the title bar and the status report.
extern const char kAuthorCredit[];
extern const char kDeveloperUrl[];

// The text of the main window's status panel (UTF-8, CR LF line ends): run
// state, the last socket error after a failed start, the counters and where
// config.xml and dns.log lie.
std::string BuildStatusReport();
