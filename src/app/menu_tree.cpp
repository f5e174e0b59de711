#include "app/menu_tree.h"

#include "app/ids.h"

namespace {
using S = MenuSlot;
}  // namespace

const MenuEntry kMenuTree[] = {
    {S::kBar, "Band(&B)", 0, S::kBand, false},
    {S::kBand, " 7 MHz(&1)", 1050, S::kNone, false},
    {S::kBand, "10 MHz(&2)", 1051, S::kNone, false},
    {S::kBand, "14 MHz(&3)", 1052, S::kNone, false},
    {S::kBand, "18 MHz(&4)", 1053, S::kNone, false},
    {S::kBand, "21 MHz(&5)", 1054, S::kNone, false},
    {S::kBand, "24 MHz(&6)", 1055, S::kNone, false},
    {S::kBand, "28 MHz(&7)", 1056, S::kNone, false},
    {S::kBand, "50 MHz(&8)", 1057, S::kNone, false},
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
    {S::kPort, "COM1(&1)", 1073, S::kNone, false},
    {S::kPort, "COM2(&2)", 1074, S::kNone, false},
    {S::kPort, "COM3(&3)", 1075, S::kNone, false},
    {S::kPort, "COM4(&4)", 1076, S::kNone, false},
    {S::kPort, "COM5(&5)", 1077, S::kNone, false},
    {S::kPort, "COM6(&6)", 1078, S::kNone, false},
    {S::kPort, "COM7(&7)", 1079, S::kNone, false},
    {S::kPort, "COM8(&8)", 1080, S::kNone, false},
    {S::kPort, "COM9(&9)", 1081, S::kNone, false},
    {S::kPort, "COM10(&A)", 1082, S::kNone, false},
    {S::kPort, "COM11(&B)", 1083, S::kNone, false},
    {S::kPort, "COM12(&C)", 1084, S::kNone, false},
    {S::kPort, "COM13(&D)", 1085, S::kNone, false},
    {S::kPort, "COM14(&E)", 1086, S::kNone, false},
    {S::kPort, "COM15(&F)", 1087, S::kNone, false},
    {S::kPort, "COM16(&G)", 1088, S::kNone, false},
    {S::kOptions, "KeepAlive(&K)", 0, S::kKeepAlive, false},
    {S::kKeepAlive, "Enabled(&E)", id::kMenuKeepAliveOn, S::kNone, false},
    {S::kKeepAlive, "Disabled(&D)", id::kMenuKeepAliveOff, S::kNone, false},
    {S::kOptions, "About(&A)", id::kMenuAbout, S::kNone, false},
    {S::kBar, "Exit(&X)", id::kMenuExit, S::kNone, false},
};

const std::size_t kMenuTreeSize = sizeof kMenuTree / sizeof kMenuTree[0];
