// Arbitrary reads through the poll tick, the message splitter and the
// interpreter, cut at arbitrary places, with every error box running nested
// poll and keep-alive ticks as a real box's message loop does; under every
// second box the user opens the Adjust window (a box without owner leaves the
// main window usable), which reads once and closes. The kept rest
// never holds a terminator or outgrows one read, every field keeps its width,
// and nothing is shown or sent that no message asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "adjust/adjust_poll.h"
#include "adjust/adjust_session.h"
#include "app/dispatch.h"
#include "app/ids.h"
#include "app/state.h"
#include "fake_platform.h"
#include "monitor/poll.h"

namespace {

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

std::size_t adjustOpenings = 0;
bool adjustOpen = false;

// The window's loop: it opens, polls once and closes. Its own boxes run
// nothing of the main window's, whose timers are stopped meanwhile.
int RunAdjustWindow() {
    adjustOpen = true;
    OpenAdjustSession();
    AdjustPoll(id::kAdjustPollTimer);
    EndAdjustSession();
    adjustOpen = false;
    return 0;
}

int RunBoxLoop(const FakeBox&) {
    if (adjustOpen) {
        return 1;
    }
    PollTick(id::kPollTimer);
    PollTick(id::kKeepAliveTimer);
    PollTick(id::kPollTimer);
    if (fake.boxes.size() % 2 == 0 && app.motorStartTick == 0) {
        ++adjustOpenings;
        DispatchCommand(id::kMenuAdjust);
    }
    return 1;
}

void CheckState(std::size_t terminators, std::size_t keepAliveTicks) {
    Check(!app.interpreting);
    Check(app.pendingMessage.find(';') == std::string::npos);
    Check(app.pendingMessage.size() <= 4095);
    Check(app.frequencyText.size() <= 16);
    Check(app.serialText.size() <= 14);
    Check(app.programText.size() <= 20);
    Check(app.modelText.size() <= 25);
    for (const std::string& name : app.elementNames) {
        Check(name.size() <= 8);
    }
    for (const std::string& length : app.elementLengths) {
        Check(length.empty() || (length.size() <= 6 && length.back() == 'm'));
    }
    // One box per message at most; two presses per message, one keep-alive
    // request per keep-alive tick (one nested in every box), and the Adjust
    // window's lock, names request and two closing presses.
    Check(fake.boxes.size() <= terminators);
    Check(fake.writes.size() <=
          2 * terminators + fake.boxes.size() + keepAliveTicks + 4 * adjustOpenings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ResetFake();
    fake.devices = {"COM1"};
    // Open without the connection's status request: every write is the reads' doing.
    app.portHandle = platform::OpenPort("COM1");
    app.portName = "COM1";
    adjustOpenings = 0;
    adjustOpen = false;
    fake.onBox = RunBoxLoop;
    fake.onDialog = RunAdjustWindow;
    std::size_t terminators = 0;
    std::size_t keepAliveTicks = 0;
    std::size_t offset = 0;
    // The first byte of each chunk gives its length: reads of any size and cut,
    // up to twice what one tick takes.
    while (offset < size) {
        const std::uint8_t head = data[offset++];
        const std::size_t length = (head & 0x80) != 0 ? 1 + (head & 0x7F) * 64u : 1 + head;
        const std::size_t take = length < size - offset ? length : size - offset;
        const std::string chunk(reinterpret_cast<const char*>(data + offset), take);
        offset += take;
        for (const char byte : chunk) {
            terminators += byte == ';' ? 1 : 0;
        }
        fake.reads.push_back(chunk);
        if ((head & 0x40) != 0) {
            PollTick(id::kKeepAliveTimer);
            ++keepAliveTicks;
        }
        PollTick(id::kPollTimer);
        CheckState(terminators, keepAliveTicks);
    }
    while (!fake.reads.empty()) {
        PollTick(id::kPollTimer);
        CheckState(terminators, keepAliveTicks);
    }
    return 0;
}
