// The RESET items, STEP and About over the controller's real reports: what
// goes on the wire, what the panel and the boxes show, and the waits between.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/dispatch.h"
#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/poll.h"

namespace {

constexpr int kOk = 1;
constexpr int kYes = 6;
constexpr int kNo = 7;
const std::string kLine1 = "panel  AUTO      NORMAL\r ";
using Timeline = std::vector<std::string>;

class Maintenance : public ::testing::Test {
  protected:
    void SetUp() override { ResetConnected(); }
    static void Read(const std::string& bytes) { ReadTick(bytes); }
    // A fresh start; then, unless display is empty, the controller shows it.
    void Start(const std::string& display) {
        SetUp();
        if (!display.empty()) {
            Read("Pw1;Bm1;Tm0;Fq" + display + ";");
        }
        fake.writes.clear();
        fake.timeline.clear();
    }
    // Boxes get the answers in turn, then OK; the controller's reports are read
    // under the first box, as its message loop runs the poll.
    static void Answer(std::vector<int> answers, std::string reports = "") {
        fake.onBox = [answers, reports, next = std::size_t{0}](const FakeBox&) mutable {
            if (!reports.empty()) {
                Read(reports);
                reports.clear();
            }
            return next < answers.size() ? answers[next++] : kOk;
        };
    }
    static void Choose(int command) { DispatchCommand(static_cast<std::uint32_t>(command)); }
};

TEST_F(Maintenance, CurrentBandDecidesByTheAnswerAndTheControllersReports) {
    const std::string sending = kLine1 + "Sending command", prompt = kLine1 + "Set default OK ?";
    const std::string loaded = "box RESET 0: Load 7MHz factory defaults";
    // The answer, the reports read under the question (each redraws the prompt), the rest.
    const std::tuple<int, const char*, Timeline> cases[] = {
        {kYes, "", {kLine1 + "Writing", "sleep 1000", "write B5FNSP;", loaded}},
        {kYes, "Se0;", {prompt, loaded}},
        {kNo, "Se0;", {prompt, loaded}},
        {kNo, "Cn0;Se0;", {prompt, loaded}},
        {kYes, "Cn0;", {prompt}},
        {kNo, "", {kLine1 + "Canceled", "sleep 1000", "write B6FNSP;"}},
        {kNo, "Cn0;", {prompt}}};
    const Timeline head = {sending,
                           "write B0BDLP;",
                           "sleep 2000",
                           sending,
                           "sleep 1000",
                           prompt,
                           "box Confirm 52: Reset the 7MHz setting.\rIs it OK?"};
    for (const auto& [answer, reports, after] : cases) {
        Start("40m    7.050 MHz");
        Answer({answer}, reports);
        Choose(id::kMenuResetCurrentBand);
        Timeline expected = head;
        expected.insert(expected.end(), after.begin(), after.end());
        EXPECT_EQ(fake.timeline, expected) << answer << " " << reports;
    }
}

TEST_F(Maintenance, CurrentBandFromTheLabelTheDisplayShows) {
    Start("*** ------- ----");  // no band: a status request, no question, no wait
    Choose(id::kMenuResetCurrentBand);
    EXPECT_EQ(fake.timeline, (Timeline{kLine1 + "Sending command", "write SR;"}));
    // What the display shows (empty: nothing since connecting), the band key, the band's name.
    const std::tuple<const char*, const char*, const char*> labels[] = {
        {"80m    3.500 MHz", "B1BDLP;", "3.5MHz"},
        {" 6m   50.100 MHz", "B7BDLP;", "50MHz"},
        {"80M    3.500 MHz", "", "80M"},
        {"Element Home    ", "", "Ele"},
        {"", "", ""}};
    for (const auto& [display, key, band] : labels) {
        Start(display);
        Answer({kNo});
        Choose(id::kMenuResetCurrentBand);
        EXPECT_EQ(fake.Wire(), key + std::string("B6FNSP;"));
        EXPECT_EQ(fake.boxes.at(0).text, "Reset the " + std::string(band) + " setting.\rIs it OK?");
        EXPECT_EQ(fake.sleeps, (std::vector<std::uint32_t>{2000, 1000, 1000}));
    }
}

TEST_F(Maintenance, AllBandsIsRefusedOrAsksTwiceThenLocksAndRestores) {
    Start("40m    7.050 MHz");
    Read("Mt1;");
    fake.timeline.clear();
    Choose(id::kMenuResetAllBands);
    EXPECT_EQ(fake.timeline, (Timeline{"box ERROR 48: During motor operation or HOME mode"}));

    const Timeline questions = {
        "box Confirm 52: Reset the all band setting.\rIs it OK?",
        "box Confirm 20: Reset the all band setting.\rwould you like to cancel?"};
    // No to the first, or Yes to "would you like to cancel?": nothing more.
    for (const std::vector<int>& declined : {std::vector<int>{kNo}, {kYes, kYes}}) {
        Start("");
        Answer(declined);
        Choose(id::kMenuResetAllBands);
        EXPECT_EQ(fake.timeline, Timeline(questions.begin(), questions.begin() + declined.size()));
    }
    Start("");
    Answer({kYes, kNo});
    const std::uint32_t start = fake.tick;
    Choose(id::kMenuResetAllBands);
    EXPECT_EQ(fake.timeline, (Timeline{questions[0], questions[1], "write Lock;",
                                       "panel  Restore\r Factory Defaults", "sleep 300",
                                       "write AtDefault;", "sleep 9000"}));
    EXPECT_EQ(fake.tick - start, 9300u);
}

TEST_F(Maintenance, StepKeyAndMenuItemSendTheLongPressForTheUnitShown) {
    // Reports in turn (the first none since connecting), and what STEP sends then.
    const std::pair<const char*, const char*> steps[] = {{"", ""},
                                                         {"Fq40m    7.050 MHz;", "B4FNLP;"},
                                                         {"Ud3;", "B3FNLP;"},
                                                         {"Ud2;", "B4FNLP;"},
                                                         {"Fq40m    7.050 MHZ;", ""}};
    for (const auto& [report, wire] : steps) {
        Read(report);
        for (int command : {id::kStepKey, id::kMenuStep}) {
            fake.writes.clear();
            Choose(command);
            EXPECT_EQ(fake.Wire(), wire) << report << " " << command;
        }
    }
}

TEST_F(Maintenance, AboutIsOwnedByTheWindowAndListsWhatTheControllerReported) {
    const std::string head =
        "owned box About 0: Tovak Remote Ver 1.08\r\r"
        "Operates the antenna controller over a COM port.\r\r";
    Timeline shown;
    app.messageAnswer = kNo;
    for (const char* reports : {"", "Sn0042;", "VeV2.10.003;MdTovak Hexbeam 6 ;"}) {
        Read(reports);
        Choose(id::kMenuAbout);
        shown.push_back(fake.timeline.back());
    }
    EXPECT_EQ(app.messageAnswer, kNo);  // the answer is not kept
    EXPECT_EQ(shown,
              (Timeline{head, head + "Serial : 0042\r",
                        head + "Model : Tovak Hexbeam 6 \rSerial : 0042\rProgram : V2.10.003\r"}));
}

}  // namespace
