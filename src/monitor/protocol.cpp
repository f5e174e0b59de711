#include "monitor/protocol.h"

#include "app/state.h"

namespace {

constexpr char kTerminator = ';';
constexpr std::size_t kMaxPendingBytes = 4095;

}  // namespace

void ReceiveMessages(const std::string& bytes) {
    // Work on a copy: a message box opened by a message runs nested poll
    // ticks, which receive into the shared rest themselves.
    std::string pending;
    pending.swap(app.pendingMessage);
    for (const char byte : bytes) {
        if (byte == kTerminator) {
            std::string message;
            message.swap(pending);
            InterpretMessage(message);
        } else {
            pending += byte;
        }
    }
    // A rest from a nested tick arrived after this one's bytes.
    pending += app.pendingMessage;
    if (pending.size() > kMaxPendingBytes) {
        pending.clear();
    }
    app.pendingMessage.swap(pending);
}

void InterpretMessage(const std::string& message) {
    // The status model does not act on the controller's messages yet: every
    // message is ignored, as an unrecognised one is.
    (void)message;
}
