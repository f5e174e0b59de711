// The stream step's material: valid status messages at the real line's byte rate,
// cut at random points across writes, for a benchmark of the program's receive
// loop. A pty has no baud rate, so the pace is kept here, from elapsed time.
#pragma once

#include <random>
#include <string>

#include "controller_model.h"

namespace tovaksim {

// 115200 baud with 8N1 framing: ten bit times a byte.
constexpr long long kLineBytesPerSecond = 11520;
// The most bytes one write of the stream carries.
constexpr size_t kMaxStreamCut = 256;

// The time the line takes to carry that many bytes, rounded up.
Clock::duration LineTime(size_t bytes);

// When a write of writeBytes may go, bytesSoFar having gone since start: once the
// line could have carried them all. When a stall (the program not reading) has left
// the schedule far behind, start moves up instead, so the line never bursts to
// catch up.
Clock::time_point PacedWriteTime(Clock::time_point& start, size_t bytesSoFar, size_t writeBytes,
                                 Clock::time_point now);

// One random status message without its ";": an "Fq" or an event the program takes
// without a question or a box.
std::string StreamMessage(std::mt19937& random);

// Messages made but not written yet; empty exactly when the stream stands between
// two messages.
struct StreamSource {
    std::string pending;
};

// The next write: 1 to kMaxStreamCut bytes (at most maxBytes) wherever they end;
// with maxBytes 0, the rest of the message under way (empty between messages).
std::string NextStreamChunk(StreamSource& source, std::mt19937& random, size_t maxBytes);

// The bytes the line carries in that many seconds.
size_t LineBytes(long long seconds);

}  // namespace tovaksim
