// The debug log: one line per event, appended to %LOCALAPPDATA%\VORNHALT\tovakrem.log
// while the DEBUG setting is 1.
#pragma once

#include <string>

constexpr char kLogInfo = 'I';
constexpr char kLogSent = 'S';
constexpr char kLogReceived = 'R';

// "[2026/01/07 09:05:03][S]SR;" + CR LF. The file is opened and closed for
// every line; a line that cannot be written is dropped silently.
void WriteLogLine(char kind, const std::string& body);

std::string LogDateText();  // "2026/01/07"
std::string LogTimeText();  // "09:05:03"
