// Start-up state, session start, the settings file and shutdown.
#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "app/ids.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"

namespace {

const std::string kRoot = "C:\\Users\\op\\AppData\\Local";
const std::string kIni = kRoot + "\\VORNHALT\\tovakrem.ini";
const std::string kLog = kRoot + "\\VORNHALT\\tovakrem.log";

TEST(StartUp, StateBeginsWithNoPortEmptyTextsAndTheSerialDefaults) {
    ResetFake();
    app.modeText = "left over";
    InitialiseState();
    EXPECT_EQ(app.portHandle, platform::kInvalidPort);
    EXPECT_TRUE(app.portName.empty());
    EXPECT_TRUE(app.modeText.empty());
    EXPECT_EQ(app.debugLogging, 0);
    EXPECT_EQ(app.pollInterval, 100);
    EXPECT_EQ(app.keepAliveInterval, 120000);
    EXPECT_EQ(app.motorStartTick, 0u);
    EXPECT_EQ(app.modeState, 0);
    EXPECT_EQ(app.beamMode, 1);
    EXPECT_EQ(app.blinkPhase, 1);
    EXPECT_EQ(app.modelRestricted, 0);
    EXPECT_EQ(app.powerState, 0);
    EXPECT_EQ(app.portSettings.baudRate, 115200u);
    EXPECT_EQ(app.portSettings.flags, 0x3001u);
    EXPECT_EQ(app.portSettings.byteSize, 8);
    EXPECT_EQ(app.portTimeouts.readIntervalTimeout, 120u);
    EXPECT_EQ(app.portTimeouts.readTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(app.portTimeouts.writeTotalTimeoutConstant, 120u);
}

TEST(StartUp, FilePathsLiveInTheVornhaltFolderOfLocalAppData) {
    ResetFake();
    fake.environment["LOCALAPPDATA"] = kRoot;
    BuildFilePaths();
    EXPECT_EQ(app.settingsFilePath, kIni);
    EXPECT_EQ(app.logFilePath, kLog);
    ASSERT_EQ(fake.foldersCreated.size(), 1u);
    EXPECT_EQ(fake.foldersCreated[0], kRoot + "\\VORNHALT");
}

TEST(StartUp, UnsetLocalAppDataGivesPathsFromTheDriveRoot) {
    ResetFake();
    BuildFilePaths();
    EXPECT_EQ(app.settingsFilePath, "\\VORNHALT\\tovakrem.ini");
    EXPECT_EQ(app.logFilePath, "\\VORNHALT\\tovakrem.log");
}

TEST(StartUp, RootTooLongForThePathsUsesNoFileAtAll) {
    // "\VORNHALT\tovakrem.ini" is 22 characters: 237 + 22 = 259 still fits.
    ResetFake();
    fake.environment["LOCALAPPDATA"] = std::string(237, 'a');
    BuildFilePaths();
    EXPECT_EQ(app.settingsFilePath.size(), 259u);
    ResetFake();
    fake.environment["LOCALAPPDATA"] = std::string(238, 'a');
    BuildFilePaths();
    EXPECT_TRUE(app.settingsFilePath.empty());
    EXPECT_TRUE(app.logFilePath.empty());
    EXPECT_TRUE(fake.foldersCreated.empty());
}

TEST(Settings, NumbersAreTruncatedAndClampedToThirtyTwoBits) {
    EXPECT_EQ(SettingToInt32("120000"), 120000);
    EXPECT_EQ(SettingToInt32("-5.9"), -5);
    EXPECT_EQ(SettingToInt32("99999999999"), 2147483647);
    EXPECT_EQ(SettingToInt32("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(SettingToInt32("abc"), 0);
    EXPECT_EQ(SettingToInt32(std::string(2000, '9')), 2147483647);
    EXPECT_EQ(SettingToInt32("&HFFFFFFFFFFFFFFFFFFFF"), 2147483647);
}

TEST(Settings, KeepAliveOffAtZeroOrBelowAndAtLeastOneSecond) {
    EXPECT_EQ(KeepAliveFromSetting("0"), 0);
    EXPECT_EQ(KeepAliveFromSetting("-5"), 0);
    EXPECT_EQ(KeepAliveFromSetting("abc"), 0);
    EXPECT_EQ(KeepAliveFromSetting("1"), 1000);
    EXPECT_EQ(KeepAliveFromSetting("999.9"), 1000);
    EXPECT_EQ(KeepAliveFromSetting("120000"), 120000);
    EXPECT_EQ(KeepAliveFromSetting("99999999999"), 2147483647);
}

TEST(Settings, DebugKeepsTheLowEightBits) {
    EXPECT_EQ(DebugFromSetting("1"), 1);
    EXPECT_EQ(DebugFromSetting("2"), 2);
    EXPECT_EQ(DebugFromSetting("&H101"), 1);
    EXPECT_EQ(DebugFromSetting("257"), 1);
    EXPECT_EQ(DebugFromSetting("-255"), 1);
    EXPECT_EQ(DebugFromSetting("1.9"), 1);
    EXPECT_EQ(DebugFromSetting("abc"), 0);
}

class Session : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFake();
        fake.environment["LOCALAPPDATA"] = kRoot;
        BuildFilePaths();
    }
    std::map<std::string, std::string>& Ini() { return fake.profiles[kIni]; }
};

TEST_F(Session, FirstStartWithoutFileOrPortReportsCom1AndSavesTheDefaults) {
    StartSession();
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Can not open COM1");
    EXPECT_EQ(fake.caption, "Tovak Remote [Connection Error]");
    EXPECT_EQ(fake.displayBrushes, std::vector<std::uint32_t>{0x7F1E05});
    EXPECT_TRUE(fake.statusImagesLoaded);
    EXPECT_FALSE(fake.TimerRunning(id::kPollTimer));
    EXPECT_TRUE(fake.menuChecks[1090]);
    EXPECT_FALSE(fake.menuChecks[1089]);
    EndSession();
    EXPECT_EQ(Ini()["COMPORT"], "COM1");
    EXPECT_EQ(Ini()["KEEPALIVE"], "0");
    EXPECT_EQ(Ini().count("DEBUG"), 0u);
    EXPECT_TRUE(fake.resourcesReleased);
    EXPECT_EQ(fake.quitCode, 0);
}

TEST_F(Session, SavedPortIsOpenedAndPolledAtOnce) {
    fake.devices = {"\\\\.\\COM12"};
    Ini()["COMPORT"] = "\\\\.\\COM12";
    fake.reads.push_back("Pw1;");
    StartSession();
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(fake.caption, "Tovak Remote [COM12]");
    EXPECT_EQ(fake.Wire(), "SR;");
    EXPECT_EQ(fake.Text(id::kReceiveField), "Pw1;");
    EXPECT_TRUE(fake.TimerRunning(id::kPollTimer));
    EndSession();
    EXPECT_EQ(Ini()["COMPORT"], "\\\\.\\COM12");
    EXPECT_TRUE(fake.openPorts.empty());
    EXPECT_EQ(app.portHandle, platform::kInvalidPort);
}

TEST_F(Session, KeepAliveSettingStartsTimerTwoWithEnabledChecked) {
    fake.devices = {"COM1"};
    Ini()["KEEPALIVE"] = "120000";
    StartSession();
    EXPECT_TRUE(fake.menuChecks[1089]);
    EXPECT_FALSE(fake.menuChecks[1090]);
    EXPECT_EQ(fake.timers[id::kKeepAliveTimer], 120000u);
    EndSession();
    EXPECT_FALSE(fake.TimerRunning(id::kKeepAliveTimer));
    EXPECT_FALSE(fake.TimerRunning(id::kPollTimer));
    EXPECT_EQ(Ini()["KEEPALIVE"], "120000");
}

TEST_F(Session, FailedSwitchLeavesTheSavedPortUnchanged) {
    fake.devices = {"COM3"};
    Ini()["COMPORT"] = "COM3";
    StartSession();
    ConnectPort("COM5");
    EXPECT_EQ(fake.boxes.back().text, "Can not open COM5");
    EndSession();
    EXPECT_EQ(Ini()["COMPORT"], "COM3");
}

TEST_F(Session, DebugOneLogsCreationMessagesAndDestructionButNotTheFirstStatusRequest) {
    fake.devices = {"COM1"};
    Ini()["DEBUG"] = "1";
    fake.reads.push_back("Pw1;Bm1;");
    StartSession();
    EndSession();
    EXPECT_EQ(fake.files[kLog],
              "[2026/01/07 09:05:03][I]MainWnd Create\r\n"
              "[2026/01/07 09:05:03][R]Pw1;Bm1;\r\n"
              "[2026/01/07 09:05:03][I]MainWnd Destroy\r\n");
}

TEST_F(Session, DebugOtherThanOneWritesNothing) {
    fake.devices = {"COM1"};
    for (const char* value : {"2", "0", "abc", "&H102"}) {
        SetUp();
        fake.devices = {"COM1"};
        Ini()["DEBUG"] = value;
        StartSession();
        EndSession();
        EXPECT_EQ(fake.fileOpens, 0) << value;
    }
}

TEST_F(Session, SecondInstanceEndsBeforeAnythingElseHappens) {
    fake.mutexHeld = true;
    fake.devices = {"COM1"};
    StartSession();
    EXPECT_EQ(fake.exitCode, 1);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_TRUE(fake.portLog.empty());
    EXPECT_TRUE(fake.caption.empty());
    EXPECT_TRUE(fake.displayBrushes.empty());
}

TEST_F(Session, HostileSettingsGetSafeValuesAndAreNotRewrittenCut) {
    const std::string longName(2000, 'C');
    Ini()["COMPORT"] = longName;
    Ini()["KEEPALIVE"] = "-5";
    Ini()["DEBUG"] = "&H101";
    StartSession();
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "Can not open " + std::string(1023, 'C'));
    EXPECT_TRUE(fake.portLog.empty());
    EXPECT_EQ(app.keepAliveInterval, 0);
    EXPECT_EQ(app.debugLogging, 1);
    EndSession();
    EXPECT_EQ(Ini()["COMPORT"], longName);
    EXPECT_EQ(Ini()["KEEPALIVE"], "0");
}

TEST_F(Session, SettingsAreWrittenOnlyWhereTheDiskHasRoomToRewriteTheWholeFile) {
    // The old file, and twice the new lines' characters beside it (a Unicode file).
    const std::uint64_t size = 4096;
    const std::uint64_t needed = size + 2 * (8 + 7 + 4 + 7);  // section, key, "COM1", marks
    const std::vector<std::string> both = {"COMPORT=COM1", "KEEPALIVE=0"};
    const std::tuple<std::optional<std::uint64_t>, std::vector<std::string>> cases[] = {
        {needed, both},       {needed - 1, {"KEEPALIVE=0"}},  // the shorter value still fits
        {size + 10, {}},      {0, {}},
        {std::nullopt, both},  // the room cannot be told: written as always
    };
    for (const auto& [room, written] : cases) {
        SetUp();
        fake.devices = {"COM1"};
        fake.fileSizes[kIni] = size;
        fake.diskFree = room;
        StartSession();
        EndSession();
        EXPECT_EQ(fake.profileWrites, written) << room.value_or(0);
    }
}

TEST_F(Session, WithoutUsableFilesDefaultsApplyAndNothingIsWritten) {
    ResetFake();
    fake.environment["LOCALAPPDATA"] = std::string(300, 'x');
    BuildFilePaths();
    fake.devices = {"COM1"};
    StartSession();
    EXPECT_EQ(app.portName, "COM1");
    EndSession();
    EXPECT_TRUE(fake.profileWrites.empty());
    EXPECT_EQ(fake.fileOpens, 0);
}

}  // namespace
