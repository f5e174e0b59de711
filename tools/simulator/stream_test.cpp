#include "stream.h"

#include <gtest/gtest.h>

namespace tovaksim {
namespace {

using std::chrono::milliseconds;

TEST(Stream, LineTimeIsTheRealLinesByteRate) {
    EXPECT_EQ(LineTime(0), Clock::duration::zero());
    EXPECT_EQ(LineTime(11520), std::chrono::seconds(1));
    EXPECT_EQ(LineTime(1), std::chrono::nanoseconds(86806)) << "rounded up";
    EXPECT_EQ(LineTime(11520 * 600), std::chrono::seconds(600));
    EXPECT_EQ(LineBytes(3), 34560u);
}

TEST(Stream, WritesWaitForTheLineAndAStallMovesTheScheduleUp) {
    const Clock::time_point origin = Clock::time_point() + std::chrono::hours(1);
    Clock::time_point start = origin;
    // On time: the write goes once the line could have carried it and all before it.
    EXPECT_EQ(PacedWriteTime(start, 0, 1152, origin), origin + milliseconds(100));
    EXPECT_EQ(PacedWriteTime(start, 1152, 1152, origin + milliseconds(100)),
              origin + milliseconds(200));
    // A little late: it goes at once, and the schedule stays, so the rate evens out.
    EXPECT_EQ(PacedWriteTime(start, 2304, 1152, origin + milliseconds(350)),
              origin + milliseconds(300));
    EXPECT_EQ(start, origin);
    // Far behind (the program stopped reading): no burst to catch up.
    Clock::time_point late = origin + milliseconds(2000);
    EXPECT_EQ(PacedWriteTime(start, 3456, 1152, late), late + milliseconds(100));
    EXPECT_EQ(start, late - milliseconds(300));
}

// The stream cut back into messages, each checked against what the program knows.
void ExpectValidMessages(const std::string& text) {
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), ';');
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(';', begin);
        std::string message = text.substr(begin, end - begin);
        begin = end + 1;
        if (message.rfind("Fq", 0) == 0) {
            ASSERT_EQ(message.size(), 18u) << message;
            EXPECT_GE(FindBand(message.substr(2, 3)), 0) << message;
            std::string unit = message.substr(15);
            EXPECT_TRUE(unit == "MHz" || unit == "mhz") << message;
        } else {
            EXPECT_EQ(message.size(), 3u) << message;
            EXPECT_NE(std::string("Bm1 Bm2 Bm4 Tm0 Tm1 Mt1 Mt0 Ud2 Ud3").find(message),
                      std::string::npos)
                << message;
        }
    }
}

TEST(Stream, ChunksCutMessagesAnywhereAndAddUpToWholeMessages) {
    std::mt19937 random(7);
    StreamSource source;
    std::string text;
    std::vector<std::string> chunks;
    size_t cutInside = 0;
    const size_t total = 20000;
    while (text.size() < total) {
        std::string chunk = NextStreamChunk(source, random, total - text.size());
        ASSERT_GE(chunk.size(), 1u);
        ASSERT_LE(chunk.size(), kMaxStreamCut);
        cutInside += chunk.back() != ';';
        text += chunk;
        chunks.push_back(chunk);
    }
    EXPECT_EQ(text.size(), total) << "never more than asked";
    EXPECT_GT(cutInside, chunks.size() / 2) << "most cuts fall inside a message";
    std::string rest = NextStreamChunk(source, random, 0);
    EXPECT_LT(rest.size(), 19u);
    text += rest;
    ExpectValidMessages(text);
    EXPECT_EQ(NextStreamChunk(source, random, 0), "") << "between messages: nothing to finish";
    EXPECT_NE(text.find("Fq"), std::string::npos);
    EXPECT_NE(text.find("Mt1;"), std::string::npos);

    // The same seed, the same stream and the same cuts.
    std::mt19937 again(7);
    StreamSource other;
    size_t sent = 0;
    for (const std::string& chunk : chunks) {
        ASSERT_EQ(NextStreamChunk(other, again, total - sent), chunk);
        sent += chunk.size();
    }
}

}  // namespace
}  // namespace tovaksim
