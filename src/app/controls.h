// The controls of the windows, as data, in creation order.
#pragma once

#include <cstddef>
#include <cstdint>

// Window styles the table uses, with their Win32 values.
namespace style {
constexpr std::uint32_t kChild = 0x40000000;       // WS_CHILD
constexpr std::uint32_t kVisible = 0x10000000;     // WS_VISIBLE
constexpr std::uint32_t kDisabled = 0x08000000;    // WS_DISABLED
constexpr std::uint32_t kBitmap = 0x0000000E;      // SS_BITMAP
constexpr std::uint32_t kClientEdge = 0x00000200;  // WS_EX_CLIENTEDGE
constexpr std::uint32_t kGroup = 0x00020000;       // WS_GROUP
constexpr std::uint32_t kTabStop = 0x00010000;     // WS_TABSTOP
constexpr std::uint32_t kPushButton = 0x00000000;  // BS_PUSHBUTTON
constexpr std::uint32_t kDefaultButton = 0x0001;   // BS_DEFPUSHBUTTON
constexpr std::uint32_t kAutoRadio = 0x0009;       // BS_AUTORADIOBUTTON
constexpr std::uint32_t kNotify = 0x4000;          // BS_NOTIFY
constexpr std::uint32_t kShown = kChild | kVisible;
constexpr std::uint32_t kImage = kChild | kVisible | kBitmap;
}  // namespace style

struct ControlEntry {
    int id;
    const char* className;
    const char* text;
    std::uint32_t exStyle;
    std::uint32_t style;
    int x;
    int y;
    int width;
    int height;
    int bitmap;  // resource id of the image it shows, 0 for none
};

extern const ControlEntry kMainControls[];
extern const std::size_t kMainControlCount;

// The main window's control with this id in the table, or nullptr.
const ControlEntry* FindMainControl(int controlId);
