// What a screen reader is told about the controls that say nothing by
// themselves: the panel's keys (buttons without text), its LEDs and step
// indicator (images), and the Adjust window's length fields. The names and
// roles come from one table; the values are read from the status model each
// time they are asked for, so they always say what the panel shows. The Win32
// shell only carries them to the reader.
#pragma once

#include <cstdint>
#include <string>

// Roles and states as Microsoft Active Accessibility numbers them.
namespace msaa {
constexpr std::uint32_t kRoleIndicator = 0x27;   // ROLE_SYSTEM_INDICATOR
constexpr std::uint32_t kRoleText = 0x2A;        // ROLE_SYSTEM_TEXT
constexpr std::uint32_t kRolePushButton = 0x2B;  // ROLE_SYSTEM_PUSHBUTTON
constexpr std::uint32_t kStateReadOnly = 0x40;   // STATE_SYSTEM_READONLY
}  // namespace msaa

enum class AccessWindow { kMain, kAdjust };

struct AccessReading {
    std::string name;  // ANSI, as every text of the program
    std::uint32_t role = 0;
    std::uint32_t state = 0;  // added to the states the control has by itself
    bool hasValue = false;
    std::string value;
};

// Whether the table describes the control (the others keep what the system
// says of them: the display panel's name is its own text).
bool IsDescribed(AccessWindow window, int controlId);

// The control's name, role and value as they stand now; false for a control
// the table does not describe.
bool ReadAccessible(AccessWindow window, int controlId, AccessReading& reading);

// Tells the platform of each LED and the step indicator whose value is no
// longer the one a screen reader was last told, once per change.
void AnnounceValueChanges();
