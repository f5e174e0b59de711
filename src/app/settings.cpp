#include "app/settings.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "app/state.h"
#include "app/texts.h"
#include "text/number.h"

namespace {

constexpr std::int32_t kMinKeepAliveMs = 1000;
// "[", "]", "=" and two CR LF: the section and the key may both be new.
constexpr std::size_t kLineMarks = 7;
// A Unicode settings file takes two bytes a character.
constexpr std::uint64_t kBytesPerCharacter = 2;

// Writing a key rewrites the whole file in place: on a disk without room for the
// new text the file would be cut where the room ran out, the program's own line
// or the user's after it. Write only where the whole new file fits beside the
// old one, or where the room cannot be told (as the program always did).
bool RoomToRewrite(const char* key, const std::string& value) {
    std::uint64_t room = 0;
    if (!platform::FreeDiskBytes(app.settingsFilePath, room)) {
        return true;
    }
    const std::uint64_t added = kBytesPerCharacter * (std::strlen(text::kSettingsSection) +
                                                      std::strlen(key) + value.size() + kLineMarks);
    return room >= platform::FileBytes(app.settingsFilePath) + added;
}

}  // namespace

std::int32_t SettingToInt32(const std::string& text) {
    const double value = std::trunc(ParseNumber(text));
    if (std::isnan(value)) {
        return 0;
    }
    if (value <= static_cast<double>(std::numeric_limits<std::int32_t>::min())) {
        return std::numeric_limits<std::int32_t>::min();
    }
    if (value >= static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

std::int32_t KeepAliveFromSetting(const std::string& text) {
    const std::int32_t value = SettingToInt32(text);
    if (value <= 0) {
        return 0;
    }
    return value < kMinKeepAliveMs ? kMinKeepAliveMs : value;
}

std::uint8_t DebugFromSetting(const std::string& text) {
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(SettingToInt32(text)) & 0xFF);
}

std::string ReadSetting(const char* key, const char* defaultValue, std::size_t bufferSize) {
    if (app.settingsFilePath.empty()) {
        return defaultValue;
    }
    return platform::ReadIniString(app.settingsFilePath, text::kSettingsSection, key, defaultValue,
                                   bufferSize);
}

void WriteSetting(const char* key, const std::string& value) {
    if (app.settingsFilePath.empty() || !RoomToRewrite(key, value)) {
        return;
    }
    platform::WriteIniString(app.settingsFilePath, text::kSettingsSection, key, value);
}
