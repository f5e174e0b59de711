// The poll cycle: reads, the kept rest of a message, silent ticks, keep-alive.
#include <gtest/gtest.h>

#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/panel.h"
#include "monitor/poll.h"
#include "monitor/protocol.h"

namespace {

class Poll : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetConnected();
        app.logFilePath = "tovakrem.log";
    }
};

TEST_F(Poll, WithoutAPortTicksChangeNothingAndShowNoBox) {
    app.portHandle = platform::kInvalidPort;
    fake.timers.clear();
    fake.controlTexts.clear();
    PollTick(id::kPollTimer);
    PollTick(id::kKeepAliveTimer);
    EXPECT_TRUE(fake.timerLog.empty());
    EXPECT_TRUE(fake.controlTexts.empty());
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_TRUE(fake.sleeps.empty());
}

TEST_F(Poll, AReadIsShownLoggedAndTheTimerRearmedAsItsLastStep) {
    app.debugLogging = 1;
    fake.caption.clear();
    fake.reads.push_back("Pw1;Fq 40m 7.050 MHz");
    PollTick(id::kPollTimer);
    EXPECT_EQ(fake.Text(id::kReceiveField), "Pw1;Fq 40m 7.050 MHz");
    EXPECT_EQ(fake.files["tovakrem.log"], "[2026/01/07 09:05:03][R]Pw1;Fq 40m 7.050 MHz\r\n");
    EXPECT_EQ(fake.caption, "Tovak Remote [COM1]");
    const std::vector<std::string> timers = {"stop 0", "start 0 100"};
    EXPECT_EQ(fake.timerLog, timers);
    EXPECT_EQ(app.pendingMessage, "Fq 40m 7.050 MHz");
}

TEST_F(Poll, SilentTicksLogNothingAndEmptyTheReceiveField) {
    app.debugLogging = 1;
    fake.reads.push_back("Pw1;");
    PollTick(id::kPollTimer);
    PollTick(id::kPollTimer);
    EXPECT_EQ(fake.Text(id::kReceiveField), "");
    EXPECT_EQ(fake.files["tovakrem.log"], "[2026/01/07 09:05:03][R]Pw1;\r\n");
    EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
}

TEST_F(Poll, AReadOfAFullBufferIsTakenWholeAndTheRestWaits) {
    fake.reads.push_back(std::string(5000, 'x'));
    PollTick(id::kPollTimer);
    EXPECT_EQ(fake.Text(id::kReceiveField).size(), 4095u);
    ASSERT_EQ(fake.reads.size(), 1u);
    EXPECT_EQ(fake.reads.front().size(), 905u);
}

TEST_F(Poll, BlinkPhaseFlipsEveryPollTick) {
    EXPECT_EQ(app.blinkPhase, 1);
    PollTick(id::kPollTimer);
    EXPECT_EQ(app.blinkPhase, 0);
    PollTick(id::kPollTimer);
    EXPECT_EQ(app.blinkPhase, 1);
}

TEST_F(Poll, KeepAliveTickPausesThenAsksForTheModelAndRestartsBothTimers) {
    app.keepAliveInterval = 120000;
    PollTick(id::kKeepAliveTimer);
    EXPECT_EQ(fake.sleeps, std::vector<std::uint32_t>{100});
    EXPECT_EQ(fake.Wire(), "Md;");
    EXPECT_EQ(fake.timers[id::kKeepAliveTimer], 120000u);
    EXPECT_EQ(fake.timers[id::kPollTimer], 100u);
    EXPECT_TRUE(fake.menuChecks[1089]);
}

TEST_F(Poll, KeepAliveTickWhileTheMotorRunsSendsNothing) {
    app.keepAliveInterval = 120000;
    app.motorStartTick = fake.tick - 100;
    PollTick(id::kKeepAliveTimer);
    EXPECT_TRUE(fake.sleeps.empty());
    EXPECT_EQ(fake.Wire(), "");
    EXPECT_TRUE(fake.TimerRunning(id::kKeepAliveTimer));
    EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
}

TEST_F(Poll, ElapsedCounterCountsTenthsAndSurvivesTheTickWrap) {
    app.motorStartTick = fake.tick - 100;
    EXPECT_EQ(ElapsedCounter(), "001");
    fake.tick += 1000;
    EXPECT_EQ(ElapsedCounter(), "011");
    fake.tick += 98900;  // 99.9 s after the start
    EXPECT_EQ(ElapsedCounter(), "000");
    fake.tick += 100;
    EXPECT_EQ(ElapsedCounter(), "001");
    app.motorStartTick = 0xFFFFFF00u;
    fake.tick = 0x000000F0u;  // the tick count wrapped 496 ms later
    EXPECT_EQ(ElapsedCounter(), "004");
}

TEST_F(Poll, SilentTickWhileTheMotorRunsShowsTheCounterAndBlinksTheBeamLed) {
    app.motorStartTick = fake.tick - 100;
    app.modeText = "AUTO     ";
    app.beamText = " NORMAL";
    app.frequencyText = "40m  7.050 MHz";
    PollTick(id::kPollTimer);  // blink phase now 0: the NORMAL LED lights
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " AUTO         001\r 40m  7.050 MHz");
    EXPECT_EQ(fake.controlImages[id::kNormalLed], id::kBitmapLedBlue);
    PollTick(id::kPollTimer);
    EXPECT_EQ(fake.controlImages[id::kNormalLed], id::kBitmapLedOff);
}

// Messages split across reads are completed, not lost.
class Split : public ::testing::Test {
  protected:
    void SetUp() override { ResetFake(); }
};

TEST_F(Split, UnterminatedRestIsCompletedByTheNextRead) {
    ReceiveMessages("Pw1;Fq 40m  7.0");
    EXPECT_EQ(app.pendingMessage, "Fq 40m  7.0");
    ReceiveMessages("50 MHz;Bm1;");
    EXPECT_EQ(app.pendingMessage, "");
}

TEST_F(Split, ARestGrowingPastOneReadWithoutTerminatorIsDropped) {
    ReceiveMessages(std::string(4000, 'a'));
    EXPECT_EQ(app.pendingMessage.size(), 4000u);
    ReceiveMessages(std::string(200, 'a'));
    EXPECT_EQ(app.pendingMessage, "");
    ReceiveMessages("Pw0");
    EXPECT_EQ(app.pendingMessage, "Pw0");
}

TEST(DisplayPanel, LinesFollowTheModeState) {
    ResetFake();
    app.modeText = "HOME     ";
    app.beamText = " NORMAL";
    app.frequencyText = "Push SET";
    app.modeState = 1;
    app.blinkPhase = 1;
    RefreshDisplayPanel("");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " HOME      NORMAL\r ");
    app.blinkPhase = 0;
    RefreshDisplayPanel("");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " HOME      NORMAL\r Push SET");
    app.modeState = 2;
    RefreshDisplayPanel("012");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " HOME     \r Push SET");
    app.modeState = 0;
    app.frequencyText = "Element Home    ";
    RefreshDisplayPanel("");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " HOME     \r Element Home    ");
    app.modeState = 7;
    RefreshDisplayPanel("");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " HOME     \r Element Home    ");
}

}  // namespace
