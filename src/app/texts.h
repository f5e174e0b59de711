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

// The Adjust window.
constexpr const char* kAdjustDialog = "AdjustDlg";
constexpr const char* kAdjustCaption = "Adjust";
constexpr const char* kAdjustClose = "Close";
constexpr const char* kAdjustNoLength = " ";
constexpr const char* kAdjustEle1 = "Ele1";
constexpr const char* kAdjustEle2 = "Ele2";
constexpr const char* kAdjustEle3 = "Ele3";
constexpr const char* kAdjustEle4 = "Ele4";
constexpr const char* kAdjustEle5 = "Ele5";
constexpr const char* kAdjustEle6 = "Ele6";
constexpr const char* kAdjustAll = "ALL";
constexpr const char* kAdjustLong = "Long";
constexpr const char* kAdjustSet = "Set";
constexpr const char* kAdjustShort = "Short";
constexpr const char* kDuringMotorOperation = "During motor operation";
constexpr const char* kModeManual = "MANUAL   ";
constexpr const char* kLockedPrefix = "Locked ";
constexpr const char* kLengthUnit = "m";
constexpr const char* kMaxLength = "Max Length : ";
constexpr const char* kUnknownErrorOpen = "Unknown Error (";
constexpr const char* kUnknownErrorClose = ")";
constexpr const char* kErrorUnknownCommand = "Received an unknown command";
constexpr const char* kErrorAdjustMode = "Can't be execute commands.\r(Controller is ADJUST mode)";
constexpr const char* kErrorMotorOrCalibration = "During motor operation or CALIBRATION mode";
constexpr const char* kErrorNotLocked = "Can't be execute commands.\r(not lock staus)";

// Commands of the Adjust window.
constexpr const char* kLockRequest = "Lock";
constexpr const char* kNamesRequest = "Ea";
constexpr const char* kLengthsRequest = "Cp06";
constexpr const char* kStepPrefix = "Ad0";
constexpr const char* kStepShort = "Short";
constexpr const char* kStepLong = "Long ";  // five characters, like "Short"
constexpr const char* kWritePrefix = "Wr0";
constexpr const char* kPowerLongPress = "B7FNLP";

}  // namespace text

// Message box styles, as MessageBoxA takes them.
namespace box {
constexpr unsigned kError = 48;  // MB_OK | MB_ICONEXCLAMATION
}  // namespace box
