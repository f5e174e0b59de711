#include "link/log.h"

#include "app/state.h"
#include "text/number.h"

namespace {

// "0" in front of a number below ten: months, days, hours, minutes, seconds.
std::string TwoDigits(int value) {
    return (value < 10 ? "0" : "") + FormatNumber(value);
}

}  // namespace

std::string LogDateText() {
    const platform::LocalTime now = platform::CurrentLocalTime();
    return FormatNumber(now.year) + "/" + TwoDigits(now.month) + "/" + TwoDigits(now.day);
}

std::string LogTimeText() {
    const platform::LocalTime now = platform::CurrentLocalTime();
    return TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" + TwoDigits(now.second);
}

void WriteLogLine(char kind, const std::string& body) {
    if (app.debugLogging != 1 || app.logFilePath.empty()) {
        return;
    }
    const std::string date = LogDateText();
    const std::string time = LogTimeText();
    const std::string line = "[" + date + " " + time + "][" + kind + "]" + body + "\r\n";
    platform::AppendToFile(app.logFilePath, line);
}
