// The status model and the panel: what each report changes on the display,
// the LEDs, the step indicator, the menu and the keep-alive.
#include <gtest/gtest.h>

#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/poll.h"
#include "monitor/protocol.h"

namespace {

class Status : public ::testing::Test {
  protected:
    void SetUp() override { ResetConnected(); }
    static void Read(const std::string& bytes) { ReadTick(bytes); }
    std::string Panel() const { return fake.Text(id::kDisplayPanel); }
    int Image(int control) const { return fake.controlImages.at(control); }
};

TEST_F(Status, ManyReportsInOneReadShowEachImageOnceAsTheLastReportLeftIt) {
    std::string read;
    for (int i = 0; i < 50; ++i) {
        read += "Fq20m   14.100 mhz;Bm2;Fq40m    7.050 MHz;Bm1;";
    }
    fake.imageSets.clear();
    Read(read + "Pw1;");
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedBlue);
    EXPECT_EQ(Image(id::kBand14Led), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep20k);
    EXPECT_EQ(Image(id::kNormalLed), id::kBitmapLedBlue);
    EXPECT_EQ(Image(id::kReverseLed), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kPowerLed), id::kBitmapLedOrange);
    for (const auto& [control, sets] : fake.imageSets) {
        EXPECT_EQ(sets, 1) << "control " << control;
    }
}

TEST_F(Status, AnErrorBoxShowsTheReadsImagesSoFarAndTheRestFollowsAfterIt) {
    std::vector<int> underBox;
    fake.onBox = [&](const FakeBox&) {
        underBox = {Image(id::kBand14Led), Image(id::kBand7Led)};
        return 1;
    };
    Read("Fq40m    7.050 MHz;Fq20m   14.100 mhz;Er001;Fq40m    7.050 MHz;");
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(underBox, (std::vector<int>{id::kBitmapLedBlue, id::kBitmapLedOff}));
    EXPECT_EQ(Image(id::kBand14Led), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedBlue);
    // Images are no longer held once the read is done: a motor blink shows at once.
    Read("Mt1;");
    app.blinkPhase = 0;
    PollTick(id::kPollTimer);
    EXPECT_EQ(Image(id::kNormalLed), id::kBitmapLedOff);
}

TEST_F(Status, PowerBeamModeAndFrequencyInOneReadFillThePanel) {
    Read("Pw1;Bm1;Tm0;Fq40m    7.050 MHz;");
    EXPECT_EQ(Panel(), " AUTO      NORMAL\r 40m    7.050 MHz");
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedBlue);
    for (int led = id::kBand10Led; led <= id::kBand50Led; ++led) {
        EXPECT_EQ(Image(led), id::kBitmapLedOff);
    }
    EXPECT_EQ(Image(id::kNormalLed), id::kBitmapLedBlue);
    EXPECT_EQ(Image(id::kReverseLed), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kPowerLed), id::kBitmapLedOrange);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep20k);
    EXPECT_TRUE(fake.menuEnabled[id::kMenuAdjust]);
    EXPECT_EQ(fake.displayBrushes.back(), 0x7F1E05u);

    Read("Bm4;Mt1;Pw0;");
    EXPECT_EQ(Panel(), " POWER OFF    \r ");
    EXPECT_FALSE(fake.menuEnabled[id::kMenuAdjust]);
    EXPECT_EQ(fake.displayBrushes.back(), 0x050505u);
    EXPECT_EQ(app.motorStartTick, 0u);
    EXPECT_EQ(Image(id::kDipoleLed), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kPowerLed), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStepNone);
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedBlue);  // band LEDs keep their state
}

TEST_F(Status, BandCodesLightTheirKeysLedAndStep) {
    Read("Fq30m   10.120 mhz;");
    EXPECT_EQ(Image(id::kBand10Led), id::kBitmapLedBlue);
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep20k);
    Read("Fq 6m   50.100 MHz;");
    EXPECT_EQ(Image(id::kBand50Led), id::kBitmapLedBlue);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep50k);
    Read("Fq99m   50.100 MHz;");  // unknown band: LEDs and step stay
    EXPECT_EQ(Image(id::kBand50Led), id::kBitmapLedBlue);
    EXPECT_EQ(app.frequencyText, "99m   50.100 MHz");
}

TEST_F(Status, StepUnitReportsSwitchOnlyTheOtherUnit) {
    Read("Fq40m    7.050 MHz;Ud2;");
    EXPECT_EQ(app.frequencyText, "40m    7.050 MHz");
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep20k);
    Read("Ud3;");
    EXPECT_EQ(app.frequencyText, "40m    7.050 mhz");
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep10k);
    Read("Ud3;Ud2;");
    EXPECT_EQ(app.frequencyText, "40m    7.050 MHz");
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep20k);
    // On 6 m the unit changes, the indicator stays at 50K.
    Read("Fq 6m   50.100 MHz;Ud3;");
    EXPECT_EQ(app.frequencyText, " 6m   50.100 mhz");
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep50k);
    // A short display field: only its unit is replaced.
    Read("Fq 6m mhz;Ud2;");
    EXPECT_EQ(app.frequencyText, "Fq 6m MHz");
}

TEST_F(Status, RestrictedModelGraysTheLowBandsAndShows50KOn20m) {
    Read("MdxxKYRAL Beam 2 v1.;Fq20m   14.100 mhz;");
    EXPECT_EQ(app.modelRestricted, 1);
    EXPECT_EQ(app.modelText, "Model : KYRAL Beam 2 v1.\r");
    EXPECT_FALSE(fake.menuEnabled[id::kMenuBand7]);
    EXPECT_FALSE(fake.menuEnabled[id::kMenuBand10]);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep50k);
    Read("Ud2;");
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep50k);
    Read("MdKYRAL Beam 3    ;Ud3;");
    EXPECT_EQ(app.modelRestricted, 0);
    EXPECT_TRUE(fake.menuEnabled[id::kMenuBand7]);
    EXPECT_TRUE(fake.menuEnabled[id::kMenuBand10]);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStep20k);
}

TEST_F(Status, RequestsWaitForSetKeepTheEarlierModeAndPauseKeepAlive) {
    app.keepAliveInterval = 120000;
    ApplyKeepAlive();
    Read("Tm0;Fq40m    7.050 MHz;Cf0;Tm1;Cf1;");
    EXPECT_FALSE(fake.TimerRunning(id::kKeepAliveTimer));
    EXPECT_EQ(app.modeState, 1);
    EXPECT_EQ(app.savedModeText, "AUTO     ");
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStepNone);
    // "Push SET" blinks with the ticks, also the silent ones.
    const std::string shown = Panel();
    Read("");
    const std::string other = Panel();
    EXPECT_NE(shown, other);
    EXPECT_TRUE(shown == " CALIB    \r Push SET" || other == " CALIB    \r Push SET");
    EXPECT_TRUE(shown == " CALIB    \r " || other == " CALIB    \r ");
    Read("Se0;");
    EXPECT_TRUE(fake.TimerRunning(id::kKeepAliveTimer));
    Read("Fq40m    7.050 MHz;");
    EXPECT_EQ(app.modeText, "AUTO     ");
    EXPECT_EQ(app.savedModeText, "");
}

TEST_F(Status, HomingAndCalibrationDarkenAndPauseUntilDone) {
    app.keepAliveInterval = 120000;
    Read("Fq40m    7.050 MHz;Hm0;Tm0;");
    EXPECT_EQ(Panel(), " HOME     \r ");
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedOff);
    EXPECT_FALSE(fake.TimerRunning(id::kKeepAliveTimer));
    Read("Hm1;");
    EXPECT_TRUE(fake.TimerRunning(id::kKeepAliveTimer));
    EXPECT_EQ(app.modeState, 2);
    Read("Cl0;");
    EXPECT_EQ(Panel(), " CALIB    \r ");
    EXPECT_FALSE(fake.TimerRunning(id::kKeepAliveTimer));
    app.cancelPending = 2;
    Read("Cn0;");
    EXPECT_EQ(app.cancelPending, 0);
    EXPECT_EQ(app.modeState, 0);
    EXPECT_TRUE(fake.TimerRunning(id::kKeepAliveTimer));
}

TEST_F(Status, ElementDisplayHidesTheBeamWordAndIsFollowedByManual) {
    Read("Tm0;Bm2;FqElement Home    ;");
    EXPECT_EQ(Panel(), " AUTO     \r Element Home    ");
    EXPECT_EQ(Image(id::kBand7Led), id::kBitmapLedOff);
    EXPECT_EQ(Image(id::kStepIndicator), id::kBitmapStepNone);
    Read("Fq40m    7.050 MHz;");
    EXPECT_EQ(Panel(), " MANUAL    REVERSE\r 40m    7.050 MHz");
}

TEST_F(Status, MotorCounterRunsOnTheDisplayFromTheStartReport) {
    Read("Tm0;Bm1;Fq40m    7.050 MHz;Mt1;");
    EXPECT_EQ(Panel(), " AUTO         001\r 40m    7.050 MHz");
    fake.tick += 12300;
    Read("");
    EXPECT_EQ(Panel(), " AUTO         124\r 40m    7.050 MHz");
    Read("Mt0;");
    EXPECT_EQ(Panel(), " AUTO      NORMAL\r 40m    7.050 MHz");
    // A start at tick 100 must not read as a stopped motor.
    fake.tick = 100;
    Read("Mt1;");
    EXPECT_NE(app.motorStartTick, 0u);
    EXPECT_EQ(ElapsedCounter(), "001");
}

}  // namespace
