// The settings file: %LOCALAPPDATA%\VORNHALT\tovakrem.ini, section "tovakrem".
#pragma once

#include <cstdint>
#include <string>

// A number text as the settings hold it, truncated toward zero and clamped to
// the 32-bit range ("abc" and "" give 0).
std::int32_t SettingToInt32(const std::string& text);

// KEEPALIVE: 0 or less is off; a period below one second becomes one second.
std::int32_t KeepAliveFromSetting(const std::string& text);

// DEBUG: the low 8 bits of the number; logging is on only when it is 1.
std::uint8_t DebugFromSetting(const std::string& text);

// Reads one key; gives the default when the settings file cannot be used.
std::string ReadSetting(const char* key, const char* defaultValue, std::size_t bufferSize);
// Writes one key; not at all where the file cannot be used, nor where the disk
// has no room to rewrite it whole (the file then stays as it was).
void WriteSetting(const char* key, const std::string& value);
