#include "app/dispatch.h"

#include <string>

#include "app/ids.h"
#include "app/state.h"
#include "link/port.h"
#include "link/transmit.h"
#include "maintenance/about.h"
#include "maintenance/band_reset.h"
#include "maintenance/open_adjust.h"
#include "maintenance/step.h"
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

// Send a fixed code, open a port, or run one of the program's procedures.
enum class Action { kSend, kConnect, kRun };

using Procedure = void (*)();

struct DispatchEntry {
    int id;
    Source source;
    Action action;
    const char* argument;  // the command code, or the port's device name
    Guard guard;
    Procedure procedure;  // what kRun runs
};

using A = Action;
using G = Guard;
using S = Source;

constexpr DispatchEntry kDispatchTable[] = {
    {id::kPowerKey, S::kKey, A::kSend, "B7FNLP", G::kNone, nullptr},
    {id::kAutoKey, S::kKey, A::kSend, "B1FNSP", G::kModeIdle, nullptr},
    {id::kManualKey, S::kKey, A::kSend, "B2FNSP", G::kModeIdle, nullptr},
    {id::kHomeKey, S::kKey, A::kSend, "B1FNLP", G::kNone, nullptr},
    {id::kCalibrationKey, S::kKey, A::kSend, "B2FNLP", G::kNone, nullptr},
    {id::kModeKey, S::kKey, A::kSend, "B0FNSP", G::kNone, nullptr},
    {id::kBand7Key, S::kKey, A::kSend, "B0BDSP", G::kAllBandsModel, nullptr},
    {id::kBand10Key, S::kKey, A::kSend, "B1BDSP", G::kAllBandsModel, nullptr},
    {id::kBand14Key, S::kKey, A::kSend, "B2BDSP", G::kNone, nullptr},
    {id::kBand18Key, S::kKey, A::kSend, "B3BDSP", G::kNone, nullptr},
    {id::kBand21Key, S::kKey, A::kSend, "B4BDSP", G::kNone, nullptr},
    {id::kBand24Key, S::kKey, A::kSend, "B5BDSP", G::kNone, nullptr},
    {id::kBand28Key, S::kKey, A::kSend, "B6BDSP", G::kNone, nullptr},
    {id::kBand50Key, S::kKey, A::kSend, "B7BDSP", G::kNone, nullptr},
    {id::kSetKey, S::kKey, A::kSend, "B5FNSP", G::kNone, nullptr},
    {id::kCancelKey, S::kKey, A::kSend, "B6FNSP", G::kNone, nullptr},
    {id::kUpKey, S::kKey, A::kSend, "B3FNSP", G::kNone, nullptr},
    {id::kDownKey, S::kKey, A::kSend, "B4FNSP", G::kNone, nullptr},
    {id::kStepKey, S::kKey, A::kRun, nullptr, G::kNone, ChangeStep},
    {id::kMenuBand7, S::kMenu, A::kSend, "B0BDSP", G::kNone, nullptr},
    {id::kMenuBand10, S::kMenu, A::kSend, "B1BDSP", G::kNone, nullptr},
    {id::kMenuBand14, S::kMenu, A::kSend, "B2BDSP", G::kNone, nullptr},
    {id::kMenuBand18, S::kMenu, A::kSend, "B3BDSP", G::kNone, nullptr},
    {id::kMenuBand21, S::kMenu, A::kSend, "B4BDSP", G::kNone, nullptr},
    {id::kMenuBand24, S::kMenu, A::kSend, "B5BDSP", G::kNone, nullptr},
    {id::kMenuBand28, S::kMenu, A::kSend, "B6BDSP", G::kNone, nullptr},
    {id::kMenuBand50, S::kMenu, A::kSend, "B7BDSP", G::kNone, nullptr},
    {id::kMenuPowerOn, S::kMenu, A::kSend, "B7FNSP", G::kNone, nullptr},
    {id::kMenuPowerOff, S::kMenu, A::kSend, "B7FNLP", G::kPowerOn, nullptr},
    {id::kMenuUp, S::kMenu, A::kSend, "B3FNSP", G::kNone, nullptr},
    {id::kMenuDown, S::kMenu, A::kSend, "B4FNSP", G::kNone, nullptr},
    {id::kMenuMode, S::kMenu, A::kSend, "B0FNSP", G::kNone, nullptr},
    {id::kMenuSet, S::kMenu, A::kSend, "B5FNSP", G::kNone, nullptr},
    {id::kMenuCancel, S::kMenu, A::kSend, "B6FNSP", G::kNone, nullptr},
    {id::kMenuAuto, S::kMenu, A::kSend, "B1FNSP", G::kModeIdle, nullptr},
    {id::kMenuManual, S::kMenu, A::kSend, "B2FNSP", G::kModeIdle, nullptr},
    {id::kMenuHome, S::kMenu, A::kSend, "B1FNLP", G::kNone, nullptr},
    {id::kMenuCalibration, S::kMenu, A::kSend, "B2FNLP", G::kNone, nullptr},
    {id::kMenuStep, S::kMenu, A::kRun, nullptr, G::kNone, ChangeStep},
    {id::kMenuResetCurrentBand, S::kMenu, A::kRun, nullptr, G::kNone, ResetCurrentBand},
    {id::kMenuResetAllBands, S::kMenu, A::kRun, nullptr, G::kNone, ResetAllBands},
    {id::kMenuCom1, S::kMenu, A::kConnect, "COM1", G::kNone, nullptr},
    {id::kMenuCom2, S::kMenu, A::kConnect, "COM2", G::kNone, nullptr},
    {id::kMenuCom3, S::kMenu, A::kConnect, "COM3", G::kNone, nullptr},
    {id::kMenuCom4, S::kMenu, A::kConnect, "COM4", G::kNone, nullptr},
    {id::kMenuCom5, S::kMenu, A::kConnect, "COM5", G::kNone, nullptr},
    {id::kMenuCom6, S::kMenu, A::kConnect, "COM6", G::kNone, nullptr},
    {id::kMenuCom7, S::kMenu, A::kConnect, "COM7", G::kNone, nullptr},
    {id::kMenuCom8, S::kMenu, A::kConnect, "COM8", G::kNone, nullptr},
    {id::kMenuCom9, S::kMenu, A::kConnect, "COM9", G::kNone, nullptr},
    {id::kMenuCom10, S::kMenu, A::kConnect, "\\\\.\\COM10", G::kNone, nullptr},
    {id::kMenuCom11, S::kMenu, A::kConnect, "\\\\.\\COM11", G::kNone, nullptr},
    {id::kMenuCom12, S::kMenu, A::kConnect, "\\\\.\\COM12", G::kNone, nullptr},
    {id::kMenuCom13, S::kMenu, A::kConnect, "\\\\.\\COM13", G::kNone, nullptr},
    {id::kMenuCom14, S::kMenu, A::kConnect, "\\\\.\\COM14", G::kNone, nullptr},
    {id::kMenuCom15, S::kMenu, A::kConnect, "\\\\.\\COM15", G::kNone, nullptr},
    {id::kMenuCom16, S::kMenu, A::kConnect, "\\\\.\\COM16", G::kNone, nullptr},
    {id::kMenuAdjust, S::kMenu, A::kRun, nullptr, G::kNone, OpenAdjust},
    {id::kMenuKeepAliveOn, S::kMenu, A::kRun, nullptr, G::kNone, KeepAliveOn},
    {id::kMenuKeepAliveOff, S::kMenu, A::kRun, nullptr, G::kNone, KeepAliveOff},
    {id::kMenuAbout, S::kMenu, A::kRun, nullptr, G::kNone, ShowAbout},
    {id::kMenuExit, S::kMenu, A::kRun, nullptr, G::kNone, platform::CloseMainWindow},
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
        case Action::kRun:
            entry->procedure();
            break;
    }
}
