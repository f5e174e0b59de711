#include "maintenance/band_reset.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"
#include "monitor/panel.h"
#include "platform/platform.h"

namespace {

// The band the display names in its first three characters, the long press of
// its band key and the name the questions give it. 80 m, 75 m and 30 m share
// the 10 MHz key; the 6 m label begins with a blank.
struct BandReset {
    const char* label;
    const char* command;
    const char* name;
};
constexpr BandReset kBandResets[] = {
    {"80m", "B1BDLP", "3.5MHz"}, {"75m", "B1BDLP", "3.8MHz"}, {"40m", "B0BDLP", "7MHz"},
    {"30m", "B1BDLP", "10MHz"},  {"20m", "B2BDLP", "14MHz"},  {"17m", "B3BDLP", "18MHz"},
    {"15m", "B4BDLP", "21MHz"},  {"12m", "B5BDLP", "24MHz"},  {"10m", "B6BDLP", "28MHz"},
    {" 6m", "B7BDLP", "50MHz"},
};

constexpr std::size_t kLabelLength = 3;

// Armed before the question; the controller's SET and CANCEL reports lower them to 0.
constexpr std::uint8_t kArmed = 2;

// Waits in ms. Each freezes the window; the controller works meanwhile.
constexpr std::uint32_t kBandKeyWait = 2000;  // the controller changes to the band
constexpr std::uint32_t kPromptWait = 1000;   // before "Set default OK ?"
constexpr std::uint32_t kKeyWait = 1000;      // the progress word stays this long before the key
constexpr std::uint32_t kLockWait = 300;      // between "Lock" and "AtDefault"
constexpr std::uint32_t kRestoreWait = 9000;  // the controller restores every band

// Once the main window has been closed under one of the procedure's boxes there
// is nothing left to wait for: the rest of it then shows and sends nothing.
void Wait(std::uint32_t ms) {
    if (!app.sessionEnded) {
        platform::SleepFor(ms);
    }
}

const BandReset* FindBand(const std::string& label) {
    for (const BandReset& band : kBandResets) {
        if (label == band.label) {
            return &band;
        }
    }
    return nullptr;
}

void ShowFrequencyText(const std::string& shown) {
    app.frequencyText = shown;
    RefreshDisplayPanel("");
}

// "Writing" or "Canceled" on the panel, then the key that answers the
// controller's own question.
void AnswerController(const char* progress, const char* key) {
    ShowFrequencyText(progress);
    Wait(kKeyWait);
    SendCommand(key);
}

std::string Question(const std::string& first, const char* second) {
    return first + text::kBoxLineBreak + second;
}

}  // namespace

void ResetCurrentBand() {
    const std::string label = app.frequencyText.substr(0, kLabelLength);
    ShowFrequencyText(text::kSendingCommand);
    if (label == text::kNoBandShown) {
        SendCommand(text::kStatusRequest);
        return;
    }
    // Nothing shown yet, the element display or a progress word: no band key
    // goes out and the label stands for the band's name.
    std::string bandName = label;
    if (const BandReset* band = FindBand(label)) {
        SendCommand(band->command);
        bandName = band->name;
    }
    Wait(kBandKeyWait);
    RefreshDisplayPanel("");
    Wait(kPromptWait);
    ShowFrequencyText(text::kSetDefaultPrompt);

    // The poll cycle runs inside the question's box: the controller's SET or
    // CANCEL, pressed on its own panel, may lower these before the user answers.
    app.setPending = kArmed;
    app.cancelPending = kArmed;
    ShowMessage(Question(text::kResetBandAsk + bandName + text::kResetBandAskEnd, text::kIsItOk),
                text::kConfirmCaption, box::kQuestion);

    const bool setReported = app.setPending == 0;
    if ((app.messageAnswer == box::kYes && app.cancelPending == kArmed) || setReported) {
        if (!setReported) {
            AnswerController(text::kWriting, text::kSetKeyPress);
        }
        ShowMessage(text::kLoadDefaults + bandName + text::kLoadDefaultsEnd, text::kResetCaption,
                    box::kPlain);
    } else if (app.cancelPending != 0) {
        AnswerController(text::kCanceled, text::kCancelKeyPress);
    }
    // Otherwise the controller reported CANCEL itself: it has left the dialogue.
}

void ResetAllBands() {
    if (app.motorStartTick != 0) {
        ShowMessage(text::kErrorMotorOrHome, text::kErrorCaption, box::kError);
        return;
    }
    ShowMessage(Question(text::kResetAllAsk, text::kIsItOk), text::kConfirmCaption, box::kQuestion);
    if (app.messageAnswer == box::kNo) {
        return;
    }
    // Asked the other way round: only No goes on.
    ShowMessage(Question(text::kResetAllAsk, text::kWouldYouCancel), text::kConfirmCaption,
                box::kStopQuestion);
    if (app.messageAnswer != box::kNo) {
        return;
    }
    SendCommand(text::kLockCommand);
    app.modeText = text::kRestoreMode;
    app.frequencyText = text::kFactoryDefaults;
    app.beamText.clear();
    RefreshDisplayPanel("");
    Wait(kLockWait);
    SendCommand(text::kFactoryDefaultsCommand);
    // The controller reports "AtComplete" when it is done; the poll cycle answers it.
    Wait(kRestoreWait);
}
