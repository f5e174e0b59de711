// The Adjust menu item and the Adjust window's exchange: opening, polling, the
// controller's answers, the buttons and closing.
#include <gtest/gtest.h>

#include "adjust/adjust_poll.h"
#include "adjust/adjust_session.h"
#include "app/dispatch.h"
#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/poll.h"

namespace {

using Texts = std::vector<std::string>;

const std::array<std::string, kElementCount> kKeptNames = {
    "Ele1    ", "Ele2    ", "Ele3    ", "Ele4    ", "        ", "        ",
};
const int kLengthIds[] = {1017, 1038, 1039, 1040, 1041, 1042};

class Adjust : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetConnected();
        app.logFilePath = "tovakrem.log";
    }
    // One poll of timer 0 that reads the given bytes (nothing when empty).
    void Poll(const std::string& bytes) {
        if (!bytes.empty()) {
            fake.reads.push_back(bytes);
        }
        AdjustPoll(id::kAdjustPollTimer);
    }
    Texts Lengths() const {
        Texts shown;
        for (int field : kLengthIds) {
            shown.push_back(fake.AdjustText(field));
        }
        return shown;
    }
    Texts BoxTexts() const {
        Texts texts;
        for (const FakeBox& box : fake.boxes) {
            texts.push_back(box.text);
        }
        return texts;
    }
};

TEST_F(Adjust, MenuItemIsRefusedWhileTheMotorRunsAndTheMainTimersKeepRunning) {
    app.motorStartTick = fake.tick - 100;
    DispatchCommand(id::kMenuAdjust);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "During motor operation");
    EXPECT_EQ(fake.boxes[0].caption, "ERROR");
    EXPECT_EQ(fake.boxes[0].style, 48u);
    EXPECT_TRUE(fake.dialogs.empty());
    EXPECT_TRUE(fake.timerLog.empty());
}

TEST_F(Adjust, MenuItemStopsTheMainTimersWhileTheWindowIsOpenAndRestartsThem) {
    app.keepAliveInterval = 120000;
    fake.onDialog = [] {
        EXPECT_FALSE(fake.TimerRunning(id::kPollTimer));
        EXPECT_FALSE(fake.TimerRunning(id::kKeepAliveTimer));
        OpenAdjustSession();
        EndAdjustSession();
        return 0;
    };
    DispatchCommand(id::kMenuAdjust);
    EXPECT_EQ(fake.dialogs, Texts{"AdjustDlg"});
    EXPECT_EQ(fake.timerLog,
              (Texts{"stop 0", "stop 2", "start 0 100", "stop 2", "start 2 120000"}));
    EXPECT_TRUE(fake.menuChecks[id::kMenuKeepAliveOn]);

    // With keep-alive off only the poll comes back.
    app.keepAliveInterval = 0;
    DispatchCommand(id::kMenuAdjust);
    EXPECT_EQ(fake.timers, (std::map<int, std::uint32_t>{{id::kPollTimer, 100}}));
    EXPECT_TRUE(fake.menuChecks[id::kMenuKeepAliveOff]);
}

TEST_F(Adjust, OpeningWithoutKeptNamesLocksAsksForThemAndFillsTheWindow) {
    app.modeText = "AUTO     ";
    app.beamText = " NORMAL";
    app.frequencyText = " 40m   7.050 MHz";
    app.elementLengths = {"11.10m", "11.20m", "11.30m", "11.40m", "11.50m", "11.60m"};
    OpenAdjustSession();
    EXPECT_EQ(fake.Wire(), "Lock;Ea;");
    EXPECT_EQ(app.modeText, "MANUAL   ");
    EXPECT_EQ(app.frequencyText, "Locked 7.050 MHz");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " MANUAL    NORMAL\r Locked 7.050 MHz");
    for (int choice = 1043; choice <= 1048; ++choice) {
        EXPECT_EQ(fake.AdjustText(choice), "") << choice;
        EXPECT_TRUE(fake.adjustEnabled[choice]) << choice;
    }
    EXPECT_EQ(Lengths(), (Texts{"11.10m", "11.20m", "11.30m", "11.40m", "11.50m", "11.60m"}));
    EXPECT_EQ(fake.adjustTimerLog, (Texts{"start 1 1500", "start 0 100"}));
    EXPECT_EQ(fake.adjustChecked, id::kAdjustEle1);
}

TEST_F(Adjust, OpeningWithKeptNamesOnlyLocksAndShowsThem) {
    app.elementNames = kKeptNames;
    app.frequencyText = "Push SET";
    OpenAdjustSession();
    EXPECT_EQ(fake.Wire(), "Lock;");
    EXPECT_EQ(app.frequencyText, "Locked Push SET");
    EXPECT_EQ(fake.AdjustText(1044), "Ele2    ");
    EXPECT_TRUE(fake.adjustEnabled[1046]);
    EXPECT_EQ(fake.AdjustText(1048), "        ");
    EXPECT_FALSE(fake.adjustEnabled[1048]);  // absent, as the answer that named it said

    // Without a port every command reports it, and the window still opens.
    ResetFake();
    OpenAdjustSession();
    EXPECT_EQ(BoxTexts(), (Texts{"COM port is unavailable", "COM port is unavailable"}));
    EXPECT_EQ(fake.adjustTimers.size(), 2u);
}

TEST_F(Adjust, LengthsTimerAsksOnceAndWithoutAPortThePollKeepsItsTimer) {
    AdjustPoll(id::kAdjustLengthsTimer);
    EXPECT_EQ(fake.Wire(), "Cp06;");
    EXPECT_EQ(fake.adjustTimerLog, Texts{"stop 1"});

    app.portHandle = platform::kInvalidPort;
    fake.adjustTimerLog.clear();
    fake.controlTexts.clear();
    Poll("Cp06,11.10;");
    EXPECT_TRUE(fake.adjustTimerLog.empty());
    EXPECT_TRUE(fake.controlTexts.empty());
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Adjust, AReadIsShownLoggedWithAnExtraTerminatorAndTheTimerRearmedLast) {
    app.debugLogging = 1;
    Poll(std::string("Cp06,11.10,11.20,11.30,11.40,11.50,11.60;\0Er1", 45));
    EXPECT_EQ(fake.Text(id::kReceiveField), "Cp06,11.10,11.20,11.30,11.40,11.50,11.60;");
    EXPECT_EQ(fake.files["tovakrem.log"],
              "[2026/01/07 09:05:03][R]Cp06,11.10,11.20,11.30,11.40,11.50,11.60;;\r\n");
    EXPECT_EQ(Lengths(), (Texts{"11.10m", "11.20m", "11.30m", "11.40m", "11.50m", "11.60m"}));
    EXPECT_EQ(fake.adjustTimerLog, (Texts{"stop 0", "start 0 100"}));

    // Silence while the motor stands: receive field emptied, nothing redrawn or logged.
    fake.controlTexts[id::kDisplayPanel] = "unchanged";
    fake.adjustTexts.clear();
    Poll("");
    EXPECT_EQ(fake.Text(id::kReceiveField), "");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), "unchanged");
    EXPECT_TRUE(fake.adjustTexts.empty());
    EXPECT_EQ(fake.files["tovakrem.log"],
              "[2026/01/07 09:05:03][R]Cp06,11.10,11.20,11.30,11.40,11.50,11.60;;\r\n");
}

TEST_F(Adjust, LengthAnswersAreTakenByPosition) {
    Poll("Cp06x11.10x11.20x11.30x11.40x11.50x11.60;");
    EXPECT_EQ(Lengths(), (Texts{"11.10m", "11.20m", "11.30m", "11.40m", "11.50m", "11.60m"}));
    Poll("Cp06,11.10,11.20,11.30,11.40,11.50,11.6;");
    EXPECT_EQ(Lengths()[5], "11.6m");
    Poll("Cp06,11.10,11.20,11.3;");
    EXPECT_EQ(Lengths(), (Texts{"11.10m", "11.20m", "11.3m", "m", "m", "m"}));

    // One element's answer carries its value where the first of all six stands.
    Poll("Cp03,09.75;Cp05 10.01;");
    EXPECT_EQ(Lengths(), (Texts{"11.10m", "11.20m", "11.3m", "09.75m", "m", "10.01m"}));
    Poll("Cp00,1;");
    EXPECT_EQ(Lengths()[0], "1m");

    // Other codes change nothing, but every "Cp" answer redisplays the fields.
    fake.adjustTexts.clear();
    Poll("Cp07,99.99;Cp;");
    EXPECT_EQ(Lengths(), (Texts{"1m", "11.20m", "11.3m", "09.75m", "m", "10.01m"}));
}

TEST_F(Adjust, NamesAnswerEnablesPresentElementsAndIsKept) {
    Poll("EaEle1    Ele2    Ele3    Ele4                    ;");
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(fake.AdjustText(1043 + i), kKeptNames[i]) << i;
        EXPECT_EQ(fake.adjustEnabled[1043 + i], i < 4) << i;
    }
    EXPECT_EQ(app.elementNames, kKeptNames);

    // A short answer enables every choice: only eight blanks mean absent.
    Poll("EaAB       ;");
    EXPECT_EQ(fake.AdjustText(1043), "AB      ");
    EXPECT_EQ(fake.AdjustText(1044), " ");
    EXPECT_TRUE(fake.adjustEnabled[1044]);
    EXPECT_TRUE(fake.adjustEnabled[1048]);
}

TEST_F(Adjust, MaxLengthNamesItsElementOncePerPoll) {
    app.elementNames = kKeptNames;
    Poll("Er0071;Er0071;");
    ASSERT_EQ(BoxTexts(), Texts{"Max Length : Ele2    "});
    EXPECT_EQ(fake.boxes[0].caption, "ERROR");
    EXPECT_EQ(fake.boxes[0].style, 48u);
    Poll("Er0071;");
    EXPECT_EQ(fake.boxes.size(), 2u);
    // A last character naming no element shows nothing and leaves the next free.
    Poll("Er0079;Er0073;");
    EXPECT_EQ(BoxTexts().back(), "Max Length : Ele4    ");
    EXPECT_EQ(fake.boxes.size(), 3u);
}

TEST_F(Adjust, ErrorCodesFollowTheAdjustTable) {
    Poll("Er0031;Er0021;Er0079;");
    EXPECT_TRUE(fake.boxes.empty());
    Poll("Er1;Er0011;Er0041;Er0051;Er0061;Er008;");
    EXPECT_EQ(BoxTexts(), (Texts{
                              "Unknown Error (Er1)",
                              "Received an unknown command",
                              "Can't be execute commands.\r(Controller is ADJUST mode)",
                              "During motor operation or CALIBRATION mode",
                              "Can't be execute commands.\r(not lock staus)",
                              "Unknown Error (Er008)",
                          }));

    // The next message waits until the box is closed.
    fake.onBox = [](const FakeBox&) {
        EXPECT_EQ(app.motorStartTick, 0u);
        return 1;
    };
    Poll("Er0011;Mt1;");
    EXPECT_NE(app.motorStartTick, 0u);
}

TEST_F(Adjust, MotorCounterRunsOnThePanelFromMt1ToMt0) {
    app.modeText = "MANUAL   ";
    app.beamText = " NORMAL";
    app.frequencyText = "Locked 7.050 MHz";
    Poll("Mt1xyz;");
    EXPECT_EQ(app.motorStartTick, fake.tick - 100);
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " MANUAL       001\r Locked 7.050 MHz");
    fake.tick += 1234;
    Poll("");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " MANUAL       013\r Locked 7.050 MHz");
    Poll("Mt0;");
    EXPECT_EQ(app.motorStartTick, 0u);
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " MANUAL    NORMAL\r Locked 7.050 MHz");
}

TEST_F(Adjust, ElapsedCounterRoundsTheTenthsToSinglePrecision) {
    app.motorStartTick = fake.tick - 100;
    EXPECT_EQ(AdjustElapsedCounter(), "001");
    fake.tick += 99900;  // 99.9 s after the start
    EXPECT_EQ(AdjustElapsedCounter(), "000");
    // 262144.99 tenths (over seven hours) is 262145 in single precision.
    app.motorStartTick = fake.tick - 26214499u;
    EXPECT_EQ(AdjustElapsedCounter(), "145");
    EXPECT_EQ(ElapsedCounter(), "144");  // the main window's counter cuts exactly
    app.motorStartTick = 0xFFFFFF00u;
    fake.tick = 0x000000F0u;
    EXPECT_EQ(AdjustElapsedCounter(), "004");
}

TEST_F(Adjust, AMessageSplitAcrossReadsIsCompletedOnce) {
    Poll("Cp06,11.10,11.20,11.3");
    EXPECT_EQ(Lengths(), (Texts{"", "", "", "", "", ""}));
    Poll("0,11.40,11.50,11.60;");
    EXPECT_EQ(Lengths(), (Texts{"11.10m", "11.20m", "11.30m", "11.40m", "11.50m", "11.60m"}));
    EXPECT_EQ(app.pendingMessage, "");

    // A read takes 100 bytes: a message cut there is completed by the next.
    std::string filler = "x";
    for (int i = 0; i < 24; ++i) {
        filler += "Mt0;";
    }
    Poll(filler + "Er1;Er2");
    EXPECT_EQ(fake.Text(id::kReceiveField).size(), 100u);
    EXPECT_TRUE(fake.boxes.empty());
    Poll("");
    EXPECT_EQ(BoxTexts(), Texts{"Unknown Error (Er1)"});
    EXPECT_EQ(app.pendingMessage, "Er2");
}

TEST_F(Adjust, AKeptRestPastItsBoundIsDropped) {
    for (int i = 0; i < 41; ++i) {
        Poll(std::string(100, 'a'));
    }
    EXPECT_EQ(app.pendingMessage, "");
    Poll("Er1;");
    EXPECT_EQ(BoxTexts(), Texts{"Unknown Error (Er1)"});
}

TEST_F(Adjust, ButtonsActOnTheSelectedElement) {
    const auto sent = [](auto press) {
        fake.writes.clear();
        press();
        return fake.Wire();
    };
    const auto shorter = [] { AdjustStep(AdjustDirection::kShort); };
    const auto longer = [] { AdjustStep(AdjustDirection::kLong); };
    fake.adjustChecked = id::kAdjustEle3;
    EXPECT_EQ(sent(shorter), "Ad02Short;");
    EXPECT_EQ(sent(longer), "Ad02Long ;");
    EXPECT_EQ(sent(AdjustWrite), "Wr02;");
    fake.adjustChecked = id::kAdjustEle1;
    EXPECT_EQ(sent(AdjustWrite), "Wr00;");
    for (int checked : {id::kAdjustAll, 0}) {
        fake.adjustChecked = checked;
        EXPECT_EQ(sent(shorter), "Ad06Short;");
        EXPECT_EQ(sent(longer), "Ad06Long ;");
        EXPECT_EQ(sent(AdjustWrite), "Wr06;");
    }
}

TEST_F(Adjust, ClosingPressesPowerLongTwiceASecondApartThenStopsThePoll) {
    OpenAdjustSession();
    fake.writes.clear();
    fake.adjustTimerLog.clear();
    const std::uint32_t start = fake.tick;
    EndAdjustSession();
    ASSERT_EQ(fake.writes.size(), 2u);
    EXPECT_EQ(fake.writes[0].bytes, "B7FNLP;");
    EXPECT_EQ(fake.writes[1].bytes, "B7FNLP;");
    EXPECT_EQ(fake.writes[1].tick - fake.writes[0].tick, 1000u);
    EXPECT_EQ(fake.tick - start, 2000u);
    EXPECT_EQ(fake.adjustTimerLog, Texts{"stop 0"});
}

}  // namespace
