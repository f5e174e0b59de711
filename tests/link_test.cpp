// Port connection, command transmission and the debug log.
#include <gtest/gtest.h>

#include <initializer_list>

#include "adjust/adjust_poll.h"
#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/log.h"
#include "link/port.h"
#include "link/transmit.h"
#include "monitor/poll.h"

namespace {

class Link : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFake();
        fake.devices = {"COM1", "COM3", "\\\\.\\COM12"};
    }
};

TEST_F(Link, SuccessfulConnectionConfiguresThePortAndAsksForStatusAtOnce) {
    ConnectPort("COM3");
    ASSERT_NE(app.portHandle, platform::kInvalidPort);
    EXPECT_EQ(app.portName, "COM3");
    EXPECT_EQ(fake.caption, "Tovak Remote [COM3]");
    // Trial open, then the real open with the serial settings in order.
    const std::vector<std::string> expected = {"open COM3",  "close COM3",    "open COM3",
                                               "state COM3", "timeouts COM3", "queues COM3"};
    EXPECT_EQ(fake.portLog, expected);
    EXPECT_EQ(fake.lastSettings.baudRate, 115200u);
    EXPECT_EQ(fake.lastSettings.flags, 0x3001u);
    EXPECT_EQ(fake.lastSettings.byteSize, 8);
    EXPECT_EQ(fake.lastSettings.parity, 0);
    EXPECT_EQ(fake.lastSettings.stopBits, 0);
    EXPECT_EQ(fake.lastTimeouts.readIntervalTimeout, 120u);
    EXPECT_EQ(fake.lastTimeouts.readTotalTimeoutConstant, 120u);
    EXPECT_EQ(fake.lastTimeouts.writeTotalTimeoutConstant, 120u);
    EXPECT_EQ(fake.lastQueueIn, 1048576u);
    EXPECT_EQ(fake.lastQueueOut, 1048576u);
    EXPECT_EQ(fake.Wire(), "SR;");
    EXPECT_EQ(app.modeText, "Connecting...  ");
    EXPECT_EQ(fake.Text(id::kDisplayPanel), " Connecting...  \r ");
    // Polled at once, even when no port was open before.
    EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Link, MissingPortIsReportedAndTheOldConnectionStaysInUse) {
    ConnectPort("COM3");
    const platform::PortHandle old = app.portHandle;
    fake.writes.clear();
    ConnectPort("\\\\.\\COM14");
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Can not open COM14");
    EXPECT_EQ(fake.boxes[0].caption, "ERROR");
    EXPECT_EQ(fake.boxes[0].style, 48u);
    EXPECT_EQ(app.portHandle, old);
    EXPECT_EQ(app.portName, "COM3");
    EXPECT_EQ(fake.caption, "Tovak Remote [COM3]");
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(fake.openPorts.size(), 1u);
}

TEST_F(Link, SwitchingClosesTheOldPortOnlyAfterTheNewOneOpened) {
    ConnectPort("COM1");
    ConnectPort("\\\\.\\COM12");
    EXPECT_EQ(app.portName, "\\\\.\\COM12");
    EXPECT_EQ(fake.caption, "Tovak Remote [COM12]");
    ASSERT_EQ(fake.openPorts.size(), 1u);
    EXPECT_EQ(fake.openPorts.begin()->second, "\\\\.\\COM12");
    EXPECT_EQ(fake.writes.back().port, "\\\\.\\COM12");
    EXPECT_EQ(fake.writes.back().bytes, "SR;");
}

TEST_F(Link, ThePortAlreadyOpenIsRefusedAndKeepsWorking) {
    ConnectPort("COM1");
    fake.writes.clear();
    ConnectPort("COM1");
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Can not open COM1");
    EXPECT_EQ(fake.openPorts.size(), 1u);
    EXPECT_TRUE(fake.writes.empty());
    SendCommand("B0FNSP");
    EXPECT_EQ(fake.Wire(), "B0FNSP;");
}

TEST_F(Link, NamesLongerThanElevenCharactersAreRefusedNotShortened) {
    fake.devices.insert("COM1234567");
    fake.devices.insert("COM12345678");
    ConnectPort("COM123456789");  // 12 characters, its first 11 name a device
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Can not open COM123456789");
    EXPECT_TRUE(fake.portLog.empty());
    ConnectPort("COM12345678");  // 11 characters: opened
    EXPECT_EQ(app.portName, "COM12345678");
}

TEST_F(Link, FailedSecondOpenLeavesNoPortAndReportsTheStatusRequest) {
    fake.devices.insert("COM5");
    fake.failSecondOpen.insert("COM5");
    ConnectPort("COM1");
    ConnectPort("COM5");
    EXPECT_EQ(app.portHandle, platform::kInvalidPort);
    EXPECT_TRUE(fake.openPorts.empty());
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "COM port is unavailable");
}

TEST(ShowMainTitle, DropsOnlyAnExactDevicePrefix) {
    ResetFake();
    ShowMainTitle("\\\\.\\COM15");
    EXPECT_EQ(fake.caption, "Tovak Remote [COM15]");
    ShowMainTitle("Connection Error");
    EXPECT_EQ(fake.caption, "Tovak Remote [Connection Error]");
    ShowMainTitle("//./COM2");
    EXPECT_EQ(fake.caption, "Tovak Remote [//./COM2]");
    ShowMainTitle(std::string(1000, 'x'));
    EXPECT_EQ(fake.caption.size(), 255u);
}

class Transmit : public Link {
  protected:
    void SetUp() override {
        Link::SetUp();
        ConnectPort("COM1");
        fake.writes.clear();
        app.logFilePath = "C:\\Users\\op\\AppData\\Local\\VORNHALT\\tovakrem.log";
    }
    std::string Log() { return fake.files[app.logFilePath]; }
};

TEST_F(Transmit, WritesTheCodeWithItsTerminatorAndShowsIt) {
    SendCommand("SR");
    EXPECT_EQ(fake.Wire(), "SR;");
    EXPECT_EQ(fake.Text(id::kCommandField), "SR");
    fake.writes.clear();
    SendCommand("");
    EXPECT_EQ(fake.Wire(), ";");
}

TEST_F(Transmit, LongCodesAreCutAtNinetyNineCharactersOnTheWireButLoggedWhole) {
    app.debugLogging = 1;
    const std::string code(150, 'A');
    SendCommand(code);
    EXPECT_EQ(fake.Wire(), std::string(99, 'A') + ";");
    EXPECT_EQ(Log(), "[2026/01/07 09:05:03][S]" + code + ";\r\n");
}

TEST_F(Transmit, WithoutAPortEverySendIsReportedAndNothingWrittenOrLogged) {
    app.debugLogging = 1;
    app.portHandle = platform::kInvalidPort;
    SendCommand("B1FNSP");
    SendCommand("B2FNSP");
    ASSERT_EQ(fake.boxes.size(), 2u);
    for (const FakeBox& box : fake.boxes) {
        EXPECT_EQ(box.text, "COM port is unavailable");
        EXPECT_EQ(box.caption, "ERROR");
        EXPECT_EQ(box.style, 48u);
    }
    EXPECT_EQ(fake.Text(id::kCommandField), "B2FNSP");
    EXPECT_TRUE(fake.writes.empty());
    EXPECT_EQ(fake.fileOpens, 0);
}

TEST_F(Transmit, TheAnswerOfEveryBoxIsKept) {
    app.portHandle = platform::kInvalidPort;
    fake.onBox = [](const FakeBox&) { return 6; };
    SendCommand("SR");
    EXPECT_EQ(app.messageAnswer, 6);
}

TEST_F(Transmit, LogLinesPadDatesAndTimesAndAreOnlyEverAppended) {
    app.debugLogging = 1;
    fake.files[app.logFilePath] = "earlier line\r\n";
    fake.now = platform::LocalTime{2026, 3, 4, 7, 8, 9};
    SendCommand("SR");
    fake.now = platform::LocalTime{2026, 12, 31, 0, 0, 0};
    WriteLogLine('R', "Pw1;");
    EXPECT_EQ(Log(),
              "earlier line\r\n"
              "[2026/03/04 07:08:09][S]SR;\r\n"
              "[2026/12/31 00:00:00][R]Pw1;\r\n");
    EXPECT_EQ(LogDateText(), "2026/12/31");
    EXPECT_EQ(LogTimeText(), "00:00:00");
}

TEST_F(Transmit, LogIsNeverTouchedUnlessDebugIsExactlyOne) {
    for (std::uint8_t flag : std::initializer_list<std::uint8_t>{0, 2, 255}) {
        app.debugLogging = flag;
        SendCommand("SR");
        WriteLogLine('I', "MainWnd Create");
    }
    EXPECT_EQ(fake.fileOpens, 0);
    EXPECT_TRUE(fake.files.empty());
}

TEST_F(Transmit, ALineThatCannotBeWrittenIsDroppedAndTheSendStillHappens) {
    app.debugLogging = 1;
    fake.lockedFiles.insert(app.logFilePath);
    SendCommand("SR");
    EXPECT_EQ(fake.Wire(), "SR;");
    EXPECT_EQ(Log(), "");
    fake.lockedFiles.clear();
    SendCommand("Md");
    EXPECT_EQ(Log(), "[2026/01/07 09:05:03][S]Md;\r\n");
}

}  // namespace

// An adapter pulled out and plugged back. Each way the line can show that its
// device has gone: Wine fails the status query and writes but lets reads wait
// out their time-out; Windows fails the reads as well; a write may be first.
struct GoneLine {
    const char* how;
    bool statusFails;
    bool readsFail;
    bool keyPressFirst;  // noticed by a key press before any tick
};
const GoneLine kGoneLines[] = {
    {"status query fails, reads come back empty", true, false, false},
    {"reads fail", false, true, false},
    {"a write fails first", false, false, true},
};

TEST(GonePort, IsNotReadGivesNoBoxAndIsConnectedAfreshWhenChosenAgain) {
    for (const GoneLine& line : kGoneLines) {
        SCOPED_TRACE(line.how);
        ResetConnected({"COM1", "COM3"});
        ConnectPort("COM3");
        ASSERT_TRUE(fake.boxes.empty());
        ReadTick("Pw1;Bm1;Tm0;Fq40m    7.050 MHz;");
        const std::string panel = fake.Text(id::kDisplayPanel);
        const platform::PortHandle dead = app.portHandle;
        fake.gone.statusFails = line.statusFails;
        fake.gone.readsFail = line.readsFail;
        fake.gone.writesFail = true;
        fake.Unplug("COM3");
        if (line.keyPressFirst) {
            SendCommand("B1FNSP");
        }
        PollTick(id::kPollTimer);
        const int readsWhileGone = fake.readCalls;
        for (int i = 0; i < 50; ++i) {
            PollTick(id::kPollTimer);
        }
        // Silence from then on: never read again, nothing boxed, the panel and
        // the caption as they were, the poll still armed.
        EXPECT_EQ(fake.readCalls, readsWhileGone);
        EXPECT_TRUE(fake.boxes.empty());
        EXPECT_EQ(fake.Text(id::kDisplayPanel), panel);
        EXPECT_EQ(fake.caption, "Tovak Remote [COM3]");
        EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));

        // Chosen again while the adapter is still out: the trial open fails.
        ConnectPort("COM3");
        ASSERT_EQ(fake.boxes.size(), 1u);
        EXPECT_EQ(fake.boxes[0].text, "Can not open COM3");
        EXPECT_EQ(app.portHandle, dead);

        // Plugged back: the normal connection on a new handle, polled at once.
        fake.Plug("COM3");
        fake.portLog.clear();
        fake.writes.clear();
        ConnectPort("COM3");
        EXPECT_EQ(fake.boxes.size(), 1u);
        EXPECT_NE(app.portHandle, dead);
        EXPECT_EQ(fake.portLog,
                  (std::vector<std::string>{"open COM3", "close COM3", "close COM3", "open COM3",
                                            "state COM3", "timeouts COM3", "queues COM3"}));
        EXPECT_EQ(fake.openPorts.size(), 1u);
        EXPECT_EQ(fake.Wire(), "SR;");
        EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
        ReadTick("Pw1;Bm2;Tm1;Fq20m   14.150 MHz;");
        EXPECT_EQ(fake.Text(id::kDisplayPanel), " MANUAL   REVERSE\r 20m   14.150 MHz");

        // Working again, so the same port is refused as before.
        ConnectPort("COM3");
        EXPECT_EQ(fake.boxes.size(), 2u);
        EXPECT_EQ(fake.openPorts.size(), 1u);
    }
}

TEST(GonePort, TheAdjustWindowsPollLeavesItAloneToo) {
    ResetConnected();
    fake.Unplug("COM1");
    const int reads = fake.readCalls;
    fake.reads.push_back("Cp06,10.00,10.00,10.00,10.00,10.00,10.00;");
    for (int i = 0; i < 20; ++i) {
        AdjustPoll(id::kAdjustPollTimer);
    }
    EXPECT_EQ(fake.readCalls, reads);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(fake.adjustTimers.count(id::kAdjustPollTimer), 1u);
}
