#include "adjust/adjust_messages.h"

#include "adjust/adjust_controls.h"
#include "app/state.h"
#include "monitor/status.h"

namespace {

constexpr std::size_t kNameWidth = 8;

// The same rule as the main window's: a single element's answer carries its
// value where the all-elements answer carries element 0's.
void TakeLengths(const std::string& message, AdjustScan&) {
    StoreElementLengths(message);
    ShowElementLengths();
}

// Kept, so a later "Max Length : " names its element and the next opening
// does not ask again.
void TakeNames(const std::string& message, AdjustScan&) {
    StoreElementNames(message);
    for (std::size_t i = 0; i < kElementCount; ++i) {
        ShowElementName(i, app.elementNames[i]);
    }
}

// Only the counter stops here; the beam LEDs blink in the main poll alone.
void MotorStopped() {
    app.motorStartTick = 0;
}

void MotorStarted() {
    OnMotorStarted(nullptr, 0);
}

// Data messages by their first two characters.
struct DataMessage {
    const char* code;
    void (*take)(const std::string& message, AdjustScan& scan);
};
constexpr DataMessage kDataMessages[] = {
    {"Cp", TakeLengths},
    {"Ea", TakeNames},
    {"Er", ReportAdjustError},
};

// Events by their first three characters, whatever the data code did.
struct EventMessage {
    const char* code;
    void (*apply)();
};
constexpr EventMessage kEventMessages[] = {
    {"Mt0", MotorStopped},
    {"Mt1", MotorStarted},
};

}  // namespace

void InterpretAdjustMessage(const std::string& message, AdjustScan& scan) {
    for (const DataMessage& data : kDataMessages) {
        if (message.compare(0, 2, data.code) == 0) {
            data.take(message, scan);
            break;
        }
    }
    for (const EventMessage& event : kEventMessages) {
        if (message.compare(0, 3, event.code) == 0) {
            event.apply();
            break;
        }
    }
}

void ShowElementLengths() {
    for (std::size_t i = 0; i < kElementCount; ++i) {
        platform::SetAdjustText(kLengthFields[i], app.elementLengths[i]);
    }
}

void ShowElementName(std::size_t element, const std::string& name) {
    const bool absent =
        name.size() == kNameWidth && name.find_first_not_of(' ') == std::string::npos;
    platform::EnableAdjustControl(kElementChoices[element], !absent);
    platform::SetAdjustText(kElementChoices[element], name);
}
