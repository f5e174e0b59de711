// The main window closed while a box is open: the box's own loop runs the
// window's destruction, and the procedure that opened the box resumes after it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/dispatch.h"
#include "app/ids.h"
#include "app/session.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/transmit.h"

namespace {

constexpr int kYes = 6;
constexpr int kNo = 7;
const std::string kQuestion = "box Confirm 52: Reset the 7MHz setting.\rIs it OK?";

// What the controller or the user could notice: everything but the panel's
// texts, which a closed window no longer shows.
std::vector<std::string> Noticeable() {
    std::vector<std::string> seen;
    for (const std::string& entry : fake.timeline) {
        if (entry.rfind("panel ", 0) != 0) {
            seen.push_back(entry);
        }
    }
    return seen;
}

// The main window is closed while the first box is open; the box then gives
// the answer it gives.
void CloseUnderTheFirstBox(int answer) {
    fake.onBox = [answer, closed = false](const FakeBox&) mutable {
        if (!closed) {
            closed = true;
            EndSession();
        }
        return answer;
    };
}

void Choose(int command) {
    DispatchCommand(static_cast<std::uint32_t>(command));
}

TEST(ClosedUnderABox, NothingIsShownSentOrWaitedForOnceTheSessionHasEnded) {
    // The band-reset question: neither Yes, nor No, nor no answer lead anywhere.
    for (int answer : {kYes, kNo, 0}) {
        ResetConnected();
        ReadTick("Pw1;Bm1;Tm0;Fq40m    7.050 MHz;");
        fake.timeline.clear();
        CloseUnderTheFirstBox(answer);
        Choose(id::kMenuResetCurrentBand);
        const std::vector<std::string> expected = {"write B0BDLP;", "sleep 2000", "sleep 1000",
                                                   kQuestion};
        EXPECT_EQ(Noticeable(), expected) << answer;
    }

    // The first all-band question: the second one never shows.
    ResetConnected();
    CloseUnderTheFirstBox(kYes);
    Choose(id::kMenuResetAllBands);
    EXPECT_EQ(fake.boxes.size(), 1u);
    EXPECT_TRUE(fake.writes.empty());

    // No port: closed under the band key's "COM port is unavailable", the
    // procedure neither waits nor asks.
    ResetFake();
    app.frequencyText = "40m    7.050 MHz";
    CloseUnderTheFirstBox(1);
    Choose(id::kMenuResetCurrentBand);
    EXPECT_EQ(Noticeable(), std::vector<std::string>{"box ERROR 48: COM port is unavailable"});

    // Two reports in one read: the second one's box never shows.
    ResetConnected();
    CloseUnderTheFirstBox(1);
    ReadTick("Er002;Er005;Pw1;");
    EXPECT_EQ(Noticeable(),
              std::vector<std::string>{"box ERROR 48: During motor operation or HOME mode"});
    EXPECT_EQ(app.powerState, 0);

    // And anything else that would send or ask afterwards.
    fake.timeline.clear();
    SendCommand("B1FNSP");
    ShowMessage("text", "caption", 48);
    EXPECT_TRUE(fake.timeline.empty());
    EXPECT_EQ(app.messageAnswer, 0);
}

}  // namespace
