#include "app/accessible.h"

#include "adjust/adjust_controls.h"
#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "monitor/panel.h"

namespace {

constexpr const char* kBlinking = "blinking";
constexpr const char* kNoWord = "";  // an image the table has no word for
constexpr const char* kBlanks = " ";

// What each of the panel's images shows, in words.
struct ImageWord {
    int bitmap;
    const char* word;
};
constexpr ImageWord kImageWords[] = {
    {id::kBitmapLedOff, "off"},       {id::kBitmapLedBlue, "blue"},  {id::kBitmapLedGreen, "green"},
    {id::kBitmapLedOrange, "orange"}, {id::kBitmapStepNone, "none"}, {id::kBitmapStep10k, "10K"},
    {id::kBitmapStep20k, "20K"},      {id::kBitmapStep40k, "40K"},   {id::kBitmapStep50k, "50K"},
};

const char* WordOfImage(int bitmap) {
    for (const ImageWord& image : kImageWords) {
        if (image.bitmap == bitmap) {
            return image.word;
        }
    }
    return kNoWord;
}

// An LED's colour; the beam mode's LED blinks while the motor runs.
const char* LedValue(int controlId) {
    if (app.motorStartTick != 0 && controlId == BeamModeLed(app.beamMode)) {
        return kBlinking;
    }
    return WordOfImage(ChosenImage(controlId));
}

// The step indicator's lit label, or "none".
const char* StepValue(int controlId) {
    return WordOfImage(ChosenImage(controlId));
}

using ValueReader = const char* (*)(int controlId);

struct PanelEntry {
    int id;
    const char* name;  // the label printed beside it on the panel
    std::uint32_t role;
    ValueReader value;  // nullptr: it has none
};

constexpr std::uint32_t kKey = msaa::kRolePushButton;
constexpr std::uint32_t kLamp = msaa::kRoleIndicator;

constexpr PanelEntry kPanelEntries[] = {
    {id::kPowerKey, "POWER", kKey, nullptr},
    {id::kAutoKey, "AUTO", kKey, nullptr},
    {id::kManualKey, "MANUAL", kKey, nullptr},
    {id::kHomeKey, "HOME", kKey, nullptr},
    {id::kCalibrationKey, "CALIBRATION", kKey, nullptr},
    {id::kModeKey, "MODE", kKey, nullptr},
    {id::kBand7Key, "7M", kKey, nullptr},
    {id::kBand10Key, "10M", kKey, nullptr},
    {id::kBand14Key, "14M", kKey, nullptr},
    {id::kBand18Key, "18M", kKey, nullptr},
    {id::kBand21Key, "21M", kKey, nullptr},
    {id::kBand24Key, "24M", kKey, nullptr},
    {id::kBand28Key, "28M", kKey, nullptr},
    {id::kBand50Key, "50M", kKey, nullptr},
    {id::kSetKey, "SET", kKey, nullptr},
    {id::kCancelKey, "CANCEL", kKey, nullptr},
    {id::kUpKey, "UP", kKey, nullptr},
    {id::kDownKey, "DOWN", kKey, nullptr},
    {id::kStepKey, "STEP", kKey, nullptr},
    {id::kBand7Led, "7M band", kLamp, LedValue},
    {id::kBand10Led, "10M band", kLamp, LedValue},
    {id::kBand14Led, "14M band", kLamp, LedValue},
    {id::kBand18Led, "18M band", kLamp, LedValue},
    {id::kBand21Led, "21M band", kLamp, LedValue},
    {id::kBand24Led, "24M band", kLamp, LedValue},
    {id::kBand28Led, "28M band", kLamp, LedValue},
    {id::kBand50Led, "50M band", kLamp, LedValue},
    {id::kPowerLed, "power", kLamp, LedValue},
    {id::kNormalLed, "NORMAL", kLamp, LedValue},
    {id::kReverseLed, "180\xB0", kLamp, LedValue},  // the degree sign in Windows-1252
    {id::kDipoleLed, "DIPOLE", kLamp, LedValue},
    {id::kStepIndicator, "tuning step", kLamp, StepValue},
};

// Before a name has come, each element is called by its choice's first caption.
constexpr const char* kElementCallNames[kElementCount] = {
    text::kAdjustEle1, text::kAdjustEle2, text::kAdjustEle3,
    text::kAdjustEle4, text::kAdjustEle5, text::kAdjustEle6,
};

const PanelEntry* FindPanelEntry(int controlId) {
    for (const PanelEntry& entry : kPanelEntries) {
        if (entry.id == controlId) {
            return &entry;
        }
    }
    return nullptr;
}

// The element of a length field, or kElementCount for any other control.
std::size_t ElementOfField(int controlId) {
    for (std::size_t i = 0; i < kLengthFields.size(); ++i) {
        if (kLengthFields[i] == controlId) {
            return i;
        }
    }
    return kElementCount;
}

// The controller pads names with blanks to eight characters; a name of blanks
// alone is an absent element.
std::string ElementCallName(std::size_t element) {
    const std::string& name = app.elementNames[element];
    const std::size_t first = name.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return kElementCallNames[element];
    }
    return name.substr(first, name.find_last_not_of(kBlanks) - first + 1);
}

}  // namespace

bool IsDescribed(AccessWindow window, int controlId) {
    if (window == AccessWindow::kMain) {
        return FindPanelEntry(controlId) != nullptr;
    }
    return ElementOfField(controlId) < kElementCount;
}

bool ReadAccessible(AccessWindow window, int controlId, AccessReading& reading) {
    if (window == AccessWindow::kMain) {
        const PanelEntry* entry = FindPanelEntry(controlId);
        if (entry == nullptr) {
            return false;
        }
        reading.name = entry->name;
        reading.role = entry->role;
        reading.state = 0;
        reading.hasValue = entry->value != nullptr;
        reading.value = reading.hasValue ? entry->value(controlId) : "";
        return true;
    }
    const std::size_t element = ElementOfField(controlId);
    if (element >= kElementCount) {
        return false;
    }
    // Read as a labelled field: its element, then the length it shows.
    reading.name = ElementCallName(element) + text::kLengthFieldName;
    reading.role = msaa::kRoleText;
    reading.state = msaa::kStateReadOnly;
    reading.hasValue = true;
    reading.value = app.elementLengths[element];
    return true;
}

void AnnounceValueChanges() {
    // Every value is one of the words of this file, so a word is told apart by
    // its address; this runs once for every read of the port.
    for (const PanelEntry& entry : kPanelEntries) {
        const auto slot = static_cast<std::size_t>(entry.id - id::kBand7Led);
        if (entry.value == nullptr || slot >= kImageControlSpan) {
            continue;
        }
        const char*& told = app.toldValues[slot];
        if (told == nullptr) {
            told = WordOfImage(MadeWithImage(entry.id));  // what it said when made
        }
        const char* now = entry.value(entry.id);
        if (now != told) {
            told = now;
            platform::AnnounceValueChange(entry.id);
        }
    }
}
