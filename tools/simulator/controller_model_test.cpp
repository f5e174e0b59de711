#include "controller_model.h"

#include <gtest/gtest.h>

#include "model_settings.h"

namespace tovaksim {
namespace {

using std::chrono::milliseconds;

const std::string kIdentity = "Sn0042;VeVer 01.20;MdSim Beam 600    ;";

// The model on a clock of the test's own: nothing happens unless the test moves it.
class Model : public ::testing::Test {
  protected:
    // What the program writes; returns what the model answers at once.
    std::string Send(const std::string& bytes) {
        ModelReceive(model, bytes, now);
        return Take();
    }
    std::string Take() {
        std::string output;
        output.swap(model.output);
        return output;
    }
    // Moves the clock on; returns what fell due meanwhile.
    std::string After(milliseconds time) {
        now += time;
        ModelAdvance(model, now);
        return Take();
    }
    // How long until the next event.
    Clock::duration Pending() {
        Clock::time_point due;
        EXPECT_TRUE(ModelNextDue(model, due)) << "nothing pending";
        return due - now;
    }
    // Runs the clock until nothing is pending; returns everything that came.
    std::string Settle() {
        Clock::time_point due;
        while (ModelNextDue(model, due)) {
            now = due;
            ModelAdvance(model, now);
        }
        return Take();
    }
    void Setting(const std::string& name, const std::string& value) {
        std::string error;
        ASSERT_TRUE(ApplyModelSetting(model, name, value, now, error)) << error;
        Take();
    }

    Clock::time_point now = Clock::time_point() + std::chrono::hours(1);
    ModelState model;
};

TEST_F(Model, StatusRequestReportsEveryFieldInItsPlace) {
    EXPECT_EQ(Send("SR;"), "Pw1;Bm1;Tm0;Fq20m   14.100 MHz;" + kIdentity);
    EXPECT_EQ(Send("Md;"), "MdSim Beam 600    ;");

    // Field layouts as the program takes them apart.
    for (int band = 0; band < kBandCount; ++band) {
        for (bool large : {true, false}) {
            const BandDef& def = BandAt(band);
            std::string fq = FrequencyMessage(band, def.highKHz, large);
            ASSERT_EQ(fq.size(), 18u) << fq;
            EXPECT_EQ(fq.substr(2, 3), def.code);
            EXPECT_EQ(fq.substr(15), large ? "MHz" : "mhz");
        }
    }
    EXPECT_EQ(FrequencyMessage(FindBand("40m"), 7005, false), "Fq40m    7.005 mhz");
    EXPECT_EQ(model.name.size(), 12u);
}

TEST_F(Model, CommandsAreCutAtTheTerminatorWhereverTheReadsEnd) {
    EXPECT_EQ(Send("S"), "");
    EXPECT_EQ(Send("R;M"), "Pw1;Bm1;Tm0;Fq20m   14.100 MHz;" + kIdentity);
    EXPECT_EQ(Send("d;;;\r\nMd;"), "MdSim Beam 600    ;MdSim Beam 600    ;")
        << "empty commands and a terminal's line ends are no commands";
    EXPECT_EQ(Send("XYZ;B8BDSP;B3FNSPX;Cp07;"), "Er001;Er001;Er001;Er001;");
    // A run without terminator stays bounded and comes out as one unknown command.
    EXPECT_EQ(Send(std::string(100000, 'A')), "");
    EXPECT_LE(model.rest.size(), 4096u);
    EXPECT_EQ(Send(";"), "Er001;");
    EXPECT_EQ(model.rest, "");
}

TEST_F(Model, PowerKeysSwitchAndAControllerThatIsOffTakesNoKeys) {
    EXPECT_EQ(Send("B7FNLP;"), "Pw0;");
    EXPECT_EQ(Send("SR;"), "Pw0;" + kIdentity);
    EXPECT_EQ(Send("B3FNSP;B0BDSP;Lock;Ea;Cp06;XYZ;"), "") << "off: keys and commands ignored";
    EXPECT_EQ(Send("B7FNSP;"), "Pw1;Bm1;Tm0;Fq20m   14.100 MHz;" + kIdentity);
    EXPECT_EQ(Send("B7FNSP;"), "") << "already on";
    // The POWER key twice: off and on again, as the program brings the controller back.
    EXPECT_EQ(Send("B7FNLP;B7FNLP;"), "Pw0;Pw1;Bm1;Tm0;Fq20m   14.100 MHz;" + kIdentity);
}

TEST_F(Model, BandKeysRunTheMotorToTheBandsFrequency) {
    EXPECT_EQ(Send("B2BDSP;"), "Fq20m   14.100 MHz;") << "the band in use: nothing to move";
    EXPECT_EQ(Send("B4BDSP;"), "Mt1;");
    EXPECT_EQ(Send("B3FNSP;SR;"), "Er002;Pw1;Bm1;Tm0;Mt1;Fq15m   21.200 MHz;" + kIdentity)
        << "keys refused while the motor runs; the status says it runs";
    EXPECT_EQ(Settle(), "Mt0;Fq15m   21.200 MHz;");

    // Key 1 again and again: 30m, 80m, 75m, 30m.
    for (const char* fq : {"Fq30m   10.120 MHz;", "Fq80m    3.550 MHz;", "Fq75m    3.850 MHz;",
                           "Fq30m   10.120 MHz;"}) {
        EXPECT_EQ(Send("B1BDSP;"), "Mt1;");
        EXPECT_EQ(Settle(), std::string("Mt0;") + fq);
    }
    EXPECT_EQ(Send("B7BDSP;"), "Mt1;");
    EXPECT_EQ(Settle(), "Mt0;Fq 6m   50.150 MHz;");
}

TEST_F(Model, UpAndDownMoveByTheBandsStepForATimeFromTheDistance) {
    EXPECT_EQ(Send("B3FNSP;"), "Mt1;");
    Clock::duration up = Pending();
    EXPECT_GT(up, milliseconds(250));
    EXPECT_LT(up, milliseconds(300));
    EXPECT_EQ(After(std::chrono::duration_cast<milliseconds>(up) - milliseconds(1)), "");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.140 MHz;");

    EXPECT_EQ(Send("B4FNLP;"), "Ud3;");
    EXPECT_EQ(Send("B4FNSP;"), "Mt1;");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.120 mhz;");
    EXPECT_EQ(Send("B3FNLP;"), "Ud2;");

    // A band change moves the elements metres, not centimetres: it takes longer.
    EXPECT_EQ(Send("B7BDSP;"), "Mt1;");
    EXPECT_GT(Pending(), 3 * up);
    Settle();

    // Step sizes by band and unit.
    struct Case {
        const char* band;
        const char* unit;
        const char* fq;
    };
    for (const Case& c :
         {Case{"40m", "MHz", "Fq40m    7.070 MHz;"}, Case{"40m", "mhz", "Fq40m    7.060 mhz;"},
          Case{"75m", "mhz", "Fq75m    3.860 mhz;"},
          Case{"30m", "MHz", "Fq30m   10.150 MHz;"},  // 40 kHz, held at the edge
          Case{"20m", "mhz", "Fq20m   14.120 mhz;"}, Case{"17m", "mhz", "Fq17m   18.150 mhz;"}}) {
        ModelState fresh;
        model = fresh;
        Setting("band", c.band);
        Setting("unit", c.unit);
        Send("B3FNSP;");
        EXPECT_EQ(Settle(), std::string("Mt0;") + c.fq) << c.band << " " << c.unit;
    }
    // Held at the band's edge, where there is nothing more to move.
    Send("B3FNSP;");
    EXPECT_EQ(Settle(), "Mt0;Fq17m   18.168 mhz;");
    EXPECT_EQ(Send("B3FNSP;"), "Fq17m   18.168 mhz;");
}

TEST_F(Model, ARunCutShortLeavesTheElementsWhereTheTimeTookThem) {
    Setting("band", "40m");
    EXPECT_EQ(Send("B7BDSP;"), "Mt1;");
    Clock::duration full = Pending();
    Clock::duration moving = full - MotorDuration(0, kTuneSpeed);
    now += MotorDuration(0, kTuneSpeed) + moving / 2;
    double middle = (TunedPosition(7050) + TunedPosition(50150)) / 2;
    EXPECT_NEAR(MotorPosition(model, now), middle, 1e-3);
    EXPECT_EQ(Send("B7FNLP;"), "Pw0;");
    EXPECT_EQ(Settle(), "") << "no motor stop reported after the power went";
    Send("B7FNLP;");
    EXPECT_EQ(Send("B0BDSP;"), "Mt1;");
    Clock::duration back = Pending() - MotorDuration(0, kTuneSpeed);
    EXPECT_NEAR(std::chrono::duration<double>(back).count(),
                std::chrono::duration<double>(moving).count() / 2, 0.002);
    EXPECT_EQ(MotorDuration(5, kTuneSpeed), milliseconds(1250));
}

TEST_F(Model, ModeAndOperatingKeys) {
    EXPECT_EQ(Send("B0FNSP;B0FNSP;B0FNSP;B0FNSP;"), "Bm2;Bm4;Bm1;Bm2;");
    EXPECT_EQ(Send("B2FNSP;SR;"), "Tm1;Pw1;Bm2;Tm1;Fq20m   14.100 MHz;" + kIdentity);
    EXPECT_EQ(Send("B1FNSP;"), "Tm0;");
    EXPECT_EQ(Send("B5FNSP;B6FNSP;"), "") << "nothing waits for SET or CANCEL";
}

TEST_F(Model, HomeAndCalibrationWaitForSetAndRunTheMotor) {
    EXPECT_EQ(Send("B1FNLP;"), "Cf0;");
    EXPECT_EQ(Send("B1FNSP;B3FNSP;"), "Er002;Er002;") << "keys refused while HOME waits for SET";
    EXPECT_EQ(Send("B6FNSP;"), "Cn0;");
    EXPECT_EQ(Send("B1FNLP;B5FNSP;"), "Cf0;Se0;Hm0;Mt1;");
    EXPECT_EQ(Send("B1BDSP;"), "Er002;");
    EXPECT_EQ(Settle(), "Mt0;Hm1;FqElement Home    ;");
    EXPECT_EQ(model.position, 0);
    EXPECT_EQ(Send("B3FNSP;B1FNSP;B0FNSP;"), "Er002;Er002;Er002;") << "refused in HOME mode";
    EXPECT_EQ(Send("SR;"), "Pw1;Bm1;Tm3;FqElement Home    ;" + kIdentity);
    EXPECT_EQ(Send("B2BDSP;"), "Mt1;") << "a band key brings the elements out";
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.100 MHz;");

    EXPECT_EQ(Send("B1FNLP;B2FNLP;"), "Cf0;Cf1;") << "a new request replaces the waiting one";
    EXPECT_EQ(Send("B0FNSP;"), "Er005;");
    EXPECT_EQ(Send("B5FNSP;"), "Se0;Cl0;Mt1;");
    EXPECT_EQ(Send("B4FNSP;"), "Er005;") << "during calibration";
    EXPECT_EQ(Settle(), "Mt0;Cl1;Fq20m   14.100 MHz;");
    EXPECT_NEAR(model.position, TunedPosition(14100), 1e-9) << "calibration goes back out";
}

TEST_F(Model, TheRestrictedModelRefusesTheLowBands) {
    Setting("name", "KYRAL Beam 2");
    EXPECT_EQ(Send("Md;"), "MdKYRAL Beam 2    ;");
    EXPECT_EQ(Send("B0BDSP;B1BDSP;B0BDLP;B1BDLP;"), "Er001;Er001;Er001;Er001;");
    EXPECT_EQ(Send("B3FNSP;"), "Mt1;");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.150 MHz;") << "20m in 50 kHz steps";
    Send("B4FNLP;");
    Send("B3FNSP;");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.200 mhz;");
    Setting("name", "Other");
    EXPECT_EQ(Send("Md;"), "MdOther           ;");
    EXPECT_EQ(Send("B0BDSP;"), "Mt1;");
}

TEST_F(Model, BandResetQuestionTakesSetOrCancel) {
    Send("B3FNSP;");
    Settle();
    EXPECT_EQ(Send("B2BDLP;"), "") << "the controller asks on its own display";
    EXPECT_EQ(Send("B3FNSP;B1FNLP;"), "") << "the question takes only SET and CANCEL";
    EXPECT_EQ(Send("B5FNSP;"), "Se0;Mt1;");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.100 MHz;") << "back to the band's factory frequency";

    Send("B4FNLP;B3FNSP;");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.120 mhz;");
    EXPECT_EQ(Send("B2BDLP;B6FNSP;"), "Cn0;");
    EXPECT_EQ(Send("B5FNSP;"), "") << "nothing waits any more";
    // Another band's reset leaves the band in use alone.
    EXPECT_EQ(Send("B7BDLP;B5FNSP;"), "Se0;Fq20m   14.120 mhz;");
}

TEST_F(Model, TheControllersUserCanAnswerTheQuestionFirst) {
    Setting("reset-answer", "set:500");
    Send("B3FNSP;");
    Settle();
    EXPECT_EQ(Send("B2BDLP;"), "");
    EXPECT_EQ(After(milliseconds(499)), "");
    EXPECT_EQ(After(milliseconds(1)), "Se0;Mt1;");
    EXPECT_EQ(Settle(), "Mt0;Fq20m   14.100 MHz;");

    Setting("reset-answer", "cancel:200");
    EXPECT_EQ(Send("B2BDLP;"), "");
    EXPECT_EQ(Settle(), "Cn0;");
    // The program's SET comes first: no second answer.
    EXPECT_EQ(Send("B2BDLP;B5FNSP;"), "Se0;Fq20m   14.100 MHz;");
    EXPECT_EQ(Settle(), "");
    // Set while a question is open: answered that long from now.
    Setting("reset-answer", "none");
    EXPECT_EQ(Send("B2BDLP;"), "");
    EXPECT_EQ(Settle(), "");
    Setting("reset-answer", "cancel:0");
    EXPECT_EQ(After(milliseconds(0)), "Cn0;");
}

TEST_F(Model, FactoryDefaultsNeedTheLockAndComeBackWithThePowerCycle) {
    Send("B3FNSP;B0FNSP;");
    Settle();
    EXPECT_EQ(Send("AtDefault;"), "Er006;");
    EXPECT_EQ(Send("Lock;"), "");
    EXPECT_EQ(Send("B3FNSP;B0BDSP;B1FNLP;"), "Er004;Er004;Er004;") << "locked";
    EXPECT_EQ(Send("AtDefault;"), "");
    EXPECT_EQ(After(milliseconds(2999)), "");
    EXPECT_EQ(After(milliseconds(1)), "AtComplete;");
    EXPECT_EQ(Send("B7FNLP;"), "Pw0;");
    EXPECT_EQ(After(milliseconds(1000)), "");
    EXPECT_EQ(Send("B7FNLP;"), "Pw1;Bm1;Tm0;Fq20m   14.100 MHz;" + kIdentity);
    EXPECT_EQ(Send("B0FNSP;"), "Bm2;") << "the power cycle unlocked it";
}

TEST_F(Model, ElementsAreReadAdjustedAndRefusedAtTheirLimits) {
    std::string names = Send("Ea;");
    EXPECT_EQ(names, "EaEle1    Ele2    Ele3    Ele4    " + std::string(16, ' ') + ";");
    std::string lengths = Send("Cp06;");
    EXPECT_EQ(lengths, "Cp06,11.10,11.20,11.30,11.40,11.50,11.60;");
    EXPECT_EQ(lengths.substr(35, 5), "11.60") << "element 5 at characters 36-40";
    EXPECT_EQ(Send("Cp02;"), "Cp02,11.30;");

    EXPECT_EQ(Send("Ad01Short;Wr00;"), "Er006;Er006;") << "not locked";
    Send("Lock;");
    EXPECT_EQ(Send("Ad01Short;"), "Mt1;");
    EXPECT_EQ(Pending(), milliseconds(750));
    EXPECT_EQ(Send("Ad02Long ;"), "Er002;") << "the motor runs";
    EXPECT_EQ(Settle(), "Mt0;Cp01,11.15;");
    EXPECT_EQ(Send("Ad06Long ;"), "Mt1;");
    EXPECT_EQ(Settle(), "Mt0;Cp06,11.15,11.20,11.35,11.45,11.50,11.60;")
        << "all present elements; the absent ones stay";
    EXPECT_EQ(Send("Ad04Short;Ad07Short;Ad01Sideways;"), "Er001;Er001;Er001;");

    // Longer up to the maximum, then refused with the element as the last character.
    std::string last;
    for (int step = 0; step < 20 && last.rfind("Er", 0) != 0; ++step) {
        last = Send("Ad01Long ;");
        if (last == "Mt1;") {
            last = Settle();
        }
    }
    EXPECT_EQ(last, "Er0071;");
    EXPECT_EQ(Send("Cp01;"), "Cp01,12.00;");
    EXPECT_EQ(Send("Ad06Long ;"), "Er0071;") << "all at once: refused for the first at its limit";
    EXPECT_EQ(Settle(), "");

    // Shorter stops at the inner limit without running the motor.
    model.elements[0].lengthCm = kElementMinCm;
    EXPECT_EQ(Send("Ad00Short;"), "Cp00, 1.00;");
}

TEST_F(Model, WrittenLengthsOutliveThePowerCycleAndTheOthersDoNot) {
    Send("Lock;Ad00Short;");
    Settle();
    Send("Ad02Long ;");
    Settle();
    EXPECT_EQ(Send("Wr00;"), "Cp00,11.05;");
    EXPECT_EQ(Send("Wr08;"), "Er001;");
    Send("B7FNLP;B7FNLP;");
    EXPECT_EQ(Send("Cp06;"), "Cp06,11.05,11.20,11.30,11.40,11.50,11.60;");
    EXPECT_EQ(Send("Wr06;"), "Er006;") << "the power cycle unlocked it";
    Send("Lock;Ad02Long ;");
    Settle();
    EXPECT_EQ(Send("Wr06;"), "Cp06,11.05,11.20,11.35,11.40,11.50,11.60;");
}

TEST_F(Model, SettingsAreCheckedAndLeaveTheModelAloneOnError) {
    std::string error;
    for (const auto& bad :
         std::vector<std::pair<std::string, std::string>>{{"band", "21m"},
                                                          {"band", ""},
                                                          {"unit", "MHZ"},
                                                          {"mode", "home"},
                                                          {"beam", "left"},
                                                          {"power", "1"},
                                                          {"name", "A name far too long"},
                                                          {"elements", "A,B,C,D,E,F,G"},
                                                          {"elements", "Elementary"},
                                                          {"serial", "12345"},
                                                          {"reset-answer", "set:"},
                                                          {"reset-answer", "set:-5"},
                                                          {"reset-answer", "set:600001"},
                                                          {"reset-answer", "maybe"},
                                                          {"colour", "blue"}}) {
        ModelState before = model;
        EXPECT_FALSE(ApplyModelSetting(model, bad.first, bad.second, now, error))
            << bad.first << " " << bad.second;
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(Send("SR;Ea;"), [&] {
            std::swap(before, model);
            std::string expected = Send("SR;Ea;");
            std::swap(before, model);
            return expected;
        }());
    }

    Setting("band", "6m");
    Setting("unit", "mhz");
    Setting("mode", "manual");
    Setting("beam", "dipole");
    Setting("serial", "Z999");
    Setting("elements", "Drv,,Dir1");
    EXPECT_EQ(Send("SR;Ea;"),
              "Pw1;Bm4;Tm1;Fq 6m   50.150 mhz;SnZ999;VeVer 01.20;"
              "MdSim Beam 600    ;EaDrv             Dir1    " +
                  std::string(24, ' ') + ";");
    EXPECT_TRUE(ApplyModelSetting(model, "power", "off", now, error));
    EXPECT_EQ(Take(), "Pw0;") << "as the POWER key";
}

}  // namespace
}  // namespace tovaksim
