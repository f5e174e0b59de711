#include "maintenance/open_adjust.h"

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/transmit.h"
#include "monitor/poll.h"

void OpenAdjust() {
    if (app.motorStartTick != 0) {
        ShowMessage(text::kDuringMotorOperation, text::kErrorCaption, box::kError);
        return;
    }
    // While the window is open its own poll is the only reader of the port.
    platform::StopTimer(id::kPollTimer);
    platform::StopTimer(id::kKeepAliveTimer);
    platform::RunDialog(text::kAdjustDialog);
    platform::StartTimer(id::kPollTimer, static_cast<std::uint32_t>(app.pollInterval));
    ApplyKeepAlive();
}
