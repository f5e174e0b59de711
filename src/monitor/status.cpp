#include "monitor/status.h"

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "monitor/bands.h"
#include "monitor/panel.h"
#include "monitor/poll.h"
#include "text/fields.h"

namespace {

// Field positions and widths in the controller's messages.
constexpr std::size_t kFrequencyWidth = 16;
constexpr std::size_t kBandCodePosition = 3;
constexpr std::size_t kBandCodeWidth = 3;
constexpr std::size_t kUnitWidth = 3;
constexpr std::size_t kSerialWidth = 4;
constexpr std::size_t kVersionWidth = 9;
constexpr std::size_t kModelFieldWidth = 16;
constexpr std::size_t kModelNameWidth = 12;
constexpr std::size_t kNamePosition = 3;
constexpr std::size_t kNameWidth = 8;
constexpr std::size_t kLengthIndexPosition = 3;
constexpr std::size_t kLengthIndexWidth = 2;
constexpr std::size_t kLengthPosition = 6;
constexpr std::size_t kLengthWidth = 5;
constexpr std::size_t kLengthStride = 6;  // a separator between the values
constexpr const char* kAllLengths = "06";
constexpr char kLineEnd = '\r';

// The motor runs while motorStartTick is not 0; it is set 100 ms back so the
// counter reads "001" at once.
constexpr std::uint32_t kMotorStartLead = 100;

void ShowStepImage(int bitmap) {
    ShowImage(id::kStepIndicator, bitmap);
}

void PauseKeepAlive() {
    platform::StopTimer(id::kKeepAliveTimer);
}

}  // namespace

void OnFrequency(const std::string& message) {
    if (!app.savedModeText.empty()) {
        app.modeText = app.savedModeText;
        app.savedModeText.clear();
    }
    app.frequencyText = LastChars(message, kFrequencyWidth);
    const Band* band = FindBand(CharsAt(message, kBandCodePosition, kBandCodeWidth));
    if (band != nullptr) {
        RefreshBandLeds(band->key);
        // Any unit other than "MHz" counts as the smaller step.
        ShowStepImage(StepImage(*band, LastChars(message, kUnitWidth) == text::kUnitLargeStep));
        if (band->key == kNoBandKey) {
            // After the element display the controller is in manual mode.
            app.savedModeText = text::kModeAfterElements;
        }
    }
    app.modeState = 0;
}

void OnSerialNumber(const std::string& message) {
    const std::string serial = LastChars(message, kSerialWidth);
    app.serialText = serial == text::kNoSerialNumber ? "" : text::kSerialLine + serial + kLineEnd;
}

void OnProgramVersion(const std::string& message) {
    app.programText = text::kProgramLine + LastChars(message, kVersionWidth) + kLineEnd;
}

void OnModel(const std::string& message) {
    const std::string model = LastChars(message, kModelFieldWidth);
    app.modelText = text::kModelLine + model + kLineEnd;
    // This model has no 7 MHz and 10 MHz bands.
    const bool restricted = FirstChars(model, kModelNameWidth) == text::kRestrictedModel;
    app.modelRestricted = restricted ? 1 : 0;
    platform::EnableMenuItem(id::kMenuBand7, !restricted);
    platform::EnableMenuItem(id::kMenuBand10, !restricted);
}

void OnElementNames(const std::string& message) {
    platform::EnableMenuItem(id::kMenuAdjust, true);
    StoreElementNames(message);
}

void StoreElementNames(const std::string& message) {
    for (std::size_t i = 0; i < app.elementNames.size(); ++i) {
        app.elementNames[i] = CharsAt(message, kNamePosition + i * kNameWidth, kNameWidth);
    }
}

void StoreElementLengths(const std::string& message) {
    const std::string index = CharsAt(message, kLengthIndexPosition, kLengthIndexWidth);
    if (index == kAllLengths) {
        for (std::size_t i = 0; i < app.elementLengths.size(); ++i) {
            const std::size_t position = kLengthPosition + i * kLengthStride;
            app.elementLengths[i] = CharsAt(message, position, kLengthWidth) + text::kLengthUnit;
        }
        return;
    }
    // One element's answer carries its value where the all-elements answer
    // carries element 0's.
    if (index.size() == kLengthIndexWidth && index[0] == '0' && index[1] >= '0' &&
        index[1] < '0' + static_cast<int>(app.elementLengths.size())) {
        app.elementLengths[static_cast<std::size_t>(index[1] - '0')] =
            CharsAt(message, kLengthPosition, kLengthWidth) + text::kLengthUnit;
    }
}

void OnPowerOff(const char*, std::uint8_t) {
    platform::EnableMenuItem(id::kMenuAdjust, false);
    app.modeText = text::kModePowerOff;
    app.frequencyText.clear();
    app.beamText.clear();
    ReplaceDisplayBrush(kDisplayColourOff);
    app.beamMode = 0;
    ShowImage(id::kPowerLed, id::kBitmapLedOff);
    RefreshBeamLeds();
    app.motorStartTick = 0;
    app.powerState = 0;
    app.modeState = 0;
    ShowStepImage(id::kBitmapStepNone);
}

void OnPowerOn(const char*, std::uint8_t) {
    platform::EnableMenuItem(id::kMenuAdjust, true);
    app.modeText = text::kModePowerOn;
    app.frequencyText.clear();
    app.beamText.clear();
    ReplaceDisplayBrush(kDisplayColourOn);
    ShowImage(id::kPowerLed, id::kBitmapLedOrange);
    app.powerState = 1;
    app.modeState = 0;
}

void OnBeamMode(const char* word, std::uint8_t mode) {
    app.beamText = word;
    app.blinkPhase = 0;
    app.beamMode = mode;
    RefreshBeamLeds();
}

void OnOperatingMode(const char* word, std::uint8_t) {
    // While a request waits or homing runs, the requested mode stays shown.
    if (app.modeState != 0) {
        return;
    }
    app.savedModeText.clear();
    app.modeText = word;
}

void OnMotorStopped(const char*, std::uint8_t) {
    app.motorStartTick = 0;
    app.blinkPhase = 0;
    RefreshBeamLeds();
}

void OnMotorStarted(const char*, std::uint8_t) {
    const std::uint32_t start = platform::TickCount() - kMotorStartLead;
    // 0 would read as "stopped": one millisecond earlier instead.
    app.motorStartTick = start != 0 ? start : start - 1;
}

void OnRequestWaiting(const char* word, std::uint8_t) {
    PauseKeepAlive();
    // Only the mode from before the first of several requests comes back.
    if (app.modeState == 0) {
        app.savedModeText = app.modeText;
    }
    app.modeText = word;
    app.frequencyText = text::kPushSet;
    ShowStepImage(id::kBitmapStepNone);
    app.modeState = 1;
}

void OnCalibrating(const char*, std::uint8_t) {
    PauseKeepAlive();
    app.modeText = text::kModeCalib;
    app.frequencyText.clear();
    app.modeState = 2;
}

void OnHoming(const char*, std::uint8_t) {
    PauseKeepAlive();
    app.modeText = text::kModeHome;
    app.frequencyText.clear();
    RefreshBandLeds(kNoBandKey);
    app.modeState = 2;
}

void OnRoutineDone(const char*, std::uint8_t) {
    ApplyKeepAlive();
}

void OnCancelReported(const char*, std::uint8_t) {
    app.cancelPending = 0;
    app.modeState = 0;
    ApplyKeepAlive();
}

void OnSetReported(const char*, std::uint8_t) {
    app.setPending = 0;
    app.modeState = 0;
    ApplyKeepAlive();
}

void OnStepUnit(const char* unit, std::uint8_t largeStep) {
    const char* replaced = largeStep != 0 ? text::kUnitSmallStep : text::kUnitLargeStep;
    std::string& shown = app.frequencyText;
    if (LastChars(shown, kUnitWidth) != replaced) {
        return;
    }
    shown.replace(shown.size() - kUnitWidth, kUnitWidth, unit);
    const Band* band = FindBand(FirstChars(shown, kBandCodeWidth));
    if (band != nullptr && band->unitSelectsStep) {
        ShowStepImage(StepImage(*band, largeStep != 0));
    }
}
