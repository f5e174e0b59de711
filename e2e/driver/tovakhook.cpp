// tovakhook.dll: brought into the program's process by the UI driver, because Wine does
// not let one process read another's menus. There it serves the driver's requests on a
// thread of its own, so it answers even while the program's thread waits on the port.
#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "hook_abi.h"
#include "json_text.h"

namespace {

using tovak::e2e::AppendJsonString;
using tovak::e2e::hook::kBlockName;
using tovak::e2e::hook::kDoneEventName;
using tovak::e2e::hook::kMagic;
using tovak::e2e::hook::kRequestEventName;
using tovak::e2e::hook::kTextCapacity;
using tovak::e2e::hook::ObjectName;
using tovak::e2e::hook::Op;
using tovak::e2e::hook::Request;
using tovak::e2e::hook::Status;

// Bounds that no real menu reaches; they keep a corrupt or cyclic menu from running away.
constexpr int kMaxMenuDepth = 8;
constexpr int kMaxMenuItems = 1024;

constexpr UINT kItemFields = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_STRING;

HWND TargetWindow(const Request& request) {
    return reinterpret_cast<HWND>(static_cast<UINT_PTR>(request.window));
}

// Reads the item's text with a buffer of the length the first call reports.
bool ReadItemText(HMENU menu, UINT position, UINT length, std::string& text) {
    text.assign(static_cast<std::size_t>(length) + 1, '\0');
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    info.dwTypeData = text.data();
    info.cch = length + 1;
    if (!GetMenuItemInfoA(menu, position, TRUE, &info)) {
        return false;
    }
    text.resize(strnlen(text.c_str(), text.size()));
    return true;
}

Status AppendMenuJson(HMENU menu, int depth, std::string& json) {
    if (depth > kMaxMenuDepth) {
        return Status::TooDeep;
    }
    const int count = GetMenuItemCount(menu);
    if (count < 0 || count > kMaxMenuItems) {
        return Status::MenuUnreadable;
    }
    json += '[';
    for (int position = 0; position < count; ++position) {
        const auto index = static_cast<UINT>(position);
        MENUITEMINFOA info{};
        info.cbSize = sizeof(info);
        info.fMask = kItemFields;
        if (!GetMenuItemInfoA(menu, index, TRUE, &info)) {
            return Status::MenuUnreadable;
        }
        std::string text;
        if (info.cch > 0 && !ReadItemText(menu, index, info.cch, text)) {
            return Status::MenuUnreadable;
        }
        if (position > 0) {
            json += ", ";
        }
        json += "{\"text\": ";
        AppendJsonString(json, text);
        json += ", \"id\": " + std::to_string(info.wID);
        json += ", \"state\": " + std::to_string(info.fState);
        json += ", \"separator\": ";
        json += (info.fType & MFT_SEPARATOR) ? "true" : "false";
        json += ", \"popup\": ";
        if (info.hSubMenu) {
            json += "true, \"items\": ";
            const Status inner = AppendMenuJson(info.hSubMenu, depth + 1, json);
            if (inner != Status::Ok) {
                return inner;
            }
        } else {
            json += "false";
        }
        json += '}';
    }
    json += ']';
    return Status::Ok;
}

// The menu bar of the window a request names.
Status FindMenuBar(const Request& request, HMENU& bar) {
    const HWND window = TargetWindow(request);
    if (!IsWindow(window)) {
        return Status::NoWindow;
    }
    bar = GetMenu(window);
    return bar ? Status::Ok : Status::NoMenu;
}

Status DescribeMenu(Request& request) {
    HMENU bar = nullptr;
    if (const Status found = FindMenuBar(request, bar); found != Status::Ok) {
        return found;
    }
    std::string json;
    const Status status = AppendMenuJson(bar, 0, json);
    if (status != Status::Ok) {
        return status;
    }
    if (json.size() > kTextCapacity) {
        return Status::TextTooLong;
    }
    std::memcpy(request.text, json.data(), json.size());
    request.textLength = static_cast<std::uint32_t>(json.size());
    return Status::Ok;
}

Status ReadMenuState(Request& request) {
    HMENU bar = nullptr;
    if (const Status found = FindMenuBar(request, bar); found != Status::Ok) {
        return found;
    }
    MENUITEMINFOA info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STATE;
    // By command: the search goes down through every pop-up of the bar.
    if (!GetMenuItemInfoA(bar, request.commandId, FALSE, &info)) {
        return Status::NoItem;
    }
    request.state = info.fState;
    return Status::Ok;
}

struct Handler {
    Op op;
    Status (*serve)(Request&);
};

constexpr Handler kHandlers[] = {
    {Op::DescribeMenu, DescribeMenu},
    {Op::MenuState, ReadMenuState},
};

Status Serve(Request& request) {
    for (const Handler& handler : kHandlers) {
        if (static_cast<std::uint32_t>(handler.op) == request.op) {
            return handler.serve(request);
        }
    }
    return Status::BadRequest;
}

// The serving thread's objects live as long as the process: the driver may come back
// at any time, and a later driver finds them by name.
struct Server {
    HANDLE mapping = nullptr;
    Request* block = nullptr;
    HANDLE request = nullptr;
    HANDLE done = nullptr;
};

Server server;
LONG serverStarted = 0;

DWORD WINAPI ServeRequests(void*) {
    for (;;) {
        if (WaitForSingleObject(server.request, INFINITE) != WAIT_OBJECT_0) {
            return 1;
        }
        Request& request = *server.block;
        request.textLength = 0;
        Status status = Status::BadRequest;
        if (request.magic == kMagic) {
            try {
                status = Serve(request);
            } catch (const std::bad_alloc&) {
                status = Status::OutOfMemory;
            } catch (...) {
                status = Status::MenuUnreadable;
            }
        }
        request.status = static_cast<std::uint32_t>(status);
        request.answered = request.sequence;
        SetEvent(server.done);
    }
}

HANDLE CreateNamedEvent(const char* what, DWORD pid) {
    return CreateEventA(nullptr, FALSE, FALSE, ObjectName(what, pid).c_str());
}

// Runs once, on the program's main thread inside the message hook. The DLL pins itself
// first: the hook is removed as soon as the driver sees the server, and that would
// otherwise unload the code the serving thread runs.
void StartServer() {
    if (InterlockedCompareExchange(&serverStarted, 1, 0) != 0) {
        return;
    }
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                            reinterpret_cast<LPCSTR>(&StartServer), &self)) {
        return;
    }
    const DWORD pid = GetCurrentProcessId();
    server.mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                        sizeof(Request), ObjectName(kBlockName, pid).c_str());
    if (!server.mapping) {
        return;
    }
    server.block = static_cast<Request*>(
        MapViewOfFile(server.mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Request)));
    if (!server.block) {
        return;
    }
    // The driver looks for the done event last, so it finds the block already there.
    server.request = CreateNamedEvent(kRequestEventName, pid);
    server.done = server.request ? CreateNamedEvent(kDoneEventName, pid) : nullptr;
    if (!server.done) {
        return;
    }
    if (const HANDLE thread = CreateThread(nullptr, 0, ServeRequests, nullptr, 0, nullptr)) {
        CloseHandle(thread);
    }
}

}  // namespace

// The WH_GETMESSAGE hook the driver sets on the program's main thread: its first call
// there starts the server; it never changes the message.
extern "C" __declspec(dllexport) LRESULT CALLBACK
    TovakHookGetMessage(int code, WPARAM wParam, LPARAM lParam) {
    if (code >= 0) {
        try {
            StartServer();
        } catch (...) {
            // Nothing may escape into the program's message loop; the driver reports
            // the server missing.
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
