// Ids of the main window's controls, menu commands, timers and resources.
#pragma once

namespace id {

// Controls of the main window.
constexpr int kPanelPicture = 1000;
constexpr int kPowerKey = 1001;
constexpr int kAutoKey = 1002;
constexpr int kManualKey = 1003;
constexpr int kHomeKey = 1004;
constexpr int kCalibrationKey = 1005;
constexpr int kModeKey = 1006;
constexpr int kBand7Key = 1007;
constexpr int kBand10Key = 1008;
constexpr int kBand14Key = 1009;
constexpr int kBand18Key = 1010;
constexpr int kBand21Key = 1011;
constexpr int kBand24Key = 1012;
constexpr int kBand28Key = 1013;
constexpr int kBand50Key = 1014;
constexpr int kSetKey = 1015;
constexpr int kCancelKey = 1016;
constexpr int kDisplayPanel = 1017;
constexpr int kCommandField = 1018;
constexpr int kReceiveField = 1019;
constexpr int kTestKey = 1020;
constexpr int kBand7Led = 1021;  // the LED of band key k is 1021 + k
constexpr int kBand10Led = 1022;
constexpr int kBand14Led = 1023;
constexpr int kBand18Led = 1024;
constexpr int kBand21Led = 1025;
constexpr int kBand24Led = 1026;
constexpr int kBand28Led = 1027;
constexpr int kBand50Led = 1028;
constexpr int kPowerLed = 1029;
constexpr int kNormalLed = 1030;
constexpr int kReverseLed = 1031;
constexpr int kDipoleLed = 1032;
constexpr int kUpKey = 1033;
constexpr int kDownKey = 1034;
constexpr int kStepIndicator = 1035;
constexpr int kStepKey = 1036;

// Controls of the Adjust window: 1001 to 1003 and 1017 again, under that window.
constexpr int kAdjustShort = 1001;
constexpr int kAdjustLong = 1002;
constexpr int kAdjustSet = 1003;
constexpr int kAdjustLength1 = 1017;
constexpr int kAdjustClose = 1037;
constexpr int kAdjustLength2 = 1038;
constexpr int kAdjustLength3 = 1039;
constexpr int kAdjustLength4 = 1040;
constexpr int kAdjustLength5 = 1041;
constexpr int kAdjustLength6 = 1042;
constexpr int kAdjustEle1 = 1043;  // the choice of element i is 1043 + i
constexpr int kAdjustEle2 = 1044;
constexpr int kAdjustEle3 = 1045;
constexpr int kAdjustEle4 = 1046;
constexpr int kAdjustEle5 = 1047;
constexpr int kAdjustEle6 = 1048;
constexpr int kAdjustAll = 1049;

// Menu commands.
constexpr int kMenuBand7 = 1050;
constexpr int kMenuBand10 = 1051;
constexpr int kMenuBand14 = 1052;
constexpr int kMenuBand18 = 1053;
constexpr int kMenuBand21 = 1054;
constexpr int kMenuBand24 = 1055;
constexpr int kMenuBand28 = 1056;
constexpr int kMenuBand50 = 1057;
constexpr int kMenuPowerOn = 1058;
constexpr int kMenuPowerOff = 1059;
constexpr int kMenuUp = 1060;
constexpr int kMenuDown = 1061;
constexpr int kMenuMode = 1062;
constexpr int kMenuSet = 1063;
constexpr int kMenuCancel = 1064;
constexpr int kMenuAuto = 1065;
constexpr int kMenuManual = 1066;
constexpr int kMenuHome = 1067;
constexpr int kMenuCalibration = 1068;
constexpr int kMenuStep = 1069;
constexpr int kMenuResetCurrentBand = 1070;
constexpr int kMenuResetAllBands = 1071;
constexpr int kMenuAdjust = 1072;
constexpr int kMenuCom1 = 1073;
constexpr int kMenuCom2 = 1074;
constexpr int kMenuCom3 = 1075;
constexpr int kMenuCom4 = 1076;
constexpr int kMenuCom5 = 1077;
constexpr int kMenuCom6 = 1078;
constexpr int kMenuCom7 = 1079;
constexpr int kMenuCom8 = 1080;
constexpr int kMenuCom9 = 1081;
constexpr int kMenuCom10 = 1082;
constexpr int kMenuCom11 = 1083;
constexpr int kMenuCom12 = 1084;
constexpr int kMenuCom13 = 1085;
constexpr int kMenuCom14 = 1086;
constexpr int kMenuCom15 = 1087;
constexpr int kMenuCom16 = 1088;
constexpr int kMenuKeepAliveOn = 1089;
constexpr int kMenuKeepAliveOff = 1090;
constexpr int kMenuAbout = 1091;
constexpr int kMenuExit = 1092;

// Timers of the main window.
constexpr int kPollTimer = 0;
constexpr int kKeepAliveTimer = 2;

// Timers of the Adjust window.
constexpr int kAdjustPollTimer = 0;
constexpr int kAdjustLengthsTimer = 1;  // one-shot: asks for the lengths once

// Resources.
constexpr int kBitmapPanel = 101;
constexpr int kBitmapLedOff = 102;
constexpr int kBitmapLedBlue = 103;
constexpr int kBitmapLedGreen = 104;
constexpr int kBitmapLedOrange = 105;
constexpr int kBitmapStepNone = 106;
constexpr int kBitmapStep10k = 107;
constexpr int kBitmapStep20k = 108;
constexpr int kBitmapStep40k = 109;
constexpr int kBitmapStep50k = 110;
constexpr int kIconProgram = 111;

}  // namespace id
