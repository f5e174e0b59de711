#include "link/port.h"

#include <cctype>

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"
#include "monitor/panel.h"

namespace {

// The name without the "\\.\" device prefix, as the user sees it.
std::string ShownPortName(const std::string& name) {
    const std::string prefix = text::kDevicePrefix;
    if (name.compare(0, prefix.size(), prefix) == 0) {
        return name.substr(prefix.size());
    }
    return name;
}

constexpr std::uint32_t kQueueBytes = 1048576;
constexpr std::size_t kMaxCaptionLength = 255;

bool SameDevice(const std::string& a, const std::string& b) {
    const std::string x = ShownPortName(a);
    const std::string y = ShownPortName(b);
    if (x.size() != y.size()) {
        return false;
    }
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(x[i])) !=
            std::toupper(static_cast<unsigned char>(y[i]))) {
            return false;
        }
    }
    return true;
}

void ReportCannotOpen(const std::string& name) {
    ShowMessage(text::kCannotOpen + ShownPortName(name), text::kErrorCaption, box::kError);
}

// Once gone, a handle stays gone: a device plugged back is reached only by a
// new open.
bool PortStillWorks() {
    if (!app.portGone && !platform::PortPresent(app.portHandle)) {
        app.portGone = true;
    }
    return !app.portGone;
}

}  // namespace

std::size_t ReadConnectedPort(char* buffer, std::size_t maxBytes) {
    std::size_t count = 0;
    if (!PortStillWorks()) {
        return 0;
    }
    if (!platform::ReadPort(app.portHandle, buffer, maxBytes, count)) {
        app.portGone = true;
        return 0;
    }
    return count < maxBytes ? count : maxBytes;
}

void ShowMainTitle(const std::string& label) {
    std::string caption = std::string(text::kProgramTitle) + " [" + ShownPortName(label) + "]";
    if (caption.size() > kMaxCaptionLength) {
        caption.resize(kMaxCaptionLength);
    }
    platform::SetMainCaption(caption);
}

void ConnectPort(const std::string& name) {
    // The open port is refused by the program itself: not every platform
    // refuses a second open of a device that is held without sharing. One whose
    // device has gone is connected afresh, as a device plugged back opens.
    const bool alreadyOpen = app.portHandle != platform::kInvalidPort &&
                             SameDevice(name, app.portName) && PortStillWorks();
    if (name.size() > kMaxPortNameLength || alreadyOpen) {
        ReportCannotOpen(name);
        return;
    }
    // Trial open while the current port is still open: a failed switch keeps it.
    const platform::PortHandle trial = platform::OpenPort(name);
    if (trial == platform::kInvalidPort) {
        ReportCannotOpen(name);
        return;
    }
    platform::ClosePort(trial);
    if (app.portHandle != platform::kInvalidPort) {
        platform::ClosePort(app.portHandle);
    }
    app.portHandle = platform::OpenPort(name);
    app.portGone = false;
    if (app.portHandle != platform::kInvalidPort) {
        platform::SetPortState(app.portHandle, app.portSettings);
        platform::SetPortTimeouts(app.portHandle, app.portTimeouts);
        platform::SetPortQueues(app.portHandle, kQueueBytes, kQueueBytes);
    }
    app.portName = name;
    ShowMainTitle(name);
    app.modeText = text::kConnectingMode;
    app.frequencyText.clear();
    app.beamText.clear();
    app.pendingMessage.clear();
    RefreshDisplayPanel("");
    SendCommand(text::kStatusRequest);
    // Poll the new port at once, also when no port was open before.
    if (app.portHandle != platform::kInvalidPort) {
        platform::StartTimer(id::kPollTimer, static_cast<std::uint32_t>(app.pollInterval));
    }
}
