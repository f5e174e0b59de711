#include "monitor/poll.h"

#include <algorithm>
#include <array>

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/log.h"
#include "link/port.h"
#include "link/transmit.h"
#include "monitor/panel.h"
#include "monitor/protocol.h"
#include "text/number.h"

namespace {

constexpr std::size_t kReceiveBufferSize = 4096;
constexpr std::int32_t kKeepAliveOnInterval = 120000;

void RestartPollTimer() {
    platform::StartTimer(id::kPollTimer, static_cast<std::uint32_t>(app.pollInterval));
}

void KeepAliveTick() {
    platform::StopTimer(id::kKeepAliveTimer);
    // A request while the motor runs would only disturb it.
    if (app.motorStartTick == 0) {
        platform::SleepFor(static_cast<std::uint32_t>(app.pollInterval));
        SendCommand(text::kKeepAliveRequest);
    }
    ApplyKeepAlive();
    RestartPollTimer();
}

}  // namespace

std::string ElapsedCounter() {
    // Unsigned difference: survives the wrap of the tick count.
    const std::uint32_t elapsed = platform::TickCount() - app.motorStartTick;
    return CounterDigits(elapsed / 100);
}

std::string CounterDigits(std::uint32_t tenths) {
    const std::string digits = "000" + FormatNumber(tenths);
    return digits.substr(digits.size() - 3);
}

void PollTick(int timerId) {
    if (app.portHandle == platform::kInvalidPort) {
        return;
    }
    platform::StopTimer(id::kPollTimer);
    if (timerId == id::kKeepAliveTimer) {
        KeepAliveTick();
        return;
    }
    // Under a box opened by a message of the current read: what has arrived
    // since waits in the port's queue until that read is done.
    if (app.interpreting) {
        RestartPollTimer();
        return;
    }
    app.blinkPhase = app.blinkPhase == 0 ? 1 : 0;

    std::array<char, kReceiveBufferSize> buffer{};
    const std::size_t count = ReadConnectedPort(buffer.data(), buffer.size() - 1);
    const std::string shown(buffer.data(), std::find(buffer.data(), buffer.data() + count, '\0'));
    platform::SetControlText(id::kReceiveField, shown);

    if (count == 0) {
        if (app.motorStartTick != 0) {
            RefreshBeamLeds();
            RefreshDisplayPanel(ElapsedCounter());
        } else if (app.modeState == 1) {
            RefreshDisplayPanel("");
        }
        RestartPollTimer();
        return;
    }
    WriteLogLine(kLogReceived, shown);
    ShowMainTitle(app.portName);
    ReceiveMessages(std::string(buffer.data(), count));
    RefreshDisplayPanel(app.motorStartTick == 0 ? "" : ElapsedCounter());
    RestartPollTimer();
}

void ApplyKeepAlive() {
    platform::StopTimer(id::kKeepAliveTimer);
    const bool on = app.keepAliveInterval != 0;
    platform::CheckMenuItem(id::kMenuKeepAliveOn, on);
    platform::CheckMenuItem(id::kMenuKeepAliveOff, !on);
    if (on) {
        platform::StartTimer(id::kKeepAliveTimer,
                             static_cast<std::uint32_t>(app.keepAliveInterval));
    }
}

void KeepAliveOn() {
    app.keepAliveInterval = kKeepAliveOnInterval;
    ApplyKeepAlive();
}

void KeepAliveOff() {
    app.keepAliveInterval = 0;
    ApplyKeepAlive();
}
