// The request block that the driver writes into the program's process and that
// tovakhook.dll fills in there. Both sides are 32-bit builds of the same sources, so
// the block is laid out identically on each side.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovak::e2e::hook {

// The DLL sits beside the driver; its one export serves every request.
constexpr char kFileName[] = "tovakhook.dll";
constexpr char kServeExport[] = "TovakHookServe";

constexpr std::uint32_t kMagic = 0x4B564F54;  // "TOVK": guards against a stray call
constexpr std::size_t kTextCapacity = 60 * 1024;

enum class Op : std::uint32_t {
    DescribeMenu = 1,  // the whole menu bar of `window` as JSON in `text`
    MenuState = 2,     // fState of the item with command id `commandId` in `state`
};

enum class Status : std::uint32_t {
    Pending = 0,  // never touched by the hook
    Ok = 1,
    BadRequest,
    NoWindow,
    NoMenu,
    NoItem,
    MenuUnreadable,
    TooDeep,
    TextTooLong,
    OutOfMemory,
};

struct Request {
    std::uint32_t magic;
    std::uint32_t op;
    std::uint64_t window;  // the main window's HWND value
    std::uint32_t commandId;
    std::uint32_t status;
    std::uint32_t state;
    std::uint32_t textLength;
    char text[kTextCapacity];
};

}  // namespace tovak::e2e::hook
