#include "link/transmit.h"

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/log.h"
#include "monitor/panel.h"

namespace {

// What goes on the wire is read back from the command field: at most 99
// characters of the code, then the terminator.
constexpr int kCommandReadLimit = 100;
constexpr char kTerminator = ';';

}  // namespace

void ShowMessage(const std::string& text, const std::string& caption, unsigned style) {
    // No window is left to answer for: a box now would return at once or hold
    // the ending program open.
    if (app.sessionEnded) {
        app.messageAnswer = box::kNoAnswer;
        return;
    }
    const ImageHoldPause images;
    app.messageAnswer = platform::ShowMessageBox(text, caption, style);
}

void SendCommand(const std::string& code) {
    // The port is closed: not even "COM port is unavailable".
    if (app.sessionEnded) {
        return;
    }
    platform::SetControlText(id::kCommandField, code);
    if (app.portHandle == platform::kInvalidPort) {
        ShowMessage(text::kPortUnavailable, text::kErrorCaption, box::kError);
        return;
    }
    std::string wire = platform::GetControlText(id::kCommandField, kCommandReadLimit);
    wire += kTerminator;
    // Not reported: a line that has gone shows as silence, and the port can be
    // chosen again once its device is back.
    if (!platform::WritePort(app.portHandle, wire)) {
        app.portGone = true;
    }
    WriteLogLine(kLogSent, code + kTerminator);
}
