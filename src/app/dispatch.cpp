#include "app/dispatch.h"

#include <string>

#include "app/ids.h"
#include "app/state.h"
#include "link/port.h"
#include "link/transmit.h"
#include "monitor/poll.h"

namespace {

constexpr std::uint16_t kClicked = 0;  // BN_CLICKED

enum class Source { kKey, kMenu };

// A press that its guard refuses is dropped silently.
enum class Guard {
    kNone,
    kModeIdle,       // AUTO and MANUAL wait while a request or homing is under way
    kPowerOn,        // POWER OFF only once the controller has reported power on
    kAllBandsModel,  // the 7M and 10M keys are refused on a restricted model
};

enum class Action { kSend, kConnect, kKeepAliveOn, kKeepAliveOff, kExit };

struct DispatchEntry {
    int id;
    Source source;
    Action action;
    const char* argument;  // the command code, or the port's device name
    Guard guard;
};

using A = Action;
using G = Guard;
using S = Source;

// STEP (1036, 1069), the two RESET items (1070, 1071), Adjust (1072) and
// About (1091) are not in the table yet: they do nothing until their
// procedures are built.
constexpr DispatchEntry kDispatchTable[] = {
    {1001, S::kKey, A::kSend, "B7FNLP", G::kNone},
    {1002, S::kKey, A::kSend, "B1FNSP", G::kModeIdle},
    {1003, S::kKey, A::kSend, "B2FNSP", G::kModeIdle},
    {1004, S::kKey, A::kSend, "B1FNLP", G::kNone},
    {1005, S::kKey, A::kSend, "B2FNLP", G::kNone},
    {1006, S::kKey, A::kSend, "B0FNSP", G::kNone},
    {1007, S::kKey, A::kSend, "B0BDSP", G::kAllBandsModel},
    {1008, S::kKey, A::kSend, "B1BDSP", G::kAllBandsModel},
    {1009, S::kKey, A::kSend, "B2BDSP", G::kNone},
    {1010, S::kKey, A::kSend, "B3BDSP", G::kNone},
    {1011, S::kKey, A::kSend, "B4BDSP", G::kNone},
    {1012, S::kKey, A::kSend, "B5BDSP", G::kNone},
    {1013, S::kKey, A::kSend, "B6BDSP", G::kNone},
    {1014, S::kKey, A::kSend, "B7BDSP", G::kNone},
    {1015, S::kKey, A::kSend, "B5FNSP", G::kNone},
    {1016, S::kKey, A::kSend, "B6FNSP", G::kNone},
    {1033, S::kKey, A::kSend, "B3FNSP", G::kNone},
    {1034, S::kKey, A::kSend, "B4FNSP", G::kNone},
    {1050, S::kMenu, A::kSend, "B0BDSP", G::kNone},
    {1051, S::kMenu, A::kSend, "B1BDSP", G::kNone},
    {1052, S::kMenu, A::kSend, "B2BDSP", G::kNone},
    {1053, S::kMenu, A::kSend, "B3BDSP", G::kNone},
    {1054, S::kMenu, A::kSend, "B4BDSP", G::kNone},
    {1055, S::kMenu, A::kSend, "B5BDSP", G::kNone},
    {1056, S::kMenu, A::kSend, "B6BDSP", G::kNone},
    {1057, S::kMenu, A::kSend, "B7BDSP", G::kNone},
    {1058, S::kMenu, A::kSend, "B7FNSP", G::kNone},
    {1059, S::kMenu, A::kSend, "B7FNLP", G::kPowerOn},
    {1060, S::kMenu, A::kSend, "B3FNSP", G::kNone},
    {1061, S::kMenu, A::kSend, "B4FNSP", G::kNone},
    {1062, S::kMenu, A::kSend, "B0FNSP", G::kNone},
    {1063, S::kMenu, A::kSend, "B5FNSP", G::kNone},
    {1064, S::kMenu, A::kSend, "B6FNSP", G::kNone},
    {1065, S::kMenu, A::kSend, "B1FNSP", G::kModeIdle},
    {1066, S::kMenu, A::kSend, "B2FNSP", G::kModeIdle},
    {1067, S::kMenu, A::kSend, "B1FNLP", G::kNone},
    {1068, S::kMenu, A::kSend, "B2FNLP", G::kNone},
    {1073, S::kMenu, A::kConnect, "COM1", G::kNone},
    {1074, S::kMenu, A::kConnect, "COM2", G::kNone},
    {1075, S::kMenu, A::kConnect, "COM3", G::kNone},
    {1076, S::kMenu, A::kConnect, "COM4", G::kNone},
    {1077, S::kMenu, A::kConnect, "COM5", G::kNone},
    {1078, S::kMenu, A::kConnect, "COM6", G::kNone},
    {1079, S::kMenu, A::kConnect, "COM7", G::kNone},
    {1080, S::kMenu, A::kConnect, "COM8", G::kNone},
    {1081, S::kMenu, A::kConnect, "COM9", G::kNone},
    {1082, S::kMenu, A::kConnect, "\\\\.\\COM10", G::kNone},
    {1083, S::kMenu, A::kConnect, "\\\\.\\COM11", G::kNone},
    {1084, S::kMenu, A::kConnect, "\\\\.\\COM12", G::kNone},
    {1085, S::kMenu, A::kConnect, "\\\\.\\COM13", G::kNone},
    {1086, S::kMenu, A::kConnect, "\\\\.\\COM14", G::kNone},
    {1087, S::kMenu, A::kConnect, "\\\\.\\COM15", G::kNone},
    {1088, S::kMenu, A::kConnect, "\\\\.\\COM16", G::kNone},
    {1089, S::kMenu, A::kKeepAliveOn, nullptr, G::kNone},
    {1090, S::kMenu, A::kKeepAliveOff, nullptr, G::kNone},
    {1092, S::kMenu, A::kExit, nullptr, G::kNone},
};

const DispatchEntry* FindEntry(int commandId) {
    for (const DispatchEntry& entry : kDispatchTable) {
        if (entry.id == commandId) {
            return &entry;
        }
    }
    return nullptr;
}

bool GuardAllows(Guard guard) {
    switch (guard) {
        case Guard::kNone:
            return true;
        case Guard::kModeIdle:
            return app.modeState == 0;
        case Guard::kPowerOn:
            return app.powerState == 1;
        case Guard::kAllBandsModel:
            return app.modelRestricted == 0;
    }
    return false;
}

}  // namespace

void DispatchCommand(std::uint32_t wParam) {
    const int commandId = static_cast<int>(wParam & 0xFFFF);
    const std::uint16_t notification = static_cast<std::uint16_t>(wParam >> 16);
    const DispatchEntry* entry = FindEntry(commandId);
    if (entry == nullptr) {
        return;
    }
    // Keys act on a click only; menu items whatever the code.
    if (entry->source == Source::kKey && notification != kClicked) {
        return;
    }
    if (!GuardAllows(entry->guard)) {
        return;
    }
    switch (entry->action) {
        case Action::kSend:
            SendCommand(entry->argument);
            break;
        case Action::kConnect:
            ConnectPort(entry->argument);
            break;
        case Action::kKeepAliveOn:
            KeepAliveOn();
            break;
        case Action::kKeepAliveOff:
            KeepAliveOff();
            break;
        case Action::kExit:
            platform::CloseMainWindow();
            break;
    }
}
