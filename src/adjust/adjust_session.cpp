#include "adjust/adjust_session.h"

#include "adjust/adjust_controls.h"
#include "adjust/adjust_messages.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"
#include "monitor/panel.h"
#include "text/fields.h"
#include "text/number.h"

namespace {

constexpr std::size_t kKeptFrequencyChars = 9;
constexpr std::uint32_t kLengthsDelayMs = 1500;
constexpr std::uint32_t kClosingPauseMs = 1000;

}  // namespace

void OpenAdjustSession() {
    SendCommand(text::kLockCommand);
    app.modeText = text::kModeManual;
    app.frequencyText = text::kLockedPrefix + LastChars(app.frequencyText, kKeptFrequencyChars);
    RefreshDisplayPanel("");
    if (app.elementNames[0].empty()) {
        SendCommand(text::kNamesRequest);
    }
    for (std::size_t i = 0; i < kElementCount; ++i) {
        ShowElementName(i, app.elementNames[i]);
    }
    ShowElementLengths();
    platform::StartAdjustTimer(id::kAdjustLengthsTimer, kLengthsDelayMs);
    platform::StartAdjustTimer(id::kAdjustPollTimer, static_cast<std::uint32_t>(app.pollInterval));
    platform::CheckAdjustChoice(id::kAdjustEle1);
}

void AdjustStep(AdjustDirection direction) {
    const char* way = direction == AdjustDirection::kShort ? text::kStepShort : text::kStepLong;
    SendCommand(text::kStepPrefix + FormatNumber(SelectedElement()) + way);
}

void AdjustWrite() {
    SendCommand(text::kWritePrefix + FormatNumber(SelectedElement()));
}

void EndAdjustSession() {
    SendCommand(text::kPowerKeyLongPress);
    platform::SleepFor(kClosingPauseMs);
    SendCommand(text::kPowerKeyLongPress);
    platform::SleepFor(kClosingPauseMs);
    platform::StopAdjustTimer(id::kAdjustPollTimer);
}

int SelectedElement() {
    // "ALL" is not asked: no element checked means all of them.
    for (std::size_t i = 0; i < kElementCount; ++i) {
        if (platform::IsAdjustChecked(kElementChoices[i])) {
            return static_cast<int>(i);
        }
    }
    return kElementCount;
}
