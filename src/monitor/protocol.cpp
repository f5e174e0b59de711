#include "monitor/protocol.h"

#include <cstdint>

#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"
#include "monitor/errors.h"
#include "monitor/panel.h"
#include "monitor/status.h"

namespace {

constexpr char kTerminator = ';';
constexpr std::size_t kMaxPendingBytes = 4095;
constexpr std::size_t kDataCodeLength = 2;
constexpr std::size_t kEventCodeLength = 3;
constexpr const char* kCompletion = "AtComplete";
constexpr std::uint32_t kCompletionPressGap = 1000;

using DataHandler = void (*)(const std::string& message);

struct DataMessage {
    const char* code;
    DataHandler handler;
};

constexpr DataMessage kDataMessages[] = {
    {"Fq", OnFrequency},           {"Sn", OnSerialNumber},
    {"Ve", OnProgramVersion},      {"Md", OnModel},
    {"Ea", OnElementNames},        {"Cp", StoreElementLengths},
    {"Er", ReportControllerError},
};

using EventHandler = void (*)(const char* text, std::uint8_t value);

struct EventMessage {
    const char* code;
    EventHandler handler;
    const char* text;
    std::uint8_t value;
};

constexpr EventMessage kEventMessages[] = {
    {"Pw0", OnPowerOff, nullptr, 0},
    {"Pw1", OnPowerOn, nullptr, 0},
    {"Bm1", OnBeamMode, text::kBeamNormal, 1},
    {"Bm2", OnBeamMode, text::kBeamReverse, 2},
    {"Bm4", OnBeamMode, text::kBeamDipole, 4},
    {"Tm0", OnOperatingMode, text::kModeAuto, 0},
    {"Tm1", OnOperatingMode, text::kModeManual, 0},
    {"Tm3", OnOperatingMode, text::kModeHome, 0},
    {"Mt0", OnMotorStopped, nullptr, 0},
    {"Mt1", OnMotorStarted, nullptr, 0},
    {"Cf0", OnRequestWaiting, text::kModeHome, 0},
    {"Cf1", OnRequestWaiting, text::kModeCalib, 0},
    {"Cf2", OnRequestWaiting, text::kModeAdjust, 0},
    {"Cl0", OnCalibrating, nullptr, 0},
    {"Cl1", OnRoutineDone, nullptr, 0},
    {"Hm0", OnHoming, nullptr, 0},
    {"Hm1", OnRoutineDone, nullptr, 0},
    {"Cn0", OnCancelReported, nullptr, 0},
    {"Se0", OnSetReported, nullptr, 0},
    {"Ud2", OnStepUnit, text::kUnitLargeStep, 1},
    {"Ud3", OnStepUnit, text::kUnitSmallStep, 0},
};

// Exact and case-sensitive; a message shorter than the code never matches.
bool HasCode(const std::string& message, const char* code, std::size_t length) {
    if (message.size() < length) {
        return false;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (message[i] != code[i]) {
            return false;
        }
    }
    return true;
}

// The factory defaults are restored: two presses of the POWER key, one second apart.
void AnswerCompletion() {
    SendCommand(text::kPowerKeyLongPress);
    platform::SleepFor(kCompletionPressGap);
    SendCommand(text::kPowerKeyLongPress);
}

// Marks the messages of one read as being interpreted, and puts the mark back
// as it was on every way out.
class InterpretingMark {
  public:
    InterpretingMark() : outer_(app.interpreting) { app.interpreting = true; }
    ~InterpretingMark() { app.interpreting = outer_; }
    InterpretingMark(const InterpretingMark&) = delete;
    InterpretingMark& operator=(const InterpretingMark&) = delete;

  private:
    bool outer_;
};

}  // namespace

void SplitMessages(const std::string& bytes,
                   const std::function<void(const std::string&)>& interpret) {
    // Work on a copy: a message box opened by a message runs a nested loop in
    // which another reader (the Adjust window) may keep a rest of its own.
    std::string pending;
    pending.swap(app.pendingMessage);
    const platform::PortHandle port = app.portHandle;
    const std::string portName = app.portName;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = bytes.find(kTerminator, start);
        if (end == std::string::npos) {
            pending.append(bytes, start);
            break;
        }
        pending.append(bytes, start, end - start);
        start = end + 1;
        interpret(pending);
        pending.clear();
        if (app.portHandle != port || app.portName != portName) {
            return;
        }
    }
    // A rest kept by a nested reader arrived after this read's bytes.
    pending += app.pendingMessage;
    if (pending.size() > kMaxPendingBytes) {
        pending.clear();
    }
    app.pendingMessage.swap(pending);
}

void ReceiveMessages(const std::string& bytes) {
    const InterpretingMark mark;
    const ImageHold images;
    SplitMessages(bytes, InterpretMessage);
}

void InterpretMessage(const std::string& message) {
    for (const DataMessage& data : kDataMessages) {
        if (HasCode(message, data.code, kDataCodeLength)) {
            data.handler(message);
            break;
        }
    }
    for (const EventMessage& event : kEventMessages) {
        if (HasCode(message, event.code, kEventCodeLength)) {
            event.handler(event.text, event.value);
            break;
        }
    }
    if (message == kCompletion) {
        AnswerCompletion();
    }
}
