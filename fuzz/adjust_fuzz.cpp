// Arbitrary reads through the Adjust window's own poll: the window opened as
// the program opens it (the Adjust menu item and the window's nested loop),
// 100-byte reads that cut messages anywhere, the buttons, the choices, the
// lengths timer and the clock moved between polls, and every error box running
// the timers that are armed and a press, as a real box's message loop does. The kept rest
// never holds a terminator or outgrows one full read, every field keeps its
// width, the counter is three digits, and nothing is shown or sent that no
// message or press asked for. After closing, the main poll reads what is left.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "adjust/adjust_controls.h"
#include "adjust/adjust_poll.h"
#include "adjust/adjust_session.h"
#include "app/dispatch.h"
#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "fake_platform.h"
#include "monitor/poll.h"

namespace {

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool IsOneOf(int id, const std::array<int, kElementCount>& ids) {
    for (const int each : ids) {
        if (each == id) {
            return true;
        }
    }
    return false;
}

// What the input has done so far: the commands the window was asked to send
// and the terminators the controller sent.
struct Run {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t offset = 0;
    std::vector<std::string> expectedWrites;
    std::size_t terminators = 0;
};
Run run;

constexpr std::size_t kFieldWidth = 8;   // an element name
constexpr std::size_t kLengthWidth = 6;  // five characters and "m"
constexpr int kChoices[] = {0,
                            id::kAdjustEle1,
                            id::kAdjustEle2,
                            id::kAdjustEle3,
                            id::kAdjustEle4,
                            id::kAdjustEle5,
                            id::kAdjustEle6,
                            id::kAdjustAll};

// The lengths timer fires while it is armed; its one tick asks and stops it.
void FireLengthsTimer() {
    if (fake.adjustTimers.count(id::kAdjustLengthsTimer) == 0) {
        return;
    }
    run.expectedWrites.push_back(std::string(text::kLengthsRequest) + ";");
    AdjustPoll(id::kAdjustLengthsTimer);
    Check(fake.adjustTimers.count(id::kAdjustLengthsTimer) == 0);
}

std::string SelectedDigit() {
    for (std::size_t i = 0; i < kElementCount; ++i) {
        if (fake.adjustChecked == kElementChoices[i]) {
            return std::to_string(i);
        }
    }
    return std::to_string(kElementCount);
}

void Press(int button) {
    const std::string element = SelectedDigit();
    switch (button) {
        case id::kAdjustShort:
            run.expectedWrites.push_back(text::kStepPrefix + element + text::kStepShort + ";");
            AdjustStep(AdjustDirection::kShort);
            break;
        case id::kAdjustLong:
            run.expectedWrites.push_back(text::kStepPrefix + element + text::kStepLong + ";");
            AdjustStep(AdjustDirection::kLong);
            break;
        default:
            run.expectedWrites.push_back(text::kWritePrefix + element + ";");
            AdjustWrite();
            break;
    }
}

bool IsAdjustBox(const FakeBox& box) {
    const char* const shown[] = {text::kErrorUnknownCommand, text::kErrorAdjustMode,
                                 text::kErrorMotorOrCalibration, text::kErrorNotLocked};
    for (const char* text : shown) {
        if (box.text == text) {
            return true;
        }
    }
    if (StartsWith(box.text, text::kMaxLength)) {
        return box.text.size() <= std::string(text::kMaxLength).size() + kFieldWidth;
    }
    // The unknown report quotes its message: an "Er" message without its ";".
    const std::string open = text::kUnknownErrorOpen;
    return StartsWith(box.text, open + "Er") && box.text.find(';') == std::string::npos &&
           box.text.back() == text::kUnknownErrorClose[0];
}

void CheckState() {
    Check(app.pendingMessage.find(';') == std::string::npos);
    Check(app.pendingMessage.size() <= 4095);
    for (const std::string& name : app.elementNames) {
        Check(name.size() <= kFieldWidth);
    }
    for (const std::string& length : app.elementLengths) {
        Check(length.empty() || (length.size() <= kLengthWidth && length.back() == 'm'));
    }
    // Only the window's own element controls are written to.
    for (const auto& shown : fake.adjustTexts) {
        if (IsOneOf(shown.first, kLengthFields)) {
            Check(shown.second.empty() ||
                  (shown.second.size() <= kLengthWidth && shown.second.back() == 'm'));
        } else {
            Check(IsOneOf(shown.first, kElementChoices) && shown.second.size() <= kFieldWidth);
        }
    }
    for (const auto& enabled : fake.adjustEnabled) {
        Check(IsOneOf(enabled.first, kElementChoices));
    }
    // The main poll rests while the window reads the port.
    Check(!fake.TimerRunning(id::kPollTimer) && !fake.TimerRunning(id::kKeepAliveTimer));
    // One box per message at most, each from the window's table.
    Check(fake.boxes.size() <= run.terminators);
    for (const FakeBox& box : fake.boxes) {
        Check(box.caption == text::kErrorCaption && box.style == box::kError && IsAdjustBox(box));
    }
    // Messages send nothing: every write is a press's, the timer's or the opening's.
    Check(fake.writes.size() == run.expectedWrites.size());
    for (std::size_t i = 0; i < fake.writes.size(); ++i) {
        Check(fake.writes[i].bytes == run.expectedWrites[i]);
    }
}

// The motor counter stands where the beam word stood: three digits.
void CheckCounter() {
    if (app.motorStartTick == 0 || app.modeState != 0) {
        return;
    }
    const std::string panel = fake.Text(id::kDisplayPanel);
    const std::size_t lineEnd = panel.find('\r');
    Check(lineEnd != std::string::npos && lineEnd >= 3);
    for (std::size_t i = lineEnd - 3; i < lineEnd; ++i) {
        Check(panel[i] >= '0' && panel[i] <= '9');
    }
}

std::size_t MaxLengthBoxes() {
    std::size_t count = 0;
    for (const FakeBox& box : fake.boxes) {
        count += StartsWith(box.text, text::kMaxLength) ? 1 : 0;
    }
    return count;
}

void Poll() {
    // Every poll re-arms its timer last, so there always is a next one.
    Check(fake.adjustTimers.count(id::kAdjustPollTimer) != 0);
    const std::size_t maxLengthBefore = MaxLengthBoxes();
    AdjustPoll(id::kAdjustPollTimer);
    Check(MaxLengthBoxes() <= maxLengthBefore + 1);
    CheckState();
    CheckCounter();
}

// One action byte: a press, a choice, a timer or the clock.
constexpr int kPollAction = 6;
void Act(std::uint8_t action) {
    const std::uint32_t amount = action >> 3;
    switch (action & 7) {
        case 0:
            FireLengthsTimer();
            break;
        case 1:
            Press(id::kAdjustShort);
            break;
        case 2:
            Press(id::kAdjustLong);
            break;
        case 3:
            Press(id::kAdjustSet);
            break;
        case 4:
            fake.adjustChecked = kChoices[amount % (sizeof kChoices / sizeof kChoices[0])];
            break;
        case 5:
            fake.tick += amount * 997;
            break;
        case kPollAction:
            Poll();
            break;
        default:
            // Up to the tick count's wrap.
            fake.tick = 0xFFFFFFFFu - amount * 100;
            break;
    }
    CheckState();
}

// What a box's loop runs: the window's armed timers (the poll timer is not
// armed while a poll runs), then one press, choice or clock step of the input,
// as the window's buttons stay live under the box; nothing of the main window's.
int RunBoxLoop(const FakeBox&) {
    Check(fake.adjustTimers.count(id::kAdjustPollTimer) == 0);
    FireLengthsTimer();
    if (run.offset < run.size) {
        const std::uint8_t action = run.data[run.offset++];
        if ((action & 7) != kPollAction) {
            Act(action);
        }
    }
    return 1;
}

int RunWindow() {
    OpenAdjustSession();
    CheckState();
    // The first byte of each chunk gives its length (reads are cut at 100) and
    // whether an action byte comes first.
    while (run.offset < run.size) {
        const std::uint8_t head = run.data[run.offset++];
        if ((head & 0x80) != 0 && run.offset < run.size) {
            Act(run.data[run.offset++]);
        }
        const std::size_t length = 1 + (head & 0x7F);
        const std::size_t left = run.size - run.offset;
        const std::size_t take = length < left ? length : left;
        const std::string chunk(reinterpret_cast<const char*>(run.data + run.offset), take);
        run.offset += take;
        for (const char byte : chunk) {
            run.terminators += byte == ';' ? 1 : 0;
        }
        fake.reads.push_back(chunk);
        Poll();
    }
    run.expectedWrites.push_back(std::string(text::kPowerKeyLongPress) + ";");
    run.expectedWrites.push_back(std::string(text::kPowerKeyLongPress) + ";");
    EndAdjustSession();
    CheckState();
    Check(fake.adjustTimers.count(id::kAdjustPollTimer) == 0);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFake();
    run = Run{};
    run.data = data;
    run.size = size;
    fake.devices = {"COM1"};
    // Open without the connection's status request: every write is the window's.
    app.portHandle = platform::OpenPort("COM1");
    app.portName = "COM1";
    app.keepAliveInterval = 0;
    app.modeText = text::kModeAuto;
    app.beamText = text::kBeamNormal;
    app.frequencyText = " 40m   7.050 MHz";
    // The first byte: names kept from an earlier opening, and the debug log.
    if (size > 0) {
        const std::uint8_t setup = data[run.offset++];
        if ((setup & 1) != 0) {
            app.elementNames = {"Ele1    ", "Ele2    ", "Ele3    ", "Ele4    ", "", "        "};
        }
        if ((setup & 2) != 0) {
            app.debugLogging = 1;
            app.logFilePath = "tovakrem.log";
        }
    }
    run.expectedWrites.push_back(std::string(text::kLockCommand) + ";");
    if (app.elementNames[0].empty()) {
        run.expectedWrites.push_back(std::string(text::kNamesRequest) + ";");
    }
    fake.onBox = RunBoxLoop;
    fake.onDialog = RunWindow;
    DispatchCommand(id::kMenuAdjust);
    Check(fake.dialogs.size() == 1);
    Check(fake.TimerRunning(id::kPollTimer));

    // The main poll takes over the port and what the window left unread.
    fake.onBox = nullptr;
    while (!fake.reads.empty()) {
        PollTick(id::kPollTimer);
        Check(app.pendingMessage.find(';') == std::string::npos);
        Check(app.pendingMessage.size() <= 4095);
    }
    return 0;
}
