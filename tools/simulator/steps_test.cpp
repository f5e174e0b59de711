#include "steps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "escapes.h"
#include "test_line.h"

namespace tovaksim {
namespace {

Step Parse(const std::string& line) {
    Step step;
    std::string error;
    EXPECT_TRUE(ParseStep(line, step, error)) << line << ": " << error;
    return step;
}

std::string ParseError(const std::string& line) {
    Step step;
    std::string error;
    EXPECT_FALSE(ParseStep(line, step, error)) << line;
    return error;
}

TEST(ParseStep, BlankAndCommentLinesAreNoSteps) {
    for (const char* line : {"", "   ", "# send SR;", "  # note", "\r\n"}) {
        EXPECT_EQ(Parse(line).def, nullptr) << line;
    }
}

TEST(ParseStep, TextTakesTheWholeRestOfTheLineWithEscapes) {
    Step step = Parse("send Fq 7.000\\x3b Pw1;\r\n");
    ASSERT_NE(step.def, nullptr);
    EXPECT_EQ(step.bytes, "Fq 7.000; Pw1;");
}

TEST(ParseStep, TextAndNumberSplitAtTheLastBlank) {
    Step split = Parse("sendsplit Pw1; Bm1; 4");
    EXPECT_EQ(split.bytes, "Pw1; Bm1;");
    EXPECT_EQ(split.number, 4);
    Step expect = Parse("expect B1FNSP; 1500");
    EXPECT_EQ(expect.bytes, "B1FNSP;");
    EXPECT_EQ(expect.number, 1500);
}

TEST(ParseStep, FloodPatternIsOptional) {
    EXPECT_EQ(Parse("flood 5000").bytes, "");
    Step step = Parse("flood 10 Pw1;");
    EXPECT_EQ(step.number, 10);
    EXPECT_EQ(step.bytes, "Pw1;");
}

TEST(ParseStep, RefusesBadLinesWithAReason) {
    EXPECT_NE(ParseError("sned SR;").find("unknown step"), std::string::npos);
    EXPECT_NE(ParseError("send").find("usage"), std::string::npos);
    ParseError("send bad\\q");
    ParseError("delay");
    ParseError("delay -5");
    ParseError("delay 5ms");
    ParseError("delay 600001");
    ParseError("delay 99999999999999999999999");
    ParseError("garbage 0");
    ParseError("sendsplit Pw1;");
    ParseError("sendsplit Pw1; x");
    ParseError("expect 100");
    ParseError("quit now");
    ParseError("hangup 1");
    ParseError("stream 0");
    ParseError("stream 601");
    ParseError("press");
}

// A line with both ends open: the simulator's state, and the program's end.
class StepsOnALine : public ::testing::Test {
  protected:
    void SetUp() override {
        state.linkPath = folder.Path() + "/com1";
        std::string error;
        ASSERT_TRUE(state.link.Open(state.linkPath, error)) << error;
        program = OpenProgramEnd(state.linkPath);
        ASSERT_TRUE(program.Valid());
    }

    bool Run(const std::string& line, std::string* errorOut = nullptr) {
        Step step = Parse(line);
        std::string error;
        bool ok = RunStep(state, step, error);
        if (errorOut != nullptr) {
            *errorOut = error;
        }
        return ok;
    }

    void ProgramWrites(const std::string& bytes) { ProgramWrites(program.Get(), bytes); }
    static void ProgramWrites(int fd, const std::string& bytes) {
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    TempFolder folder;
    SimState state;
    UniqueFd program;
};

TEST_F(StepsOnALine, SendWritesTheDecodedBytes) {
    ASSERT_TRUE(Run("send Pw1;\\r\\xff"));
    EXPECT_EQ(ReadAvailable(program.Get(), 500, 6), "Pw1;\r\xff");
}

TEST_F(StepsOnALine, SendSplitDeliversTwoPartsAPauseApart) {
    // The pause is read from the simulator's own record, stamped as it writes: what the
    // reading end sees depends on when a loaded machine lets it run.
    std::string error;
    const std::string recordPath = folder.Path() + "/record";
    ASSERT_TRUE(state.recorder.Open(recordPath, error)) << error;
    ASSERT_TRUE(Run("sendsplit Fq14.025;Pw1; 5"));
    EXPECT_EQ(ReadAvailable(program.Get(), 500, 13), "Fq14.025;Pw1;");
    std::ifstream record(recordPath);
    std::vector<std::pair<double, std::string>> writes;
    double ms = 0;
    std::string kind;
    std::string hex;
    while (record >> ms >> kind >> hex) {
        if (kind == "tx") {
            writes.emplace_back(ms, hex);
        }
    }
    ASSERT_EQ(writes.size(), 2U);
    EXPECT_EQ(writes[0].second, HexBytes("Fq14."));
    EXPECT_EQ(writes[1].second, HexBytes("025;Pw1;"));
    EXPECT_GE(writes[1].first - writes[0].first, 30.0);
}

TEST_F(StepsOnALine, SendSplitOutsideTheTextIsRefusedAndSendsNothing) {
    std::string error;
    EXPECT_FALSE(Run("sendsplit Pw1; 4", &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadAvailable(program.Get(), 50), "");
}

TEST_F(StepsOnALine, FloodRepeatsItsPatternToTheExactCount) {
    ASSERT_TRUE(Run("flood 10 Pw1;"));
    EXPECT_EQ(ReadAvailable(program.Get(), 500, 10), "Pw1;Pw1;Pw");
    ASSERT_TRUE(Run("flood 30"));
    std::string filler = ReadAvailable(program.Get(), 500, 30);
    EXPECT_EQ(filler, "ABCDEFGHIJKLMNOPQRSTUVWXYZABCD");
}

TEST_F(StepsOnALine, FloodLargerThanThePtyBufferArrivesWhole) {
    // The kernel holds a few KiB for the slave: the rest waits for the program's reads.
    Step step = Parse("flood 100000");
    std::string error;
    bool ok = false;
    std::thread simulator([&] { ok = RunStep(state, step, error); });
    std::string received = ReadAvailable(program.Get(), 5000, 100000);
    simulator.join();
    EXPECT_TRUE(ok) << error;
    EXPECT_EQ(received.size(), 100000u);
}

TEST_F(StepsOnALine, GarbageIsReproducibleFromTheSeed) {
    state.random.seed(42);
    ASSERT_TRUE(Run("garbage 64"));
    std::string first = ReadAvailable(program.Get(), 500, 64);
    state.random.seed(42);
    ASSERT_TRUE(Run("garbage 64"));
    std::string second = ReadAvailable(program.Get(), 500, 64);
    EXPECT_EQ(first.size(), 64u);
    EXPECT_EQ(first, second);
    EXPECT_NE(first, std::string(64, first[0]));
}

TEST_F(StepsOnALine, ExpectWaitsForTheTextAndConsumesIt) {
    std::thread program_side([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ProgramWrites("SR;B1FN");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ProgramWrites("SP;");
    });
    EXPECT_TRUE(Run("expect B1FNSP; 2000"));
    program_side.join();
    std::string error;
    EXPECT_FALSE(Run("expect B1FNSP; 100", &error)) << "a second expect needs a second copy";
    EXPECT_NE(error.find("timeout"), std::string::npos);
    EXPECT_EQ(state.received, "SR;B1FNSP;");
}

TEST_F(StepsOnALine, SilenceLeavesTheProgramsBytesUnreadUntilItEnds) {
    std::thread program_side([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        ProgramWrites("SR;");
    });
    ASSERT_TRUE(Run("silence 150"));
    program_side.join();
    EXPECT_EQ(state.received, "");
    ASSERT_TRUE(Run("delay 50"));
    EXPECT_EQ(state.received, "SR;");
}

TEST_F(StepsOnALine, HangupEndsTheLineForTheProgram) {
    ASSERT_TRUE(Run("hangup"));
    char byte;
    ssize_t count = read(program.Get(), &byte, 1);
    EXPECT_TRUE(count == 0 || (count < 0 && errno == EIO)) << "read gave " << count;
    struct stat info {};
    EXPECT_NE(lstat(state.linkPath.c_str(), &info), 0) << "the link outlived the line";
    std::string error;
    EXPECT_FALSE(Run("send Pw1;", &error));
    EXPECT_FALSE(Run("hangup", &error));
}

TEST_F(StepsOnALine, PlugAfterAHangupOffersAFreshLineUnderTheSameLinkOnlyThen) {
    std::string error;
    EXPECT_FALSE(Run("plug", &error));
    const std::string oldSlave = state.link.SlavePath();
    UniqueFd dead = OpenProgramEnd(state.linkPath);
    ASSERT_TRUE(Run("hangup"));
    ASSERT_TRUE(Run("plug"));
    EXPECT_NE(state.link.SlavePath(), oldSlave);
    UniqueFd plugged = OpenProgramEnd(state.linkPath);
    ASSERT_TRUE(plugged.Valid());
    ASSERT_TRUE(Run("send Pw1;"));
    EXPECT_EQ(ReadAvailable(plugged.Get(), 500, 4), "Pw1;");
    EXPECT_EQ(ReadAvailable(dead.Get(), 50), "") << "the old line came back to life";
    ProgramWrites(plugged.Get(), "SR;");
    ASSERT_TRUE(Run("delay 50"));
    EXPECT_EQ(state.received, "SR;");
}

TEST_F(StepsOnALine, HangupWithRelinkOffersAFreshLineUnderTheSameLink) {
    state.relink = true;
    std::string oldSlave = state.link.SlavePath();
    ASSERT_TRUE(Run("hangup"));
    ASSERT_TRUE(state.link.IsOpen());
    EXPECT_NE(state.link.SlavePath(), oldSlave);
    UniqueFd reopened = OpenProgramEnd(state.linkPath);
    ASSERT_TRUE(reopened.Valid());
    ASSERT_TRUE(Run("send Pw0;"));
    EXPECT_EQ(ReadAvailable(reopened.Get(), 500, 4), "Pw0;");
}

const std::string kStatus = "Pw1;Bm1;Tm0;Fq20m   14.100 MHz;Sn0042;VeVer 01.20;MdSim Beam 600    ;";

// Reads the program's end for as long as the simulator's side runs.
std::string ReadWhile(int fd, const std::atomic<bool>& running) {
    std::string bytes;
    while (running) {
        bytes += ReadAvailable(fd, 20);
    }
    return bytes + ReadAvailable(fd, 100);
}

TEST_F(StepsOnALine, TheModelAnswersAndWakesForItsMotorWhileAStepWaits) {
    state.modelOn = true;
    std::atomic<bool> running{true};
    std::thread simulator([&] {
        Run("delay 800");
        running = false;
    });
    ProgramWrites("S");
    ProgramWrites("R;B3FNSP;");
    EXPECT_EQ(ReadAvailable(program.Get(), 500, kStatus.size() + 4), kStatus + "Mt1;");
    auto started = Clock::now();
    std::string stopped = ReadAvailable(program.Get(), 600, 23);
    auto took = Clock::now() - started;
    running = false;
    simulator.join();
    EXPECT_EQ(stopped, "Mt0;Fq20m   14.140 MHz;");
    EXPECT_GT(took, std::chrono::milliseconds(200));
    EXPECT_LT(took, std::chrono::milliseconds(400));
}

TEST_F(StepsOnALine, PressAndModelStepsWorkTheModel) {
    std::string error;
    EXPECT_FALSE(Run("press B7FNLP", &error));
    EXPECT_NE(error.find("--model"), std::string::npos) << error;
    EXPECT_FALSE(Run("model band 40m", &error));

    state.modelOn = true;
    ASSERT_TRUE(Run("press B7FNLP;"));
    ASSERT_TRUE(Run("delay 20"));
    EXPECT_EQ(ReadAvailable(program.Get(), 500, 4), "Pw0;");
    ASSERT_TRUE(Run("model power on"));
    ASSERT_TRUE(Run("model name KYRAL Beam 2"));
    ASSERT_TRUE(Run("model band 15m"));
    ASSERT_TRUE(Run("delay 20"));
    EXPECT_EQ(ReadAvailable(program.Get(), 500, kStatus.size()), kStatus);
    ProgramWrites("B0BDSP;SR;");
    ASSERT_TRUE(Run("delay 50"));
    EXPECT_EQ(ReadAvailable(program.Get(), 500),
              "Er001;Pw1;Bm1;Tm0;Fq15m   21.200 MHz;Sn0042;VeVer 01.20;MdKYRAL Beam 2    ;");
    EXPECT_FALSE(Run("model band", &error));
    EXPECT_FALSE(Run("model band 21m", &error));
    EXPECT_NE(error.find("band"), std::string::npos) << error;
}

TEST_F(StepsOnALine, StreamKeepsTheLinesRateAndTheModelsMessagesWhole) {
    state.modelOn = true;
    std::atomic<bool> running{true};
    bool ok = false;
    auto started = Clock::now();
    std::thread simulator([&] {
        ok = Run("stream 1");
        running = false;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ProgramWrites("SR;");
    std::string received = ReadWhile(program.Get(), running);
    auto took = Clock::now() - started;
    simulator.join();
    ASSERT_TRUE(ok);

    size_t status = received.find(kStatus);
    ASSERT_NE(status, std::string::npos) << "the model's answer arrives whole";
    EXPECT_TRUE(status == 0 || received[status - 1] == ';') << "and between two messages";
    std::string streamed = received.substr(0, status) + received.substr(status + kStatus.size());
    size_t messages = static_cast<size_t>(std::count(streamed.begin(), streamed.end(), ';'));
    EXPECT_EQ(state.stepAnswer,
              std::to_string(messages) + " messages " + std::to_string(streamed.size()) + " bytes");
    EXPECT_GE(streamed.size(), 11520u);
    EXPECT_LT(streamed.size(), 11520u + 18);
    EXPECT_EQ(streamed.back(), ';');
    EXPECT_GT(took, std::chrono::milliseconds(950));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
}

TEST(ModelOnADevice, ALostDeviceEndsTheRunWithAFailure) {
    UniqueFd master(posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    ASSERT_TRUE(master.Valid());
    ASSERT_EQ(grantpt(master.Get()), 0);
    ASSERT_EQ(unlockpt(master.Get()), 0);
    SimState state;
    state.modelOn = true;
    std::string error;
    ASSERT_TRUE(state.link.OpenDevice(ptsname(master.Get()), error)) << error;
    ASSERT_EQ(write(master.Get(), "SR;", 3), 3);
    ServeUntil(state, Clock::now() + std::chrono::milliseconds(100), nullptr);
    EXPECT_EQ(ReadAvailable(master.Get(), 500, kStatus.size()), kStatus);

    master.Reset();
    auto lost = Clock::now();
    ServeUntil(state, lost + std::chrono::seconds(5), nullptr);
    EXPECT_LT(Clock::now() - lost, std::chrono::seconds(1)) << "the wait ends with the run";
    EXPECT_TRUE(state.quit);
    EXPECT_EQ(state.exitCode, 1);
    EXPECT_FALSE(state.link.IsOpen());
}

}  // namespace
}  // namespace tovaksim
