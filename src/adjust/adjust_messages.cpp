#include "adjust/adjust_messages.h"

#include "adjust/adjust_controls.h"
#include "app/state.h"
#include "app/texts.h"

namespace {

constexpr std::size_t kLengthWidth = 5;
constexpr std::size_t kNameWidth = 8;
constexpr std::uint32_t kMotorStartLead = 100;  // the counter shows 001 at once
constexpr const char* kAllElements = "06";

// Up to count characters from the 1-based position: fewer where the message
// ends early, none where it ends before the position.
std::string Field(const std::string& message, std::size_t position, std::size_t count) {
    if (position - 1 >= message.size()) {
        return std::string();
    }
    return message.substr(position - 1, count);
}

// "Cp06": all six lengths at 6, 12, ..., 36; "Cp00" to "Cp05": one length at 6.
void TakeLengths(const std::string& message, AdjustScan&) {
    const std::string code = Field(message, 3, 2);
    if (code == kAllElements) {
        for (std::size_t i = 0; i < kElementCount; ++i) {
            app.elementLengths[i] = Field(message, 6 + 6 * i, kLengthWidth) + text::kLengthUnit;
        }
    } else if (code.size() == 2 && code[0] == '0' && code[1] >= '0' && code[1] <= '5') {
        const auto element = static_cast<std::size_t>(code[1] - '0');
        app.elementLengths[element] = Field(message, 6, kLengthWidth) + text::kLengthUnit;
    }
    ShowElementLengths();
}

// Kept, so a later "Max Length : " names its element and the next opening
// does not ask again.
void TakeNames(const std::string& message, AdjustScan&) {
    for (std::size_t i = 0; i < kElementCount; ++i) {
        app.elementNames[i] = Field(message, 3 + kNameWidth * i, kNameWidth);
        ShowElementName(i, app.elementNames[i]);
    }
}

void MotorStopped() {
    app.motorStartTick = 0;
}

void MotorStarted() {
    app.motorStartTick = platform::TickCount() - kMotorStartLead;
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
