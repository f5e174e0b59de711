// The program's own texts, each defined once.
#pragma once

#ifndef TOVAK_VERSION
#error "TOVAK_VERSION is the project's version, given by the build (CMakeLists.txt)"
#endif

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
constexpr const char* kBoxLineBreak = "\r";  // a line break inside a box's text
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

// The band reset and the factory defaults.
constexpr const char* kSetKeyPress = "B5FNSP";
constexpr const char* kCancelKeyPress = "B6FNSP";
constexpr const char* kLockCommand = "Lock";
constexpr const char* kFactoryDefaultsCommand = "AtDefault";
constexpr const char* kNoBandShown = "***";
constexpr const char* kSendingCommand = "Sending command";
constexpr const char* kSetDefaultPrompt = "Set default OK ?";
constexpr const char* kWriting = "Writing";
constexpr const char* kCanceled = "Canceled";
constexpr const char* kConfirmCaption = "Confirm";
constexpr const char* kResetBandAsk = "Reset the ";
constexpr const char* kResetBandAskEnd = " setting.";
constexpr const char* kIsItOk = "Is it OK?";
constexpr const char* kResetCaption = "RESET";
constexpr const char* kLoadDefaults = "Load ";
constexpr const char* kLoadDefaultsEnd = " factory defaults";
constexpr const char* kResetAllAsk = "Reset the all band setting.";
constexpr const char* kWouldYouCancel = "would you like to cancel?";
constexpr const char* kRestoreMode = "Restore";
constexpr const char* kFactoryDefaults = "Factory Defaults";

// STEP: the long presses of DOWN and UP, by the unit the display shows.
constexpr const char* kStepFromLarger = "B4FNLP";
constexpr const char* kStepFromSmaller = "B3FNLP";

// The About box. TOVAK_VERSION comes from the build (the project's version).
constexpr const char* kAboutTitle = "Tovak Remote Ver " TOVAK_VERSION;
constexpr const char* kAboutNotice = "Operates the antenna controller over a COM port.";
constexpr const char* kAboutCaption = "About";

// The controller's error reports; the main window and the Adjust window each
// have their own table of them.
constexpr const char* kErrorUnknownCommand = "Received an unknown command";
constexpr const char* kErrorMotorOrHome = "During motor operation or HOME mode";
constexpr const char* kErrorAdjustMode = "Can't be execute commands.\r(Controller is ADJUST mode)";
constexpr const char* kErrorMotorOrCalibration = "During motor operation or CALIBRATION mode";
constexpr const char* kErrorNotLocked = "Can't be execute commands.\r(not lock staus)";
constexpr const char* kUnknownErrorOpen = "Unknown Error (";
constexpr const char* kUnknownErrorClose = ")";

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
constexpr const char* kLockedPrefix = "Locked ";
constexpr const char* kMaxLength = "Max Length : ";
constexpr const char* kLengthFieldName = " length";  // after the element's name, for screen readers

// Commands of the Adjust window.
constexpr const char* kNamesRequest = "Ea";
constexpr const char* kLengthsRequest = "Cp06";
constexpr const char* kStepPrefix = "Ad0";
constexpr const char* kStepShort = "Short";
constexpr const char* kStepLong = "Long ";  // five characters, like "Short"
constexpr const char* kWritePrefix = "Wr0";

}  // namespace text

// Message box styles, as MessageBoxA takes them.
namespace box {
constexpr unsigned kPlain = 0;          // MB_OK
constexpr unsigned kError = 48;         // MB_OK | MB_ICONEXCLAMATION
constexpr unsigned kQuestion = 52;      // MB_YESNO | MB_ICONEXCLAMATION
constexpr unsigned kStopQuestion = 20;  // MB_YESNO | MB_ICONHAND

// Answers, as MessageBoxA returns them.
constexpr int kNoAnswer = 0;  // no box was shown
constexpr int kYes = 6;       // IDYES
constexpr int kNo = 7;        // IDNO
}  // namespace box
