#include "stream.h"

#include <algorithm>

namespace tovaksim {
namespace {

// Late by more than this, the stream restarts its schedule from now.
constexpr auto kStallSlack = std::chrono::milliseconds(100);

// Events whose report changes the panel and nothing else: no question, no box, no
// key press in answer, no pause of the keep-alive.
constexpr const char* kStreamEvents[] = {"Bm1", "Bm2", "Bm4", "Tm0", "Tm1",
                                         "Mt1", "Mt0", "Ud2", "Ud3"};
constexpr int kEventCount = sizeof kStreamEvents / sizeof kStreamEvents[0];

}  // namespace

Clock::duration LineTime(size_t bytes) {
    long long nanoseconds =
        (static_cast<long long>(bytes) * 1000000000LL + kLineBytesPerSecond - 1) /
        kLineBytesPerSecond;
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(nanoseconds));
}

Clock::time_point PacedWriteTime(Clock::time_point& start, size_t bytesSoFar, size_t writeBytes,
                                 Clock::time_point now) {
    Clock::time_point due = start + LineTime(bytesSoFar + writeBytes);
    if (now - due > kStallSlack) {
        start = now - LineTime(bytesSoFar);
        due = start + LineTime(bytesSoFar + writeBytes);
    }
    return due;
}

std::string StreamMessage(std::mt19937& random) {
    std::uniform_int_distribution<int> kind(0, 2 * kEventCount - 1);
    int pick = kind(random);
    if (pick < kEventCount) {
        return kStreamEvents[pick];
    }
    // Half of them frequencies: the message the program does most with.
    std::uniform_int_distribution<int> bandPick(0, kBandCount - 1);
    int band = bandPick(random);
    const BandDef& def = BandAt(band);
    std::uniform_int_distribution<int> kHz(def.lowKHz, def.highKHz);
    std::uniform_int_distribution<int> coin(0, 1);
    int frequency = kHz(random);
    return FrequencyMessage(band, frequency, coin(random) == 1);
}

size_t LineBytes(long long seconds) {
    return static_cast<size_t>(seconds * kLineBytesPerSecond);
}

std::string NextStreamChunk(StreamSource& source, std::mt19937& random, size_t maxBytes) {
    size_t size = 0;
    if (maxBytes == 0) {
        size = source.pending.empty() ? 0 : source.pending.find(';') + 1;
    } else {
        std::uniform_int_distribution<size_t> cut(1, std::min(kMaxStreamCut, maxBytes));
        size = cut(random);
        while (source.pending.size() < size) {
            source.pending += StreamMessage(random) + ";";
        }
    }
    std::string chunk = source.pending.substr(0, size);
    source.pending.erase(0, size);
    return chunk;
}

}  // namespace tovaksim
