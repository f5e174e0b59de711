#include "replay.h"

#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "test_line.h"

namespace tovaksim {
namespace {

using std::chrono::milliseconds;

LogLine Parsed(const std::string& text) {
    LogLine line;
    EXPECT_TRUE(ParseLogLine(text, line)) << text;
    return line;
}

TEST(ParseLogLine, TakesTheStampTheKindAndAnyBody) {
    LogLine sent = Parsed("[2026/01/07 09:05:03][S]SR;");
    EXPECT_EQ(sent.kind, 'S');
    EXPECT_EQ(sent.body, "SR;");
    EXPECT_EQ(Parsed("[2026/01/07 09:05:04][I]MainWnd Create").second, sent.second + 1);
    EXPECT_EQ(Parsed("[1970/01/01 00:00:00][R]x").second, 0);
    EXPECT_EQ(
        Parsed("[2026/03/01 00:00:00][R]x").second - Parsed("[2026/02/28 23:59:59][R]x").second, 1);
    EXPECT_EQ(
        Parsed("[2024/02/29 12:00:00][R]x").second - Parsed("[2023/02/28 12:00:00][R]x").second,
        366 * 86400LL);
    // A read's body holds whatever came, brackets, a lone CR or LF and zero bytes too.
    constexpr char kOdd[] = "Fq40m ][R] 7.050\r;\n;\0\xff;";
    const std::string body(kOdd, sizeof kOdd - 1);
    ASSERT_EQ(body.size(), 23u);
    EXPECT_EQ(Parsed("[2026/01/07 09:05:03][R]" + body).body, body);
    EXPECT_EQ(Parsed("[2026/01/07 09:05:03][R]").body, "");
    EXPECT_EQ(Parsed("[12345/12/31 23:59:59][I]x").kind, 'I');
}

TEST(ParseLogLine, RefusesWhatTheProgramCannotHaveWritten) {
    for (const char* text : {"",
                             "2026/01/07 09:05:03][R]x",
                             "[2026/01/07 09:05:03][X]x",
                             "[2026/01/07 09:05:03][r]x",
                             "[2026/01/07 09:05:03]R]x",
                             "[2026/01/07 09:05:03][R",
                             "[2026/1/07 09:05:03][R]x",
                             "[/01/07 09:05:03][R]x",
                             "[123456/01/07 09:05:03][R]x",
                             "[2026/13/07 09:05:03][R]x",
                             "[2026/00/07 09:05:03][R]x",
                             "[2026/02/29 09:05:03][R]x",
                             "[2026/04/31 09:05:03][R]x",
                             "[2026/01/00 09:05:03][R]x",
                             "[2026/01/07 24:00:00][R]x",
                             "[2026/01/07 09:60:03][R]x",
                             "[2026/01/07 09:05:60][R]x",
                             "[2026/01/07T09:05:03][R]x",
                             "[2026/01/07 09-05-03][R]x",
                             "[2O26/01/07 09:05:03][R]x",
                             "[2026/01/07 09:05:0"}) {
        LogLine line;
        line.body = "kept";
        EXPECT_FALSE(ParseLogLine(text, line)) << text;
        EXPECT_EQ(line.body, "kept") << "a refused line leaves the result alone: " << text;
    }
    // Cut anywhere inside its stamp, a line is refused (and never read past its end).
    const std::string stamp = "[2026/01/07 09:05:03][R]";
    for (size_t size = 0; size < stamp.size(); ++size) {
        LogLine line;
        EXPECT_FALSE(ParseLogLine(stamp.substr(0, size), line)) << size;
    }
}

TEST(ParseLog, CutsAtCrLfAndCountsTheLinesThatAreNoLogLines) {
    ParsedLog log = ParseLog(
        "[2026/01/07 09:05:03][I]MainWnd Create\r\n"
        "[2026/01/07 09:05:03][R]Pw1;Fq\r\n"
        "40m;\r\n"  // the rest of a body the controller cut with CR LF
        "[2026/01/07 09:05:04][R]a\rb\nc\r\n"
        "[2026/01/07 09:05:05][R]Tm0;");  // cut short: no CR LF
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1].body, "Pw1;Fq");
    EXPECT_EQ(log.lines[2].body, "a\rb\nc");
    EXPECT_EQ(log.brokenLines, 2u);
    EXPECT_EQ(log.firstBroken, 3u);
    EXPECT_FALSE(log.lfOnly);

    EXPECT_TRUE(ParseLog("").lines.empty());
    ParsedLog converted = ParseLog("[2026/01/07 09:05:03][R]Pw1;\n[2026/01/07 09:05:04][R]x\n");
    EXPECT_TRUE(converted.lines.empty());
    EXPECT_EQ(converted.brokenLines, 1u);
    EXPECT_TRUE(converted.lfOnly);
}

// Lines from ("YYYY/MM/DD HH:MM:SS", "[K]body") pairs.
std::vector<LogLine> Lines(const std::vector<std::pair<std::string, std::string>>& stamped) {
    std::vector<LogLine> lines;
    for (const auto& [stamp, rest] : stamped) {
        lines.push_back(Parsed("[" + stamp + "]" + rest));
    }
    return lines;
}

TEST(LineTimes, SpreadEachSecondsLinesAndKeepTheGaps) {
    std::vector<double> times = LineTimes(Lines({{"2026/01/07 23:59:58", "[I]MainWnd Create"},
                                                 {"2026/01/07 23:59:58", "[R]Pw1;"},
                                                 {"2026/01/07 23:59:58", "[S]B1FNSP;"},
                                                 {"2026/01/07 23:59:58", "[R]Tm0;"},
                                                 {"2026/01/07 23:59:59", "[R]Bm1;"},
                                                 {"2026/01/07 23:59:59", "[R]Bm2;"},
                                                 {"2026/01/08 00:00:04", "[R]Bm4;"}}));
    // The last stamp is the next day's: 23:59:59 to 00:00:04 is five seconds.
    EXPECT_EQ(times, (std::vector<double>{0, 0.25, 0.5, 0.75, 1, 1.5, 6}));
}

TEST(LineTimes, ClockSetBackAndARestartCountAsOneSecond) {
    std::vector<double> times = LineTimes(Lines({{"2026/01/07 10:00:00", "[R]a"},
                                                 {"2026/01/07 09:00:00", "[R]b"},  // back an hour
                                                 {"2026/01/07 09:00:00", "[R]c"},
                                                 {"2026/01/07 09:30:00", "[I]MainWnd Destroy"},
                                                 {"2026/01/07 11:00:00", "[I]MainWnd Create"},
                                                 {"2026/01/07 11:00:02", "[R]d"}}));
    EXPECT_EQ(times, (std::vector<double>{0, 1, 1.5, 1801, 1802, 1804}));
    EXPECT_TRUE(LineTimes({}).empty());
}

TEST(ReplayReads, OnlyTheReadsAtTheirTimesDividedBySpeed) {
    std::vector<ReplayRead> reads = ReplayReads(Lines({{"2026/01/07 10:00:00", "[I]MainWnd Create"},
                                                       {"2026/01/07 10:00:00", "[R]Pw1;"},
                                                       {"2026/01/07 10:00:02", "[S]SR;"},
                                                       {"2026/01/07 10:00:04", "[R]"}}),
                                                4);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].bytes, "Pw1;");
    EXPECT_EQ(reads[0].at, milliseconds(125));
    EXPECT_EQ(reads[1].bytes, std::string(1, '\0')) << "a read that began with a zero byte";
    EXPECT_EQ(reads[1].at, milliseconds(1000));

    // Stamps 99,998 years apart, played slowly: the time is held where the clock can count.
    std::vector<ReplayRead> far =
        ReplayReads({Parsed("[1/01/01 00:00:00][R]a"), Parsed("[99999/12/31 23:59:59][R]b")}, 0.01);
    ASSERT_EQ(far.size(), 2u);
    EXPECT_EQ(far[1].at, std::chrono::seconds(1000000000));
}

TEST(ReplayDue, KeepsItsScheduleUnlessHeldUp) {
    const Clock::time_point origin = Clock::time_point() + std::chrono::hours(1);
    Replay replay;
    replay.reads = {{milliseconds(0), "a"}, {milliseconds(500), "b"}, {milliseconds(700), "c"}};
    replay.origin = origin;
    EXPECT_EQ(ReplayDue(replay, origin - milliseconds(10)), origin);
    replay.next = 1;
    EXPECT_EQ(ReplayDue(replay, origin + milliseconds(550)), origin + milliseconds(500));
    EXPECT_EQ(replay.origin, origin) << "a little late: the schedule stays";
    // Held up two seconds: this read goes now, the next keeps its 200 ms gap.
    EXPECT_EQ(ReplayDue(replay, origin + milliseconds(2500)), origin + milliseconds(2500));
    replay.next = 2;
    EXPECT_EQ(ReplayDue(replay, origin + milliseconds(2500)), origin + milliseconds(2700));
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(LoadReplay, RefusesWhatItCannotReplayInOneLine) {
    TempFolder folder;
    Replay replay;
    std::string note;
    std::string error;
    EXPECT_FALSE(LoadReplay(folder.Path() + "/missing.log", 1, replay, note, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
    EXPECT_FALSE(LoadReplay(folder.Path(), 1, replay, note, error)) << "a folder";
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;

    const std::string noReads = folder.Path() + "/sent.log";
    WriteFile(noReads, "[2026/01/07 09:05:03][I]MainWnd Create\r\n[2026/01/07 09:05:03][S]SR;\r\n");
    EXPECT_FALSE(LoadReplay(noReads, 1, replay, note, error));
    EXPECT_NE(error.find("no R line"), std::string::npos) << error;
    const std::string binary = folder.Path() + "/binary.log";
    WriteFile(binary, std::string("\x7f"
                                  "ELF\x00\x01\r\n\xff",
                                  9));
    EXPECT_FALSE(LoadReplay(binary, 1, replay, note, error));
    EXPECT_NE(error.find("2 lines that are no log line"), std::string::npos) << error;
    for (const std::string& message : {error, note}) {
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }

    const std::string good = folder.Path() + "/tovakrem.log";
    WriteFile(good, "junk\r\n[2026/01/07 09:05:03][R]Pw1;\r\n");
    ASSERT_TRUE(LoadReplay(good, 1, replay, note, error)) << error;
    EXPECT_EQ(replay.reads.size(), 1u);
    EXPECT_NE(note.find("skipped 1 line that is no log line, the first line 1"), std::string::npos)
        << note;
}

TEST(ServeUntilStep, WaitsForTheProgramThenWritesEachReadInItsTime) {
    TempFolder folder;
    SimState state;
    std::string error;
    ASSERT_TRUE(state.link.Open(folder.Path() + "/com1", error)) << error;
    UniqueFd program = OpenProgramEnd(folder.Path() + "/com1");
    ASSERT_TRUE(program.Valid());
    state.replay.reads = {
        {milliseconds(0), "Pw1;Fq"}, {milliseconds(150), "40m;"}, {milliseconds(300), "Tm0;"}};
    std::thread simulator([&] { ServeUntilStep(state, Clock::now() + milliseconds(700)); });

    EXPECT_EQ(ReadAvailable(program.Get(), 200), "") << "nothing before the program writes";
    ASSERT_EQ(write(program.Get(), "SR;", 3), 3);
    auto wrote = Clock::now();
    std::vector<std::pair<std::string, Clock::duration>> arrived;
    for (size_t size : {6u, 4u, 4u}) {
        std::string bytes = ReadAvailable(program.Get(), 1000, size);
        arrived.emplace_back(bytes, Clock::now() - wrote);
    }
    simulator.join();
    EXPECT_EQ(state.received, "SR;");
    ASSERT_EQ(arrived.size(), 3u);
    EXPECT_EQ(arrived[0].first, "Pw1;Fq");
    EXPECT_EQ(arrived[1].first, "40m;");
    EXPECT_EQ(arrived[2].first, "Tm0;");
    EXPECT_LT(arrived[0].second, milliseconds(100));
    for (size_t i = 1; i < arrived.size(); ++i) {
        Clock::duration gap = arrived[i].second - arrived[i - 1].second;
        EXPECT_GT(gap, milliseconds(100)) << i;
        EXPECT_LT(gap, milliseconds(300)) << i;
    }
    EXPECT_EQ(state.replay.next, 3u);
    EXPECT_EQ(state.replay.bytesWritten, 14u);
}

}  // namespace
}  // namespace tovaksim
