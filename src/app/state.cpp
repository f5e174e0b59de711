#include "app/state.h"

#include "app/texts.h"

AppState app;

namespace {

// Longest path the program stores: Windows' MAX_PATH less the terminator.
constexpr std::size_t kMaxPathLength = 259;

// 115200 8N1, binary, RTS toggle, DTR off, no flow control.
constexpr platform::PortSettings kSerialDefaults = {
    115200, 0x3001, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0,
};

// A read returns with what has arrived at most 120 ms after it starts.
constexpr platform::PortTimeouts kSerialTimeouts = {120, 0, 120, 0, 120};

}  // namespace

void InitialiseState() {
    app = AppState{};  // the record's own initial values: no port, texts empty, flags 0
    app.portSettings = kSerialDefaults;
    app.portTimeouts = kSerialTimeouts;
}

void BuildFilePaths() {
    std::string root;
    platform::ReadEnvironment(text::kAppDataVariable, root);
    const std::string folder = root + text::kSettingsFolder;
    const std::string settings = folder + text::kSettingsFile;
    const std::string log = folder + text::kLogFile;
    // A shortened path would name some other file: use none at all instead.
    if (settings.size() > kMaxPathLength || log.size() > kMaxPathLength) {
        app.settingsFilePath.clear();
        app.logFilePath.clear();
        return;
    }
    platform::CreateFolder(folder);
    app.settingsFilePath = settings;
    app.logFilePath = log;
}
