#include "app/session.h"

#include "app/ids.h"
#include "app/settings.h"
#include "app/state.h"
#include "app/texts.h"
#include "link/log.h"
#include "link/port.h"
#include "monitor/panel.h"
#include "monitor/poll.h"
#include "text/number.h"

namespace {

constexpr std::size_t kPortNameBuffer = 1024;
constexpr std::size_t kNumberBuffer = 256;
constexpr int kSecondInstanceExitCode = 1;

}  // namespace

void StartSession() {
    if (platform::AnotherInstanceRuns(text::kMutexName)) {
        platform::ExitProgram(kSecondInstanceExitCode);
        return;
    }
    platform::SetControlText(id::kCommandField, "");
    platform::SetControlText(id::kReceiveField, "");
    ReplaceDisplayBrush(kDisplayColourOn);
    platform::LoadStatusImages();
    ShowMainTitle(text::kConnectionError);

    app.portName = ReadSetting(text::kKeyComPort, text::kDefaultComPort, kPortNameBuffer);
    ConnectPort(std::string(app.portName));

    app.keepAliveInterval =
        KeepAliveFromSetting(ReadSetting(text::kKeyKeepAlive, text::kDefaultNumber, kNumberBuffer));
    app.debugLogging =
        DebugFromSetting(ReadSetting(text::kKeyDebug, text::kDefaultNumber, kNumberBuffer));
    WriteLogLine(kLogInfo, text::kLogCreate);

    PollTick(id::kPollTimer);
    ApplyKeepAlive();
}

void EndSession() {
    app.sessionEnded = true;
    WriteLogLine(kLogInfo, text::kLogDestroy);
    if (app.portHandle != platform::kInvalidPort) {
        platform::ClosePort(app.portHandle);
        // A procedure still running under an open box must not write to it.
        app.portHandle = platform::kInvalidPort;
    }
    platform::StopTimer(id::kPollTimer);
    platform::StopTimer(id::kKeepAliveTimer);
    // A name too long to open can only come from a hand-edited file: leave the
    // file's text as the user wrote it rather than a cut copy of it.
    if (app.portName.size() <= kMaxPortNameLength) {
        WriteSetting(text::kKeyComPort, app.portName);
    }
    WriteSetting(text::kKeyKeepAlive, FormatNumber(app.keepAliveInterval));
    ReleaseDisplayBrush();
    platform::ReleaseWindowResources();
    platform::PostQuit(0);
}
