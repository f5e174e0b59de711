#include "replay.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim_state.h"
#include "unique_fd.h"

namespace tovaksim {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr size_t kLineEndSize = 2;
constexpr char kSessionStart[] = "MainWnd Create";
constexpr char kInfo = 'I';
constexpr char kReceived = 'R';
constexpr char kLogKinds[] = "ISR";
// About 31 years: a log whose stamps lie further apart still gives times the clock
// can count.
constexpr double kMaxReadSeconds = 1e9;
// "[2026/01/07 09:05:03][R]": the year has up to five digits (as the program writes it).
constexpr size_t kMaxYearDigits = 5;
constexpr size_t kStampTail = sizeof "/01/07 09:05:03][R]" - 1;
// A log is never cut by the program; beyond this it is cut by the developer first.
constexpr size_t kMaxLogBytes = 64u << 20;
constexpr size_t kReadChunk = 1u << 16;
// Late by more than this, the replay's clock moves on.
constexpr auto kLateSlack = std::chrono::milliseconds(100);
constexpr long long kSecondsPerDay = 86400;

bool Digits(const std::string& text, size_t at, size_t count, int& value) {
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

bool LeapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970/01/01 to the date, in the proleptic Gregorian calendar.
long long DaysFromCivil(int year, int month, int day) {
    const long long y = month <= 2 ? year - 1 : year;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yearOfEra = y - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool ReadWholeFile(const std::string& path, std::string& text, std::string& error) {
    UniqueFd file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    char chunk[kReadChunk];
    for (;;) {
        ssize_t count = read(file.Get(), chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        if (count == 0) {
            return true;
        }
        if (text.size() + static_cast<size_t>(count) > kMaxLogBytes) {
            error = path + " is over " + std::to_string(kMaxLogBytes >> 20) +
                    " MiB: cut it down to the part to replay";
            return false;
        }
        text.append(chunk, static_cast<size_t>(count));
    }
}

}  // namespace

bool ParseLogLine(const std::string& text, LogLine& line) {
    if (text.empty() || text[0] != '[') {
        return false;
    }
    const size_t slash = text.find('/');
    if (slash == std::string::npos || slash < 2 || slash - 1 > kMaxYearDigits ||
        text.size() < slash + kStampTail) {
        return false;
    }
    const size_t at = slash;  // "/MM/DD HH:MM:SS][K]" from here
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    bool shaped = Digits(text, 1, slash - 1, year) && Digits(text, at + 1, 2, month) &&
                  text[at + 3] == '/' && Digits(text, at + 4, 2, day) && text[at + 6] == ' ' &&
                  Digits(text, at + 7, 2, hour) && text[at + 9] == ':' &&
                  Digits(text, at + 10, 2, minute) && text[at + 12] == ':' &&
                  Digits(text, at + 13, 2, second) && text[at + 15] == ']' &&
                  text[at + 16] == '[' && text[at + 18] == ']';
    const char kind = shaped ? text[at + 17] : '\0';
    if (!shaped || kind == '\0' || std::strchr(kLogKinds, kind) == nullptr || month < 1 ||
        month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 59) {
        return false;
    }
    line.second =
        DaysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600LL + minute * 60LL + second;
    line.kind = kind;
    line.body = text.substr(at + kStampTail);
    return true;
}

ParsedLog ParseLog(const std::string& text) {
    ParsedLog log;
    size_t start = 0;
    size_t number = 0;
    while (start < text.size()) {
        ++number;
        size_t end = text.find(kLineEnd, start);
        // A last line without its line end was cut short: it is not taken.
        bool whole = end != std::string::npos;
        LogLine line;
        if (whole && ParseLogLine(text.substr(start, end - start), line)) {
            log.lines.push_back(std::move(line));
        } else {
            ++log.brokenLines;
            log.firstBroken = log.firstBroken == 0 ? number : log.firstBroken;
        }
        start = whole ? end + kLineEndSize : text.size();
    }
    log.lfOnly = text.find(kLineEnd) == std::string::npos && text.find('\n') != std::string::npos;
    return log;
}

std::vector<double> LineTimes(const std::vector<LogLine>& lines) {
    std::vector<double> times(lines.size());
    double secondStart = 0;
    size_t first = 0;
    while (first < lines.size()) {
        size_t end = first;
        while (end < lines.size() && lines[end].second == lines[first].second) {
            ++end;
        }
        if (first > 0) {
            long long gap = lines[first].second - lines[first - 1].second;
            bool restarted = lines[first].kind == kInfo && lines[first].body == kSessionStart;
            secondStart += gap <= 0 || restarted ? 1.0 : static_cast<double>(gap);
        }
        const double count = static_cast<double>(end - first);
        for (size_t i = first; i < end; ++i) {
            times[i] = secondStart + static_cast<double>(i - first) / count;
        }
        first = end;
    }
    return times;
}

std::vector<ReplayRead> ReplayReads(const std::vector<LogLine>& lines, double speed) {
    const std::vector<double> times = LineTimes(lines);
    std::vector<ReplayRead> reads;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != kReceived) {
            continue;
        }
        ReplayRead read;
        read.at = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(std::min(times[i] / speed, kMaxReadSeconds)));
        read.bytes = lines[i].body.empty() ? std::string(1, '\0') : lines[i].body;
        reads.push_back(std::move(read));
    }
    return reads;
}

bool LoadReplay(const std::string& path, double speed, Replay& replay, std::string& note,
                std::string& error) {
    std::string text;
    if (!ReadWholeFile(path, text, error)) {
        return false;
    }
    const ParsedLog log = ParseLog(text);
    std::string().swap(text);  // the lines hold what is needed
    replay = Replay{};
    replay.reads = ReplayReads(log.lines, speed);
    note.clear();
    std::string broken;
    if (log.brokenLines > 0) {
        broken = std::to_string(log.brokenLines) +
                 (log.brokenLines == 1 ? " line that is" : " lines that are") +
                 " no log line, the first line " + std::to_string(log.firstBroken);
        note = path + ": skipped " + broken;
    }
    if (replay.reads.empty()) {
        error = path + ": no R line to replay among its " +
                std::to_string(log.lines.size() + log.brokenLines) + " lines" +
                (broken.empty() ? "" : " (" + broken + ")") +
                (log.lfOnly ? "; its lines end in LF, not CR LF: was it converted?" : "");
        return false;
    }
    return true;
}

Clock::time_point ReplayDue(Replay& replay, Clock::time_point now) {
    Clock::time_point due = replay.origin + replay.reads[replay.next].at;
    if (now - due > kLateSlack) {
        replay.origin += now - due;
        due = now;
    }
    return due;
}

namespace {

// Whether the replay waits for nothing but the program's first byte, which has come.
bool ReplayMayStart(const SimState& state) {
    return !state.replay.started && state.replay.next < state.replay.reads.size() &&
           !state.received.empty();
}

// Writes the next read if it is due; returns when the replay next wants to run
// (Clock::time_point::max() while it waits for the program or once it is done).
Clock::time_point WriteDueRead(SimState& state) {
    Replay& replay = state.replay;
    if (replay.next >= replay.reads.size()) {
        return Clock::time_point::max();
    }
    const Clock::time_point now = Clock::now();
    if (!replay.started) {
        // The log's first line follows the program's status request at connection.
        if (state.received.empty()) {
            return Clock::time_point::max();
        }
        replay.started = true;
        replay.origin = now;
        state.recorder.Write(ElapsedMs(state), "replay",
                             "start " + std::to_string(replay.reads.size()) + " reads");
    }
    const Clock::time_point due = ReplayDue(replay, now);
    if (due > now) {
        return due;
    }
    const std::string& bytes = replay.reads[replay.next].bytes;
    std::string error;
    if (!WriteToProgram(state, bytes, error)) {
        std::string detail = "replay: read " + std::to_string(replay.next + 1) + ": " + error;
        state.recorder.Write(ElapsedMs(state), "error", detail);
        std::fprintf(stderr, "tovaksim: %s\n", detail.c_str());
        replay.next = replay.reads.size();
        return Clock::time_point::max();
    }
    replay.bytesWritten += bytes.size();
    if (++replay.next == replay.reads.size()) {
        std::string counts = std::to_string(replay.reads.size()) + " reads " +
                             std::to_string(replay.bytesWritten) + " bytes";
        state.recorder.Write(ElapsedMs(state), "replay", "done " + counts);
        Announce("replayed " + counts);
    }
    return now;
}

}  // namespace

void ServeUntilStep(SimState& state, Clock::time_point deadline) {
    while (!state.quit && !StopRequested() && state.pending.empty() && Clock::now() < deadline) {
        Clock::time_point wake = std::min(WriteDueRead(state), deadline);
        ServeUntil(state, wake, [&] { return !state.pending.empty() || ReplayMayStart(state); });
    }
}

std::string ReplayUsage() {
    return "Replay (--replay LOG, the program's debug log, tovakrem.log):\n"
           "  Each R line's body is written as one piece, as the log holds it: the bytes of\n"
           "  one read of the program up to its first zero byte (an empty body, a read that\n"
           "  began with a zero byte, as that zero byte). The Adjust window's R lines end in\n"
           "  one ';' more than the controller sent; the log does not say which window read\n"
           "  a line, so every line is written as it stands. I and S lines are not written.\n"
           "  Pacing: the lines of each second, of all kinds, are spread evenly over it, and\n"
           "  the gaps between seconds are kept; a stamp earlier than the one before (the\n"
           "  clock set back) and the gap before a 'MainWnd Create' line (the program was\n"
           "  not running) count as one second. The first line falls at the program's first\n"
           "  write. Steps (--script, --control) run between reads; one that takes time\n"
           "  holds the replay, and the reads after it keep their gaps.\n"
           "  A log that cannot be read, is over 64 MiB or has no R line: one line on stderr\n"
           "  and exit code 2. Lines that are no log line (a body cut by a CR LF the\n"
           "  controller sent, a last line without its CR LF) are skipped and counted on\n"
           "  stderr. Record: 'replay start N reads', 'replay done N reads M bytes'; stdout:\n"
           "  'replayed N reads M bytes'. The line stays open until the simulator is stopped.\n";
}

}  // namespace tovaksim
