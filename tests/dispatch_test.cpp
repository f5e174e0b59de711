// Every key and menu item, its guard, and what it puts on the wire.
#include <gtest/gtest.h>

#include <initializer_list>

#include "app/dispatch.h"
#include "app/ids.h"
#include "app/menu_tree.h"
#include "app/state.h"
#include "fake_platform.h"
#include "link/port.h"

namespace {

std::uint32_t Command(int id, int notification = 0) {
    return static_cast<std::uint32_t>(id) | (static_cast<std::uint32_t>(notification) << 16);
}

class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override { ResetConnected({"COM1", "COM9", "\\\\.\\COM12"}); }
    std::string Press(int id, int notification = 0) {
        fake.writes.clear();
        DispatchCommand(Command(id, notification));
        return fake.Wire();
    }
};

struct Row {
    int id;
    const char* wire;
};

// Keys and menu items that send one fixed code, with every guard open.
const Row kSendRows[] = {
    {1001, "B7FNLP;"}, {1002, "B1FNSP;"}, {1003, "B2FNSP;"}, {1004, "B1FNLP;"}, {1005, "B2FNLP;"},
    {1006, "B0FNSP;"}, {1007, "B0BDSP;"}, {1008, "B1BDSP;"}, {1009, "B2BDSP;"}, {1010, "B3BDSP;"},
    {1011, "B4BDSP;"}, {1012, "B5BDSP;"}, {1013, "B6BDSP;"}, {1014, "B7BDSP;"}, {1015, "B5FNSP;"},
    {1016, "B6FNSP;"}, {1033, "B3FNSP;"}, {1034, "B4FNSP;"}, {1050, "B0BDSP;"}, {1051, "B1BDSP;"},
    {1052, "B2BDSP;"}, {1053, "B3BDSP;"}, {1054, "B4BDSP;"}, {1055, "B5BDSP;"}, {1056, "B6BDSP;"},
    {1057, "B7BDSP;"}, {1058, "B7FNSP;"}, {1059, "B7FNLP;"}, {1060, "B3FNSP;"}, {1061, "B4FNSP;"},
    {1062, "B0FNSP;"}, {1063, "B5FNSP;"}, {1064, "B6FNSP;"}, {1065, "B1FNSP;"}, {1066, "B2FNSP;"},
    {1067, "B1FNLP;"}, {1068, "B2FNLP;"},
};

TEST_F(Dispatch, EveryKeyAndMenuItemSendsItsCode) {
    app.powerState = 1;
    for (const Row& row : kSendRows) {
        EXPECT_EQ(Press(row.id), row.wire) << "id " << row.id;
    }
}

TEST_F(Dispatch, KeysActOnClicksOnlyAndMenuItemsOnAnyCode) {
    for (int key : {1001, 1002, 1007, 1015, 1033, 1034}) {
        EXPECT_EQ(Press(key, 1), "") << "key " << key;
        EXPECT_EQ(Press(key, 5), "") << "key " << key;
    }
    EXPECT_EQ(Press(1063, 1), "B5FNSP;");
    EXPECT_EQ(Press(1050, 0x1234), "B0BDSP;");
}

TEST_F(Dispatch, IdsWithoutAnActionDoNothing) {
    for (int id : {0, 999, 1000, 1017, 1018, 1019, 1020, 1021, 1032, 1035, 1093, 0xFFFF}) {
        EXPECT_EQ(Press(id), "") << "id " << id;
    }
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(fake.closeRequests, 0);
}

TEST_F(Dispatch, AutoAndManualWaitWhileARequestOrHomingIsUnderWay) {
    for (std::uint8_t state : std::initializer_list<std::uint8_t>{1, 2}) {
        app.modeState = state;
        for (int id : {1002, 1003, 1065, 1066}) {
            EXPECT_EQ(Press(id), "") << "id " << id << " modeState " << int(state);
        }
        EXPECT_EQ(Press(1063), "B5FNSP;");  // SET is always sent
        EXPECT_EQ(Press(1004), "B1FNLP;");
    }
    EXPECT_TRUE(fake.boxes.empty());
}

TEST_F(Dispatch, PowerOffFromTheMenuNeedsAReportedPowerOnButTheKeyAlwaysSends) {
    EXPECT_EQ(Press(1059), "");
    EXPECT_EQ(Press(1001), "B7FNLP;");
    app.powerState = 1;
    EXPECT_EQ(Press(1059), "B7FNLP;");
}

TEST_F(Dispatch, RestrictedModelRefusesThe7And10MegahertzKeys) {
    app.modelRestricted = 1;
    EXPECT_EQ(Press(1007), "");
    EXPECT_EQ(Press(1008), "");
    EXPECT_EQ(Press(1009), "B2BDSP;");
}

TEST_F(Dispatch, BlockedPressesShowAndLogNothingEvenWithoutAPort) {
    app.portHandle = platform::kInvalidPort;
    app.debugLogging = 1;
    app.logFilePath = "x.log";
    app.modeState = 1;
    Press(1002);
    Press(1059);
    EXPECT_TRUE(fake.boxes.empty());
    EXPECT_EQ(fake.fileOpens, 0);
    Press(1006);
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "COM port is unavailable");
}

TEST_F(Dispatch, PortItemsPassDeviceNamesWithThePrefixFromCom10On) {
    Press(1081);  // COM9
    EXPECT_EQ(app.portName, "COM9");
    Press(1084);  // COM12
    EXPECT_EQ(app.portName, "\\\\.\\COM12");
    EXPECT_EQ(fake.caption, "Tovak Remote [COM12]");
    Press(1088);  // COM16 is missing
    EXPECT_EQ(fake.boxes.back().text, "Can not open COM16");
    EXPECT_EQ(fake.portLog.back(), "open \\\\.\\COM16");
    Press(1073);
    EXPECT_EQ(app.portName, "COM1");
}

TEST_F(Dispatch, KeepAliveItemsMoveTheCheckMarkAndRunOneTimer) {
    Press(1089);
    Press(1089);
    EXPECT_TRUE(fake.menuChecks[1089]);
    EXPECT_FALSE(fake.menuChecks[1090]);
    ASSERT_TRUE(fake.TimerRunning(id::kKeepAliveTimer));
    EXPECT_EQ(fake.timers[id::kKeepAliveTimer], 120000u);
    EXPECT_EQ(app.keepAliveInterval, 120000);
    Press(1090);
    EXPECT_FALSE(fake.menuChecks[1089]);
    EXPECT_TRUE(fake.menuChecks[1090]);
    EXPECT_FALSE(fake.TimerRunning(id::kKeepAliveTimer));
    EXPECT_EQ(app.keepAliveInterval, 0);
}

TEST_F(Dispatch, ResetItemsRunTheirProcedures) {
    app.frequencyText = "***";
    EXPECT_EQ(Press(1070, 1), "SR;");
    app.motorStartTick = 1;
    EXPECT_EQ(Press(1071), "");
    ASSERT_EQ(fake.boxes.size(), 1u);
    EXPECT_EQ(fake.boxes[0].text, "During motor operation or HOME mode");
}

TEST_F(Dispatch, ExitClosesTheWindowAsTheCloseBoxDoes) {
    Press(1092, 1);
    EXPECT_EQ(fake.closeRequests, 1);
}

TEST(MenuTree, PortPopUpRunsCom1ToCom16WithAccessKeys1To9AndAToG) {
    std::vector<const MenuEntry*> ports;
    for (std::size_t i = 0; i < kMenuTreeSize; ++i) {
        if (kMenuTree[i].parent == MenuSlot::kPort) {
            ports.push_back(&kMenuTree[i]);
        }
    }
    ASSERT_EQ(ports.size(), 16u);
    const char* keys = "123456789ABCDEFG";
    for (int n = 0; n < 16; ++n) {
        const std::string expected = "COM" + std::to_string(n + 1) + "(&" + keys[n] + ")";
        EXPECT_EQ(ports[n]->text, expected);
        EXPECT_EQ(ports[n]->id, 1073 + n);
    }
}

TEST(MenuTree, BarReadsLeftToRightWithAdjustGrayed) {
    std::vector<std::string> bar;
    for (std::size_t i = 0; i < kMenuTreeSize; ++i) {
        if (kMenuTree[i].parent == MenuSlot::kBar) {
            bar.push_back(kMenuTree[i].text);
            EXPECT_EQ(kMenuTree[i].grayed, kMenuTree[i].id == id::kMenuAdjust);
        }
    }
    const std::vector<std::string> expected = {"Band(&B)", "Command(&C)", "Adjust(&J)",
                                               "Options(&O)", "Exit(&X)"};
    EXPECT_EQ(bar, expected);
}

}  // namespace
