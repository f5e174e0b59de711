#include "app/menu_tree.h"

#include "app/ids.h"

namespace {
using S = MenuSlot;
}  // namespace

const MenuEntry kMenuTree[] = {
    {S::kBar, "Band(&B)", 0, S::kBand, false},
    {S::kBand, " 7 MHz(&1)", id::kMenuBand7, S::kNone, false},
    {S::kBand, "10 MHz(&2)", id::kMenuBand10, S::kNone, false},
    {S::kBand, "14 MHz(&3)", id::kMenuBand14, S::kNone, false},
    {S::kBand, "18 MHz(&4)", id::kMenuBand18, S::kNone, false},
    {S::kBand, "21 MHz(&5)", id::kMenuBand21, S::kNone, false},
    {S::kBand, "24 MHz(&6)", id::kMenuBand24, S::kNone, false},
    {S::kBand, "28 MHz(&7)", id::kMenuBand28, S::kNone, false},
    {S::kBand, "50 MHz(&8)", id::kMenuBand50, S::kNone, false},
    {S::kBar, "Command(&C)", 0, S::kCommand, false},
    {S::kCommand, "POWER(&P)", 0, S::kPower, false},
    {S::kPower, "ON(&O)", id::kMenuPowerOn, S::kNone, false},
    {S::kPower, "OFF(&F)", id::kMenuPowerOff, S::kNone, false},
    {S::kCommand, "UP(&U)", id::kMenuUp, S::kNone, false},
    {S::kCommand, "DOWN(&D)", id::kMenuDown, S::kNone, false},
    {S::kCommand, "MODE(&M)", id::kMenuMode, S::kNone, false},
    {S::kCommand, "SET(&S)", id::kMenuSet, S::kNone, false},
    {S::kCommand, "CANCEL(&C)", id::kMenuCancel, S::kNone, false},
    {S::kCommand, "AUTO(&A)", id::kMenuAuto, S::kNone, false},
    {S::kCommand, "MANUAL(&N)", id::kMenuManual, S::kNone, false},
    {S::kCommand, "HOME(&H)", id::kMenuHome, S::kNone, false},
    {S::kCommand, "CALIBRATION(&L)", id::kMenuCalibration, S::kNone, false},
    {S::kCommand, "STEP(&T)", id::kMenuStep, S::kNone, false},
    {S::kCommand, "RESET(&R)", 0, S::kReset, false},
    {S::kReset, "Current Band(&C)", id::kMenuResetCurrentBand, S::kNone, false},
    {S::kReset, "All Band(&A)", id::kMenuResetAllBands, S::kNone, false},
    {S::kBar, "Adjust(&J)", id::kMenuAdjust, S::kNone, true},
    {S::kBar, "Options(&O)", 0, S::kOptions, false},
    {S::kOptions, "Port(&P)", 0, S::kPort, false},
    {S::kPort, "COM1(&1)", id::kMenuCom1, S::kNone, false},
    {S::kPort, "COM2(&2)", id::kMenuCom2, S::kNone, false},
    {S::kPort, "COM3(&3)", id::kMenuCom3, S::kNone, false},
    {S::kPort, "COM4(&4)", id::kMenuCom4, S::kNone, false},
    {S::kPort, "COM5(&5)", id::kMenuCom5, S::kNone, false},
    {S::kPort, "COM6(&6)", id::kMenuCom6, S::kNone, false},
    {S::kPort, "COM7(&7)", id::kMenuCom7, S::kNone, false},
    {S::kPort, "COM8(&8)", id::kMenuCom8, S::kNone, false},
    {S::kPort, "COM9(&9)", id::kMenuCom9, S::kNone, false},
    {S::kPort, "COM10(&A)", id::kMenuCom10, S::kNone, false},
    {S::kPort, "COM11(&B)", id::kMenuCom11, S::kNone, false},
    {S::kPort, "COM12(&C)", id::kMenuCom12, S::kNone, false},
    {S::kPort, "COM13(&D)", id::kMenuCom13, S::kNone, false},
    {S::kPort, "COM14(&E)", id::kMenuCom14, S::kNone, false},
    {S::kPort, "COM15(&F)", id::kMenuCom15, S::kNone, false},
    {S::kPort, "COM16(&G)", id::kMenuCom16, S::kNone, false},
    {S::kOptions, "KeepAlive(&K)", 0, S::kKeepAlive, false},
    {S::kKeepAlive, "Enabled(&E)", id::kMenuKeepAliveOn, S::kNone, false},
    {S::kKeepAlive, "Disabled(&D)", id::kMenuKeepAliveOff, S::kNone, false},
    {S::kOptions, "About(&A)", id::kMenuAbout, S::kNone, false},
    {S::kBar, "Exit(&X)", id::kMenuExit, S::kNone, false},
};

const std::size_t kMenuTreeSize = sizeof kMenuTree / sizeof kMenuTree[0];
