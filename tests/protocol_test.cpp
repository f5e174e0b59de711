// The wire protocol: message classes, field rules for short messages, reads
// split across ticks, "AtComplete", and the controller's error reports.
#include <gtest/gtest.h>

#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/poll.h"
#include "monitor/protocol.h"

namespace {

class Protocol : public ::testing::Test {
  protected:
    void SetUp() override { ResetConnected({"COM1", "COM3"}); }
    static void Read(const std::string& bytes) { ReadTick(bytes); }
};

TEST_F(Protocol, ShortAndMalformedMessagesAreTakenAsFarAsTheyGo) {
    Read("Sn12;Ve;Md;Cp06,11.10,11.2;Cp03x9.87654;Cp07,99.99;EaEle1    Ele2;");
    EXPECT_EQ(app.serialText, "Serial : Sn12\r");
    EXPECT_EQ(app.programText, "Program : Ve\r");
    EXPECT_EQ(app.modelText, "Model : Md\r");
    const std::array<std::string, 6> lengths = {"11.10m", "11.2m", "m", "9.876m", "m", "m"};
    EXPECT_EQ(app.elementLengths, lengths);
    const std::array<std::string, 6> names = {"Ele1    ", "Ele2", "", "", "", ""};
    EXPECT_EQ(app.elementNames, names);
    EXPECT_TRUE(fake.menuEnabled[id::kMenuAdjust]);

    Read("SnXXZ999;Fq;");
    EXPECT_EQ(app.serialText, "");
    EXPECT_EQ(app.frequencyText, "Fq");
    EXPECT_TRUE(fake.controlImages.count(id::kBand7Led) == 0);  // no band code: LEDs untouched
}

TEST_F(Protocol, MatchingIsExactAndCaseSensitiveAndEmptyMessagesAreIgnored) {
    Read("Pw1;Tm0;");
    const AppState before = app;
    Read(";;pw0;PW0;Pw;Pw2;tm1;Er;AtCompleteX;xAtComplete;");
    EXPECT_EQ(app.modeText, before.modeText);
    EXPECT_EQ(app.powerState, 1);
    EXPECT_EQ(fake.Wire(), "");
    ASSERT_EQ(fake.boxes.size(), 1u);  // the bare "Er" alone is recognised
    // Characters after an event's code do not matter.
    Read("Mt1;Mt0 and more;");
    EXPECT_EQ(app.motorStartTick, 0u);
}

TEST_F(Protocol, CompletionIsAnsweredWithTwoPowerPressesOneSecondApart) {
    const std::uint32_t start = fake.tick;
    Read("AtComplete;");
    EXPECT_EQ(fake.Wire(), "B7FNLP;B7FNLP;");
    EXPECT_EQ(fake.sleeps, std::vector<std::uint32_t>{1000});
    EXPECT_EQ(fake.tick - start, 1000u);
    EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
}

TEST_F(Protocol, AMessageSplitAcrossReadsIsInterpretedOnceWhole) {
    // The tail alone would read as a power-off report.
    Read("Pw1;Fq40m ");
    EXPECT_EQ(app.frequencyText, "");
    Read("Pw0 7.05 MHz;");
    EXPECT_EQ(app.frequencyText, "40m Pw0 7.05 MHz");
    EXPECT_EQ(app.powerState, 1);
    EXPECT_EQ(fake.controlImages[id::kBand7Led], id::kBitmapLedBlue);
    EXPECT_EQ(app.pendingMessage, "");
}

TEST_F(Protocol, ControllerErrorsShowTheirTextsInArrivalOrder) {
    Read("Er001;Erxx2;Er004;Er005;Er006;Er0071;Er;Er00;");
    const std::vector<std::string> texts = {
        "Received an unknown command",
        "During motor operation or HOME mode",
        "Can't be execute commands.\r(Controller is ADJUST mode)",
        "During motor operation or CALIBRATION mode",
        "Can't be execute commands.\r(not lock staus)",
        "Unknown Error (Er0071)",
        "Unknown Error (Er)",
        "Unknown Error (Er00)",
    };
    ASSERT_EQ(fake.boxes.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(fake.boxes[i].text, texts[i]);
        EXPECT_EQ(fake.boxes[i].caption, "ERROR");
        EXPECT_EQ(fake.boxes[i].style, 48u);
    }
}

TEST_F(Protocol, MessagesAfterAnErrorWaitForItsBoxAndNestedTicksLeaveThePortAlone) {
    app.keepAliveInterval = 120000;
    std::vector<std::string> modesUnderBoxes;
    fake.onBox = [&](const FakeBox&) {
        // The box's own loop: poll ticks and a keep-alive tick run nested
        // while the rest of the serial number arrives.
        if (fake.reads.empty()) {
            fake.reads.push_back("12;Pw1;");
        }
        PollTick(id::kPollTimer);
        PollTick(id::kKeepAliveTimer);
        PollTick(id::kPollTimer);
        modesUnderBoxes.push_back(app.modeText);
        return 1;
    };
    Read("Tm0;Er002;Er001;Pw0;Sn");
    ASSERT_EQ(fake.boxes.size(), 2u);
    EXPECT_EQ(fake.boxes[0].text, "During motor operation or HOME mode");
    EXPECT_EQ(fake.boxes[1].text, "Received an unknown command");
    const std::vector<std::string> modes = {"AUTO     ", "AUTO     "};
    EXPECT_EQ(modesUnderBoxes, modes);  // "Pw0" only after both boxes
    EXPECT_EQ(app.modeText, "POWER OFF    ");
    EXPECT_EQ(fake.Wire(), "Md;Md;");  // keep-alive still answered while the motor stands
    EXPECT_EQ(fake.reads.size(), 1u);  // what arrived under the boxes still waits
    EXPECT_FALSE(app.interpreting);
    EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
    PollTick(id::kPollTimer);
    EXPECT_EQ(app.serialText, "Serial : Sn12\r");
    EXPECT_EQ(app.modeText, "POWER ON     ");
}

TEST_F(Protocol, ARestOfAReadFromAPortSwitchedUnderABoxIsDropped) {
    fake.onBox = [](const FakeBox&) {
        ConnectPort("COM3");
        return 1;
    };
    Read("Er001;Pw1;Fq40m");
    EXPECT_EQ(app.modeText, "Connecting...  ");
    EXPECT_EQ(app.pendingMessage, "");
    EXPECT_FALSE(app.interpreting);
}

}  // namespace
