#include "adjust/adjust_poll.h"

#include <algorithm>
#include <array>

#include "adjust/adjust_messages.h"
#include "app/accessible.h"
#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/log.h"
#include "link/port.h"
#include "link/transmit.h"
#include "monitor/panel.h"
#include "monitor/poll.h"
#include "monitor/protocol.h"

namespace {

// At most 100 bytes a read, always followed by zero bytes.
constexpr std::size_t kPollBufferSize = 104;
constexpr std::size_t kPollReadLimit = 100;
constexpr char kLogTerminator = ';';  // the log line's extra ";" after the read

void RestartAdjustPoll() {
    platform::StartAdjustTimer(id::kAdjustPollTimer, static_cast<std::uint32_t>(app.pollInterval));
}

// A 100-byte read cuts messages by itself: the main poll's rule completes them.
void ReceiveAdjustMessages(const std::string& bytes) {
    AdjustScan scan;
    SplitMessages(bytes,
                  [&scan](const std::string& message) { InterpretAdjustMessage(message, scan); });
}

std::string MotorCounterOrNothing() {
    return app.motorStartTick == 0 ? std::string() : AdjustElapsedCounter();
}

}  // namespace

std::string AdjustElapsedCounter() {
    // Unsigned difference: survives the wrap of the tick count.
    const std::uint32_t elapsed = platform::TickCount() - app.motorStartTick;
    const float tenths = static_cast<float>(static_cast<double>(elapsed) / 100.0);
    return CounterDigits(static_cast<std::uint32_t>(tenths));
}

void AdjustPoll(int timerId) {
    if (timerId == id::kAdjustLengthsTimer) {
        platform::StopAdjustTimer(id::kAdjustLengthsTimer);
        SendCommand(text::kLengthsRequest);
        return;
    }
    // No port: the timer stays armed and tries again.
    if (app.portHandle == platform::kInvalidPort) {
        return;
    }
    platform::StopAdjustTimer(id::kAdjustPollTimer);

    std::array<char, kPollBufferSize> buffer{};
    const std::size_t count = ReadConnectedPort(buffer.data(), kPollReadLimit);
    const std::string shown(buffer.data(), std::find(buffer.data(), buffer.data() + count, '\0'));
    platform::SetControlText(id::kReceiveField, shown);

    if (count == 0) {
        if (app.motorStartTick != 0) {
            RefreshDisplayPanel(AdjustElapsedCounter());
        }
    } else {
        WriteLogLine(kLogReceived, shown + kLogTerminator);
        ReceiveAdjustMessages(std::string(buffer.data(), count));
        RefreshDisplayPanel(MotorCounterOrNothing());
        // The motor's start and stop turn the beam LED's blinking on and off.
        AnnounceValueChanges();
    }
    RestartAdjustPoll();
}
