// What the program makes over a long session it releases: brushes, images,
// timers and port handles, however often the controller switches power, the
// user switches ports or opens the Adjust window, or an adapter is pulled out.
#include <gtest/gtest.h>

#include "adjust/adjust_poll.h"
#include "adjust/adjust_session.h"
#include "app/dispatch.h"
#include "app/ids.h"
#include "app/session.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/poll.h"

namespace {

constexpr int kRounds = 10000;

// Keeps the fake's records from growing over the rounds; the counts stay.
void ForgetRecords() {
    fake.writes.clear();
    fake.timeline.clear();
    fake.timerLog.clear();
    fake.adjustTimerLog.clear();
    fake.portLog.clear();
    fake.displayBrushes.clear();
    fake.dialogs.clear();
}

TEST(Resources, ALongSessionReleasesEverythingItMade) {
    ResetFake();
    fake.devices = {"COM1", "COM3"};
    fake.onDialog = [] {
        OpenAdjustSession();
        fake.reads.push_back("Cp06,10.00,10.00,10.00,10.00,10.00,10.00;");
        AdjustPoll(id::kAdjustPollTimer);
        EndAdjustSession();
        return 0;
    };
    StartSession();
    ASSERT_EQ(fake.liveStatusImages, 9);
    for (int round = 0; round < kRounds; ++round) {
        ReadTick("Pw0;");
        ReadTick("Pw1;Bm1;Tm0;Fq40m    7.050 MHz;");
        std::string port = app.portName == "COM1" ? "COM3" : "COM1";
        if (round % 10 == 9) {
            // The adapter pulled out and plugged back, then chosen again.
            port = app.portName;
            fake.Unplug(port);
            PollTick(id::kPollTimer);
            fake.Plug(port);
        }
        ConnectPort(port);
        DispatchCommand(id::kMenuAdjust);
        ASSERT_EQ(fake.liveBrushes.size(), 1u) << "round " << round;
        ASSERT_EQ(fake.panelBrush, *fake.liveBrushes.begin());
        ASSERT_EQ(fake.openPorts.size(), 1u) << "round " << round;
        ASSERT_LE(fake.timers.size(), 2u);
        ASSERT_EQ(fake.liveStatusImages, 9);
        ForgetRecords();
    }
    EXPECT_TRUE(fake.boxes.empty());
    EndSession();
    EXPECT_TRUE(fake.liveBrushes.empty());
    EXPECT_EQ(fake.panelBrush, platform::kNoBrush);
    EXPECT_TRUE(fake.openPorts.empty());
    EXPECT_TRUE(fake.timers.empty());
    EXPECT_EQ(fake.liveStatusImages, 0);
    EXPECT_EQ(fake.badReleases, 0);
}

}  // namespace
