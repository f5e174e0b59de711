// Hostile settings: every value of the settings file, and %LOCALAPPDATA%,
// through the number conversions and through a whole session against the
// fake's profile store: start, shutdown, and a second start from what the
// first one wrote. Whatever the bytes, the program starts, the keep-alive is 0
// or at least one second, COMPORT is written back as the name read (or the
// default) or not at all, KEEPALIVE as plain decimal that reads back as the
// same period, DEBUG never, and the second start comes up as the first did.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "app/ids.h"
#include "app/session.h"
#include "app/settings.h"
#include "app/state.h"
#include "app/texts.h"
#include "fake_platform.h"
#include "link/port.h"
#include "monitor/poll.h"

namespace {

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

constexpr const char* kRoot = "C:\\Users\\op\\AppData\\Local";
// The longest values the program reads: COMPORT, and the numbers.
constexpr std::size_t kPortReadLimit = 1023;
constexpr std::size_t kNumberReadLimit = 255;

std::int32_t Clamp(long double value) {
    if (value <= std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

// A second reading of the plain forms, a whole decimal with an optional sign
// or an "&H"/"&O" run of up to 15 digits, that the conversions must agree with.
bool PlainValue(const std::string& text, std::int32_t& value) {
    std::size_t i = text.find_first_not_of(" \t");
    if (i == std::string::npos) {
        return false;
    }
    int radix = 10;
    const char* digitsOf = "0123456789";
    bool negative = false;
    if (text.compare(i, 2, "&H") == 0 || text.compare(i, 2, "&h") == 0) {
        radix = 16;
        digitsOf = "0123456789ABCDEFabcdef";
        i += 2;
    } else if (text.compare(i, 2, "&O") == 0 || text.compare(i, 2, "&o") == 0) {
        radix = 8;
        digitsOf = "01234567";
        i += 2;
    } else if (text[i] == '-' || text[i] == '+') {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t end = std::min(text.find_first_not_of(digitsOf, i), text.size());
    // A fraction may round a whole number up; only whole numbers are compared.
    if (end == i || end - i > 15 || (radix == 10 && end < text.size() && text[end] == '.')) {
        return false;
    }
    const long double whole = std::strtoull(text.substr(i, end - i).c_str(), nullptr, radix);
    value = Clamp(negative ? -whole : whole);
    return true;
}

void CheckConversions(const std::string& text) {
    const std::int32_t number = SettingToInt32(text);
    const std::int32_t keepAlive = KeepAliveFromSetting(text);
    Check(keepAlive == 0 || keepAlive >= 1000);
    Check(keepAlive == (number <= 0 ? 0 : number < 1000 ? 1000 : number));
    Check(DebugFromSetting(text) == (static_cast<std::uint32_t>(number) & 0xFF));
    std::int32_t plain = 0;
    if (PlainValue(text, plain)) {
        Check(number == plain);
    }
}

bool IsPlainDecimal(const std::string& text) {
    if (text.empty() || text.size() > 10 || (text[0] == '0' && text.size() > 1)) {
        return false;
    }
    return text.find_first_not_of("0123456789") == std::string::npos;
}

// The input: one byte of switches, then the values of COMPORT, KEEPALIVE,
// DEBUG and %LOCALAPPDATA%, each ended by a line feed (a line of the file).
struct Setup {
    std::uint8_t switches = 0;
    std::vector<std::string> fields;
    bool Has(int bit) const { return (switches & (1u << bit)) != 0; }
};

Setup ReadSetup(const std::uint8_t* data, std::size_t size) {
    Setup setup;
    if (size == 0) {
        return setup;
    }
    setup.switches = data[0];
    std::string field;
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == '\n') {
            setup.fields.push_back(field);
            field.clear();
        } else {
            field += static_cast<char>(data[i]);
        }
    }
    setup.fields.push_back(field);
    setup.fields.resize(4);
    return setup;
}

using Profiles = std::map<std::string, std::map<std::string, std::string>>;

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Switch 3: %LOCALAPPDATA% is the fourth value.
void PreparePaths(const Setup& setup) {
    ResetFake();
    fake.environment[text::kAppDataVariable] = setup.Has(3) ? setup.fields[3] : kRoot;
    BuildFilePaths();
}

// One start of the program as WinMain and the main window's creation make it.
void Start(const Setup& setup, const Profiles& ini) {
    PreparePaths(setup);
    fake.profiles = ini;
    if (setup.Has(4)) {
        fake.devices.insert(setup.fields[0]);
    }
    if (setup.Has(5)) {
        fake.devices.insert(text::kDefaultComPort);
    }
    fake.mutexHeld = setup.Has(6);
    StartSession();
}

std::string Value(const std::string& key) {
    auto file = fake.profiles.find(app.settingsFilePath);
    if (file == fake.profiles.end() || file->second.count(key) == 0) {
        return std::string();
    }
    return file->second.at(key);
}

void CheckStarted(const std::string& keepAliveText, const std::string& debugText) {
    Check(!fake.exitCode.has_value());
    Check(app.keepAliveInterval == KeepAliveFromSetting(keepAliveText));
    Check(app.debugLogging == DebugFromSetting(debugText));
    const bool on = app.keepAliveInterval != 0;
    Check(fake.menuChecks[id::kMenuKeepAliveOn] == on &&
          fake.menuChecks[id::kMenuKeepAliveOff] == !on);
    Check(on == fake.TimerRunning(id::kKeepAliveTimer));
    Check(!on ||
          fake.timers[id::kKeepAliveTimer] == static_cast<std::uint32_t>(app.keepAliveInterval));
    // The only box a start shows is the port's.
    Check(fake.boxes.size() <= 1);
    for (const FakeBox& box : fake.boxes) {
        Check(StartsWith(box.text, text::kCannotOpen));
    }
    Check((fake.boxes.empty()) == (app.portHandle != platform::kInvalidPort));
    Check(fake.caption.size() <= 255);
    const bool logged = !fake.files.empty();
    Check(logged == (app.debugLogging == 1 && !app.logFilePath.empty()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Setup setup = ReadSetup(data, size);
    for (const std::string& field : setup.fields) {
        CheckConversions(field);
    }

    // Switches 0 to 2: COMPORT, KEEPALIVE and DEBUG are in the file.
    const char* const keys[] = {text::kKeyComPort, text::kKeyKeepAlive, text::kKeyDebug};
    PreparePaths(setup);
    const std::string path = app.settingsFilePath;
    Profiles ini;
    for (int key = 0; key < 3; ++key) {
        if (setup.Has(key) && !path.empty()) {
            ini[path][keys[key]] = setup.fields[static_cast<std::size_t>(key)];
        }
    }
    Start(setup, ini);
    if (setup.Has(6)) {
        // A second instance gives way at once and touches nothing.
        Check(fake.exitCode == 1 && fake.profileWrites.empty() && fake.boxes.empty() &&
              fake.writes.empty() && fake.caption.empty());
        return 0;
    }
    const bool fileUsed = !path.empty();
    const std::string portText = fileUsed && setup.Has(0) ? setup.fields[0] : text::kDefaultComPort;
    const std::string keepAliveText =
        (fileUsed && setup.Has(1) ? setup.fields[1] : text::kDefaultNumber)
            .substr(0, kNumberReadLimit);
    const std::string debugText =
        (fileUsed && setup.Has(2) ? setup.fields[2] : text::kDefaultNumber)
            .substr(0, kNumberReadLimit);
    CheckStarted(keepAliveText, debugText);
    const std::string nameRead = portText.substr(0, kPortReadLimit);
    Check(app.portName == nameRead);
    if (setup.Has(7)) {
        KeepAliveOn();
    }
    const std::int32_t keepAlive = app.keepAliveInterval;
    const std::string portName = app.portName;
    EndSession();
    Check(fake.quitCode == 0 && fake.resourcesReleased);
    Check(app.portHandle == platform::kInvalidPort && fake.openPorts.empty());

    if (!fileUsed) {
        Check(fake.profileWrites.empty() && fake.files.empty());
        return 0;
    }
    // COMPORT: the name read, or the file's own text when the name is too long to open.
    const std::string portWritten = Value(text::kKeyComPort);
    Check(portWritten == (nameRead.size() <= kMaxPortNameLength ? nameRead : portText));
    const std::string keepAliveWritten = Value(text::kKeyKeepAlive);
    Check(IsPlainDecimal(keepAliveWritten));
    Check(KeepAliveFromSetting(keepAliveWritten) == keepAlive);
    Check(Value(text::kKeyDebug) == (setup.Has(2) ? setup.fields[2] : std::string()));
    for (const std::string& write : fake.profileWrites) {
        Check(!StartsWith(write, std::string(text::kKeyDebug) + "="));
    }

    // The next start comes up with the port and the period this one closed with.
    const Profiles written = fake.profiles;
    Start(setup, written);
    CheckStarted(keepAliveWritten, debugText);
    Check(app.portName == portName && app.keepAliveInterval == keepAlive);
    return 0;
}
