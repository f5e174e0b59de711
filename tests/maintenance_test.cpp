// The RESET items, STEP and About: what goes on the wire, what the panel and
// the boxes show, and the waits in between.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "maintenance/about.h"
#include "maintenance/band_reset.h"
#include "monitor/poll.h"

namespace {

constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;
const std::string kLine1 = "panel  AUTO      NORMAL\r ";

class Maintenance : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFake();
        fake.devices = {"COM1"};
        ConnectPort("COM1");
        app.modeText = "AUTO     ";
        app.beamText = " NORMAL";
        app.frequencyText = "40m    7.050 MHz";
        fake.writes.clear();
        fake.timeline.clear();
        fake.boxes.clear();
    }
    // Boxes are answered in turn; the rest with OK.
    void Answer(std::deque<int> answers) {
        fake.onBox = [answers](const FakeBox&) mutable {
            const int answer = answers.empty() ? kOk : answers.front();
            if (!answers.empty()) {
                answers.pop_front();
            }
            return answer;
        };
    }
    // The band-reset question is answered after the controller's own panel
    // reported SET and/or CANCEL, read by a poll tick inside the box. Until the
    // status model acts on "Se0" and "Cn0", the flags are lowered here as
    // those reports lower them.
    void AnswerQuestion(int answer, bool setReported, bool cancelReported) {
        fake.onBox = [=](const FakeBox& shown) {
            if (shown.caption != "Confirm") {
                return kOk;
            }
            EXPECT_EQ(app.setPending, 2);
            EXPECT_EQ(app.cancelPending, 2);
            if (setReported || cancelReported) {
                fake.reads.push_back(std::string(setReported ? "Se0;" : "") +
                                     (cancelReported ? "Cn0;" : ""));
                PollTick(id::kPollTimer);
                app.setPending = setReported ? 0 : app.setPending;
                app.cancelPending = cancelReported ? 0 : app.cancelPending;
            }
            return answer;
        };
    }
};

using Timeline = std::vector<std::string>;

TEST_F(Maintenance, CurrentBandDecidesByTheAnswerAndTheControllersReports) {
    const std::string prompt = kLine1 + "Set default OK ?";
    const std::string loaded = "box RESET 0: Load 7MHz factory defaults";
    struct Case {
        int answer;
        bool set;
        bool cancel;
        Timeline after;
    };
    const Case cases[] = {
        {kYes, false, false, {kLine1 + "Writing", "sleep 1000", "write B5FNSP;", loaded}},
        {kYes, true, false, {prompt, loaded}},
        {kNo, true, false, {prompt, loaded}},
        {kNo, true, true, {prompt, loaded}},
        {kYes, false, true, {prompt}},
        {kNo, false, false, {kLine1 + "Canceled", "sleep 1000", "write B6FNSP;"}},
        {kNo, false, true, {prompt}},
    };
    for (const Case& c : cases) {
        SetUp();
        AnswerQuestion(c.answer, c.set, c.cancel);
        ResetCurrentBand();
        Timeline expected = {kLine1 + "Sending command",
                             "write B0BDLP;",
                             "sleep 2000",
                             kLine1 + "Sending command",
                             "sleep 1000",
                             prompt,
                             "box Confirm 52: Reset the 7MHz setting.\rIs it OK?"};
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(fake.timeline, expected)
            << "answer " << c.answer << " Se0 " << c.set << " Cn0 " << c.cancel;
    }
}

TEST_F(Maintenance, CurrentBandFromTheLabelTheDisplayShows) {
    // No band shown: a status request, no question, no wait.
    app.frequencyText = "*** ------- ----";
    ResetCurrentBand();
    EXPECT_EQ(fake.timeline, (Timeline{kLine1 + "Sending command", "write SR;"}));

    const struct {
        const char* shown;
        const char* wire;  // band key, then SET or CANCEL
        const char* question;
    } labels[] = {
        {"80m    3.500 MHz", "B1BDLP;B6FNSP;", "Reset the 3.5MHz setting.\rIs it OK?"},
        {" 6m   50.100 MHz", "B7BDLP;B6FNSP;", "Reset the 50MHz setting.\rIs it OK?"},
        {"6m    50.100 MHz", "B6FNSP;", "Reset the 6m  setting.\rIs it OK?"},
        {"80M    3.500 MHz", "B6FNSP;", "Reset the 80M setting.\rIs it OK?"},
        {"Element Home", "B6FNSP;", "Reset the Ele setting.\rIs it OK?"},
        {"", "B6FNSP;", "Reset the  setting.\rIs it OK?"},  // right after connecting
    };
    for (const auto& label : labels) {
        SetUp();
        app.frequencyText = label.shown;
        Answer({kNo});
        ResetCurrentBand();
        EXPECT_EQ(fake.Wire(), label.wire) << label.shown;
        ASSERT_EQ(fake.boxes.size(), 1u) << label.shown;
        EXPECT_EQ(fake.boxes[0].text, label.question);
        EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{2000, 1000, 1000}));
    }
    // A name outside the table is used in the defaults box as well.
    SetUp();
    app.frequencyText = "Ele 1  12.345 m";
    Answer({kYes});
    ResetCurrentBand();
    EXPECT_EQ(fake.Wire(), "B5FNSP;");
    EXPECT_EQ(fake.boxes.back().text, "Load Ele factory defaults");
}

TEST_F(Maintenance, AllBandsAsksTwiceLocksThenRestoresAndWaits) {
    const std::string ask = "box Confirm 52: Reset the all band setting.\rIs it OK?";
    const std::string cancel =
        "box Confirm 20: Reset the all band setting.\rwould you like to cancel?";

    Answer({kNo});
    ResetAllBands();
    EXPECT_EQ(fake.timeline, (Timeline{ask}));

    SetUp();
    Answer({kYes, kYes});
    ResetAllBands();
    EXPECT_EQ(fake.timeline, (Timeline{ask, cancel}));

    SetUp();
    Answer({kYes, kNo});
    const std::uint32_t start = fake.tick;
    ResetAllBands();
    EXPECT_EQ(fake.timeline,
              (Timeline{ask, cancel, "write Lock;", "panel  Restore\r Factory Defaults",
                        "sleep 300", "write AtDefault;", "sleep 9000"}));
    EXPECT_EQ(app.beamText, "");
    EXPECT_EQ(fake.tick - start, 9300u);

    // While the motor runs (or homing): the refusal alone.
    SetUp();
    app.motorStartTick = 4242;
    ResetAllBands();
    EXPECT_EQ(fake.timeline, (Timeline{"box ERROR 48: During motor operation or HOME mode"}));
    EXPECT_EQ(app.modeText, "AUTO     ");
}

TEST_F(Maintenance, StepKeyAndMenuItemSendTheLongPressForTheUnitShown) {
    const struct {
        const char* shown;
        const char* wire;
    } units[] = {
        {"40m    7.050 MHz", "B4FNLP;"},
        {"40m    7.050 mhz", "B3FNLP;"},
        {"40m    7.050 MHZ", ""},
        {"", ""},
        {"Writing", ""},
        {"MHz", "B4FNLP;"},
        {"hz", ""},
    };
    for (const auto& unit : units) {
        app.frequencyText = unit.shown;
        for (std::uint32_t command : {1036u, 1069u, 1069u | (1u << 16)}) {
            fake.writes.clear();
            DispatchCommand(command);
            EXPECT_EQ(fake.Wire(), unit.wire) << unit.shown << " command " << command;
        }
        fake.writes.clear();
        DispatchCommand(1036u | (1u << 16));  // a key acts on clicks only
        EXPECT_EQ(fake.Wire(), "");
    }
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Maintenance, AboutIsOwnedByTheWindowAndListsWhatTheControllerReported) {
    app.messageAnswer = kNo;
    DispatchCommand(id::kMenuAbout);
    const std::string head =
        "owned box About 0: Tovak Remote Ver 1.08\r\r"
        "Operates the antenna controller over a COM port.\r\r";
    EXPECT_EQ(fake.timeline, (Timeline{head}));
    EXPECT_EQ(app.messageAnswer, kNo);  // the answer is not kept

    // The lines as "Md", "Sn" and "Ve" leave them (the status model fills them).
    app.serialText = "Serial : 0042\r";
    ShowAbout();
    app.modelText = "Model : Tovak Hexbeam 6  \r";
    app.programText = "Program : V2.10.003\r";
    ShowAbout();
    EXPECT_EQ(fake.timeline, (Timeline{head, head + "Serial : 0042\r",
                                       head + "Model : Tovak Hexbeam 6  \rSerial : 0042\r"
                                              "Program : V2.10.003\r"}));
}

}  // namespace
