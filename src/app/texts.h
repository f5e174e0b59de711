// The program's own texts, each defined once.
#pragma once

namespace text {

constexpr const char* kProgramTitle = "Tovak Remote";
constexpr const char* kMainClass = "NORMAL0";
constexpr const char* kDialogClass = "NORMALDLG";
constexpr const char* kConnectionError = "Connection Error";
constexpr const char* kConnecting = "Connecting...";
constexpr const char* kTestKey = "Test";
constexpr const char* kConnectingMode = "Connecting...  ";
constexpr const char* kCannotOpen = "Can not open ";
constexpr const char* kPortUnavailable = "COM port is unavailable";
constexpr const char* kErrorCaption = "ERROR";
constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kMutexName = "tovak-rem";
constexpr const char* kLogCreate = "MainWnd Create";
constexpr const char* kLogDestroy = "MainWnd Destroy";

// Settings file and log, under %LOCALAPPDATA%.
constexpr const char* kAppDataVariable = "LOCALAPPDATA";
constexpr const char* kSettingsFolder = "\\VORNHALT";
constexpr const char* kSettingsFile = "\\tovakrem.ini";
constexpr const char* kLogFile = "\\tovakrem.log";
constexpr const char* kSettingsSection = "tovakrem";
constexpr const char* kKeyComPort = "COMPORT";
constexpr const char* kKeyKeepAlive = "KEEPALIVE";
constexpr const char* kKeyDebug = "DEBUG";
constexpr const char* kDefaultComPort = "COM1";
constexpr const char* kDefaultNumber = "0";

// Controller commands sent by more than one place.
constexpr const char* kStatusRequest = "SR";
constexpr const char* kKeepAliveRequest = "Md";
constexpr const char* kPowerKeyLongPress = "B7FNLP";

// The controller's state as the display panel words it.
constexpr const char* kModePowerOff = "POWER OFF    ";
constexpr const char* kModePowerOn = "POWER ON     ";
constexpr const char* kModeAuto = "AUTO     ";
constexpr const char* kModeManual = "MANUAL   ";
constexpr const char* kModeHome = "HOME     ";
constexpr const char* kModeCalib = "CALIB    ";
constexpr const char* kModeAdjust = "ADJUST   ";
constexpr const char* kModeAfterElements = "MANUAL    ";
constexpr const char* kBeamNormal = " NORMAL";
constexpr const char* kBeamReverse = "REVERSE";
constexpr const char* kBeamDipole = " DIPOLE";
constexpr const char* kPushSet = "Push SET";
constexpr const char* kElementHome = "Element Home";
constexpr const char* kUnitLargeStep = "MHz";
constexpr const char* kUnitSmallStep = "mhz";
constexpr const char* kLengthUnit = "m";

// The About box's lines about the controller, and the values that mean "none".
constexpr const char* kSerialLine = "Serial : ";
constexpr const char* kProgramLine = "Program : ";
constexpr const char* kModelLine = "Model : ";
constexpr const char* kNoSerialNumber = "Z999";
constexpr const char* kRestrictedModel = "KYRAL Beam 2";

}  // namespace text

// Message box styles, as MessageBoxA takes them.
namespace box {
constexpr unsigned kError = 48;  // MB_OK | MB_ICONEXCLAMATION
}  // namespace box
