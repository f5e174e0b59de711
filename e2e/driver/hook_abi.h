// What the driver and tovakhook.dll share. The DLL is brought into the program's process
// by a message hook on its main thread; there it starts one thread of its own that serves
// requests put into a named shared block, each announced and answered with a named event.
// Both sides are builds of the same sources for the same architecture, and the block
// holds only fixed-width fields, so it is laid out alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovak::e2e::hook {

// The DLL sits beside the driver.
constexpr char kFileName[] = "tovakhook.dll";
constexpr char kHookProcExport[] = "TovakHookGetMessage";

constexpr std::uint32_t kMagic = 0x4B564F54;  // "TOVK": guards against a stray request
constexpr std::size_t kTextCapacity = std::size_t{60} * 1024;

// Named objects, one set per program process.
constexpr char kBlockName[] = "block";
constexpr char kRequestEventName[] = "request";
constexpr char kDoneEventName[] = "done";

inline std::string ObjectName(const char* what, unsigned long pid) {
    return "TovakHook." + std::to_string(pid) + "." + what;
}

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
    std::uint32_t sequence;  // set by the driver for each request
    std::uint32_t answered;  // the sequence the hook answered last
    std::uint32_t op;
    std::uint64_t window;  // the main window's HWND value
    std::uint32_t commandId;
    std::uint32_t status;
    std::uint32_t state;
    std::uint32_t textLength;
    char text[kTextCapacity];
};

}  // namespace tovak::e2e::hook
