// The replay of a user's debug log (tovakrem.log): the program's reads, as its R
// lines recorded them, written back to a program with the log's pacing, so that a
// developer sees what the user's program saw.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "controller_model.h"

namespace tovaksim {

struct SimState;

// One line of a debug log, "[YYYY/MM/DD HH:MM:SS][K]body" without its CR LF.
struct LogLine {
    long long second = 0;  // the stamp, in seconds counted from 1970/01/01 00:00:00
    char kind = 0;         // 'I' information, 'S' sent, 'R' received
    std::string body;      // any bytes but CR LF
};

// Returns false for a line the program cannot have written.
bool ParseLogLine(const std::string& text, LogLine& line);

// A log cut at every CR LF: the lines that parse, in order, and the ones that do not
// (a body cut in two by a CR LF the controller sent, a last line without its CR LF).
struct ParsedLog {
    std::vector<LogLine> lines;
    size_t brokenLines = 0;
    size_t firstBroken = 0;  // its line number, from 1; 0 when none is broken
    bool lfOnly = false;     // lines end in LF alone: the file was converted
};

ParsedLog ParseLog(const std::string& text);

// When each line falls, in seconds after the log's first line. The lines of one
// second are spread evenly over it and the gaps between seconds are kept. A stamp
// earlier than the one before (the clock was set back), and the gap before a
// "MainWnd Create" that opens a second (the program was not running meanwhile),
// count as one second.
std::vector<double> LineTimes(const std::vector<LogLine>& lines);

// One read to write to the program, at its time after the replay's start.
struct ReplayRead {
    Clock::duration at{};
    std::string bytes;
};

// The R lines as reads, at their times divided by speed. A body is written as it
// stands; an empty one, a read whose first byte was zero, as that one zero byte.
std::vector<ReplayRead> ReplayReads(const std::vector<LogLine>& lines, double speed);

// The replay under way: the reads, the next one to write, and the clock that starts
// at the program's first byte.
struct Replay {
    std::vector<ReplayRead> reads;
    size_t next = 0;
    bool started = false;
    Clock::time_point origin{};
    size_t bytesWritten = 0;
};

// Reads and parses the log. False with a one-line reason when the file cannot be
// read, is too large, or holds no R line; note then says how many broken lines were
// skipped (empty when none were).
bool LoadReplay(const std::string& path, double speed, Replay& replay, std::string& note,
                std::string& error);

// When the next read is due. A replay held up by a step (or a slow write) moves its
// clock on by the delay, so the reads after it keep their gaps.
Clock::time_point ReplayDue(Replay& replay, Clock::time_point now);

// The simulator's wait between steps: serves the line until a step is pending, the
// run ends or the deadline passes, and meanwhile writes the replay's reads as they
// fall due, from the program's first byte on. A failed write ends the replay with a
// line on stderr and in the record.
void ServeUntilStep(SimState& state, Clock::time_point deadline);

// What --help says of the replay.
std::string ReplayUsage();

}  // namespace tovaksim
