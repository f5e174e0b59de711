// What screen readers are told about the panel and the Adjust window's length
// fields: names and roles from the table, values from the status model, and the
// announcements of changed values.
#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "adjust/adjust_poll.h"
#include "app/accessible.h"
#include "app/controls.h"
#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "monitor/poll.h"

namespace {

using Values = std::vector<std::pair<int, std::string>>;

const int kLeds[] = {1021, 1022, 1023, 1024, 1025, 1026, 1027, 1028, 1029, 1030, 1031, 1032};
const int kLengthIds[] = {1017, 1038, 1039, 1040, 1041, 1042};

// What a screen reader should hear for each bitmap the panel can show.
std::string WordOf(int bitmap) {
    const std::pair<int, const char*> words[] = {
        {102, "off"}, {103, "blue"}, {104, "green"}, {105, "orange"}, {106, "none"},
        {107, "10K"}, {108, "20K"},  {109, "40K"},   {110, "50K"},
    };
    for (const auto& [image, word] : words) {
        if (image == bitmap) {
            return word;
        }
    }
    return "?";
}

class Accessible : public ::testing::Test {
  protected:
    void SetUp() override { ResetConnected(); }

    static AccessReading Read(int control, AccessWindow window = AccessWindow::kMain) {
        AccessReading reading;
        EXPECT_TRUE(ReadAccessible(window, control, reading)) << "control " << control;
        return reading;
    }
    static std::string Value(int control) { return Read(control).value; }
    // Every LED and the step indicator, as a screen reader reads them now.
    static Values Lamps() {
        Values values;
        for (int led : kLeds) {
            values.emplace_back(led, Value(led));
        }
        values.emplace_back(id::kStepIndicator, Value(id::kStepIndicator));
        return values;
    }
    // The same as the panel shows them (the image each control was given last;
    // none yet is the one it was made with).
    static Values Shown() {
        Values values;
        for (std::size_t i = 0; i < kMainControlCount; ++i) {
            const ControlEntry& control = kMainControls[i];
            if (control.bitmap != 0 && control.id != id::kPanelPicture) {
                const auto shown = fake.controlImages.find(control.id);
                values.emplace_back(
                    control.id,
                    WordOf(shown == fake.controlImages.end() ? control.bitmap : shown->second));
            }
        }
        return values;
    }
    static void SilentTick() { PollTick(id::kPollTimer); }
};

TEST_F(Accessible, KeysAreNamedPushButtonsAndOnlyControlsWithoutTextAreDescribed) {
    const std::pair<int, const char*> keys[] = {
        {1001, "POWER"},  {1002, "AUTO"}, {1003, "MANUAL"}, {1004, "HOME"}, {1005, "CALIBRATION"},
        {1006, "MODE"},   {1007, "7M"},   {1008, "10M"},    {1009, "14M"},  {1010, "18M"},
        {1011, "21M"},    {1012, "24M"},  {1013, "28M"},    {1014, "50M"},  {1015, "SET"},
        {1016, "CANCEL"}, {1033, "UP"},   {1034, "DOWN"},   {1036, "STEP"},
    };
    for (const auto& [key, name] : keys) {
        const AccessReading reading = Read(key);
        EXPECT_EQ(reading.name, name) << key;
        EXPECT_EQ(reading.role, 0x2Bu) << key;  // ROLE_SYSTEM_PUSHBUTTON
        EXPECT_FALSE(reading.hasValue) << key;
    }
    // Described are exactly the keys and images that show no text; the picture,
    // the display panel, the hidden fields and the Test key speak for themselves.
    int described = 0;
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlEntry& control = kMainControls[i];
        const bool silent = std::strlen(control.text) == 0 && (control.style & style::kVisible) &&
                            control.id != id::kPanelPicture;
        EXPECT_EQ(IsDescribed(AccessWindow::kMain, control.id), silent) << control.id;
        described += silent ? 1 : 0;
    }
    EXPECT_EQ(described, 32);
    AccessReading reading;
    EXPECT_FALSE(ReadAccessible(AccessWindow::kMain, id::kDisplayPanel, reading));
    EXPECT_FALSE(ReadAccessible(AccessWindow::kMain, 1037, reading));
    // The Adjust window's ids 1001 to 1003 are its own buttons, with their texts.
    EXPECT_FALSE(IsDescribed(AccessWindow::kAdjust, id::kAdjustShort));
    EXPECT_FALSE(IsDescribed(AccessWindow::kAdjust, id::kAdjustEle1));
}

TEST_F(Accessible, LedsAndTheStepIndicatorSayWhatThePanelShowsAfterEveryReport) {
    const std::pair<int, const char*> names[] = {
        {1021, "7M band"},     {1022, "10M band"}, {1023, "14M band"}, {1024, "18M band"},
        {1025, "21M band"},    {1026, "24M band"}, {1027, "28M band"}, {1028, "50M band"},
        {1029, "power"},       {1030, "NORMAL"},   {1031, "180\xB0"},  {1032, "DIPOLE"},
        {1035, "tuning step"},
    };
    for (const auto& [lamp, name] : names) {
        const AccessReading reading = Read(lamp);
        EXPECT_EQ(reading.name, name);
        EXPECT_EQ(reading.role, 0x27u);  // ROLE_SYSTEM_INDICATOR
        EXPECT_TRUE(reading.hasValue);
    }
    Values before = Lamps();
    EXPECT_EQ(before, Shown());
    EXPECT_EQ(before.back().second, "none");
    EXPECT_EQ(before.front().second, "off");

    const char* reports[] = {
        "Pw1;Bm1;Tm0;Fq40m    7.050 MHz;",
        "Bm2;",
        "Fq30m   10.120 mhz;",
        "Ud2;",
        "Bm4;",
        "Cf0;",  // the step indicator goes dark while a request waits
        "Hm0;",  // homing darkens the band LEDs
        "Fq20m   14.100 MHz;Pw0;",
        "Pw1;Bm1;",
    };
    for (const char* report : reports) {
        ReadTick(report);
        EXPECT_EQ(Lamps(), Shown()) << "after " << report;
    }
    // Power off left the band LED lit; the rest went dark, and came back as told.
    EXPECT_EQ(Value(id::kBand14Led), "blue");
    EXPECT_EQ(Value(id::kPowerLed), "orange");
    EXPECT_EQ(Value(id::kNormalLed), "blue");
    EXPECT_EQ(Value(id::kStepIndicator), "none");
    ReadTick("Bm2;Fq30m   10.120 MHz;");
    EXPECT_EQ(Value(id::kReverseLed), "green");
    EXPECT_EQ(Value(id::kStepIndicator), "40K");
    EXPECT_EQ(Value(id::kBand10Led), "blue");
}

TEST_F(Accessible, TheBeamLedReadsBlinkingWhileTheMotorRunsWhicheverPhaseItShows) {
    ReadTick("Pw1;Bm4;Fq40m    7.050 MHz;");
    EXPECT_EQ(Value(id::kDipoleLed), "orange");
    ReadTick("Mt1;");
    std::vector<int> images;
    for (int tick = 0; tick < 4; ++tick) {
        SilentTick();
        images.push_back(fake.controlImages.at(id::kDipoleLed));
        EXPECT_EQ(Value(id::kDipoleLed), "blinking");
        EXPECT_EQ(Value(id::kNormalLed), "off");
        EXPECT_EQ(Value(id::kPowerLed), "orange");
    }
    EXPECT_NE(images[0], images[1]) << "the LED did not blink";
    ReadTick("Mt0;");
    EXPECT_EQ(Value(id::kDipoleLed), "orange");
    // Powered off with no beam mode, no LED blinks.
    ReadTick("Pw0;Mt1;");
    SilentTick();
    EXPECT_EQ(Lamps(), Shown());
}

TEST_F(Accessible, EachChangedValueIsAnnouncedOnceAndBlinkingAnnouncesNothingMore) {
    ReadTick("Pw1;Bm1;Fq40m    7.050 MHz;");
    EXPECT_EQ(fake.valueChanges, (std::vector<int>{1021, 1029, 1030, 1035}));
    fake.valueChanges.clear();
    ReadTick("Pw1;Bm1;Fq40m    7.050 MHz;Fq40m    7.060 MHz;");
    EXPECT_TRUE(fake.valueChanges.empty());

    ReadTick("Mt1;");
    for (int tick = 0; tick < 4; ++tick) {
        SilentTick();
    }
    ReadTick("Mt0;Fq30m   10.120 MHz;");
    EXPECT_EQ(fake.valueChanges, (std::vector<int>{1030, 1021, 1022, 1030, 1035}));

    // A read that goes back to where it began changes nothing a reader was told.
    fake.valueChanges.clear();
    ReadTick("Bm2;Fq40m    7.050 MHz;Bm1;Fq30m   10.120 MHz;");
    EXPECT_TRUE(fake.valueChanges.empty());

    // Under an error box, what the read showed so far is told at once.
    std::vector<int> underBox;
    fake.onBox = [&](const FakeBox&) {
        underBox = fake.valueChanges;
        return 1;
    };
    ReadTick("Pw0;Er001;Pw1;");
    EXPECT_EQ(underBox, (std::vector<int>{1029, 1030, 1035}));
    EXPECT_EQ(fake.valueChanges, (std::vector<int>{1029, 1030, 1035, 1029}));
}

TEST_F(Accessible, LengthFieldsAreNamedAfterTheirElementAndReadTheirLength) {
    for (std::size_t i = 0; i < kElementCount; ++i) {
        const AccessReading reading = Read(kLengthIds[i], AccessWindow::kAdjust);
        EXPECT_EQ(reading.name, "Ele" + std::to_string(i + 1) + " length");
        EXPECT_EQ(reading.role, 0x2Au);   // ROLE_SYSTEM_TEXT
        EXPECT_EQ(reading.state, 0x40u);  // STATE_SYSTEM_READONLY
        EXPECT_TRUE(reading.hasValue);
        EXPECT_EQ(reading.value, "");
    }
    // The names and lengths the controller sends, as the Adjust window takes them.
    fake.reads.push_back("EaDRIVEN  REFLECTRDIR 1   DIR 2   " + std::string(16, ' ') + ";");
    AdjustPoll(id::kAdjustPollTimer);
    fake.reads.push_back("Cp06,11.10,11.20,11.30,11.40,     ,11.60;");
    AdjustPoll(id::kAdjustPollTimer);
    const std::pair<std::string, std::string> expected[] = {
        {"DRIVEN length", "11.10m"}, {"REFLECTR length", "11.20m"}, {"DIR 1 length", "11.30m"},
        {"DIR 2 length", "11.40m"},  {"Ele5 length", "     m"},     {"Ele6 length", "11.60m"},
    };
    for (std::size_t i = 0; i < kElementCount; ++i) {
        const AccessReading reading = Read(kLengthIds[i], AccessWindow::kAdjust);
        EXPECT_EQ(std::make_pair(reading.name, reading.value), expected[i]);
        EXPECT_EQ(reading.value, fake.AdjustText(kLengthIds[i]));
    }
    // The motor that the Adjust window hears of blinks the beam LED's value too.
    ReadTick("Pw1;Bm1;");
    fake.valueChanges.clear();
    fake.reads.push_back("Mt1;");
    AdjustPoll(id::kAdjustPollTimer);
    EXPECT_EQ(Value(id::kNormalLed), "blinking");
    EXPECT_EQ(fake.valueChanges, (std::vector<int>{id::kNormalLed}));
}

}  // namespace
