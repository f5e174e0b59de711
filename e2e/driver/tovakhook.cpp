// tovakhook.dll: loaded into the program's process by the UI driver, because Wine does
// not let one process read another's menus. Its one export runs on a thread the driver
// creates there and answers a request block the driver reads back.
#include <windows.h>

#include <cstring>
#include <new>
#include <string>

#include "hook_abi.h"
#include "json_text.h"

namespace {

using tovak::e2e::AppendJsonString;
using tovak::e2e::hook::kMagic;
using tovak::e2e::hook::kTextCapacity;
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

Status DescribeMenu(Request& request) {
    const HWND window = TargetWindow(request);
    if (!IsWindow(window)) {
        return Status::NoWindow;
    }
    const HMENU bar = GetMenu(window);
    if (!bar) {
        return Status::NoMenu;
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
    const HWND window = TargetWindow(request);
    if (!IsWindow(window)) {
        return Status::NoWindow;
    }
    const HMENU bar = GetMenu(window);
    if (!bar) {
        return Status::NoMenu;
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

}  // namespace

extern "C" __declspec(dllexport) DWORD WINAPI TovakHookServe(void* block) {
    auto* request = static_cast<Request*>(block);
    if (!request || request->magic != kMagic) {
        return static_cast<DWORD>(Status::BadRequest);
    }
    request->textLength = 0;
    Status status;
    try {
        status = Serve(*request);
    } catch (const std::bad_alloc&) {
        status = Status::OutOfMemory;
    } catch (...) {
        status = Status::MenuUnreadable;
    }
    request->status = static_cast<std::uint32_t>(status);
    return static_cast<DWORD>(status);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
