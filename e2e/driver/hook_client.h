// Asks tovakhook.dll, inside the program's process, to read the menus there: Wine lets no
// process read another's. The DLL is brought in by a WH_GETMESSAGE hook on the program's
// main thread, which loads it on that thread's next message; it then serves requests on
// a thread of its own through a named shared block and two named events.
//
// Not a remote thread on LoadLibraryA: under Wine the target process creates such a
// thread in a signal handler, and when that signal lands while the program's thread is
// inside malloc (painting, say) the process deadlocks for good.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "hook_abi.h"
#include "win_handles.h"

namespace tovak::e2e {

class HookClient {
  public:
    // Fills `request` (op and commandId already set) from inside the process owning
    // `window`. Returns an empty string on success, else what went wrong.
    std::string Call(HWND window, hook::Request& request) {
        std::string error = Connect(window);
        if (!error.empty()) {
            return error;
        }
        auto& block = *static_cast<hook::Request*>(view_.Get());
        const std::uint32_t sequence = ++sequence_;
        block.magic = hook::kMagic;
        block.op = request.op;
        block.window = reinterpret_cast<UINT_PTR>(window);
        block.commandId = request.commandId;
        block.status = static_cast<std::uint32_t>(hook::Status::Pending);
        block.sequence = sequence;
        ResetEvent(done_.Get());  // a late answer to an abandoned request
        SetEvent(request_.Get());

        const DWORD start = GetTickCount();
        for (;;) {
            const DWORD waited = GetTickCount() - start;
            if (waited >= kCallTimeoutMs ||
                WaitForSingleObject(done_.Get(), kCallTimeoutMs - waited) != WAIT_OBJECT_0) {
                return "the hook in the program did not answer within " +
                       std::to_string(kCallTimeoutMs) + " ms";
            }
            if (block.answered == sequence) {
                break;
            }
        }
        request.status = block.status;
        request.state = block.state;
        request.textLength = block.textLength;
        if (request.textLength > hook::kTextCapacity) {
            return "the hook's answer is malformed";
        }
        std::memcpy(request.text, block.text, request.textLength);
        return {};
    }

  private:
    static constexpr DWORD kInjectTimeoutMs = 5000;
    static constexpr DWORD kCallTimeoutMs = 5000;
    static constexpr DWORD kPollStepMs = 10;
    static constexpr DWORD kRepostMs = 500;

    static std::string LastError() { return "error " + std::to_string(GetLastError()); }

    bool ConnectedTo(DWORD pid) const {
        return pid_ == pid && view_.Get() && WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
    }

    void Disconnect() {
        pid_ = 0;
        view_.Reset(nullptr);
        mapping_.Reset(nullptr);
        request_.Reset(nullptr);
        done_.Reset(nullptr);
        process_.Reset(nullptr);
    }

    std::string Connect(HWND window) {
        DWORD pid = 0;
        const DWORD thread = GetWindowThreadProcessId(window, &pid);
        if (thread == 0 || pid == 0) {
            return "the main window has gone";
        }
        if (ConnectedTo(pid)) {
            return {};
        }
        Disconnect();
        // Held to notice the process ending: a new one may get the same id.
        process_.Reset(OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (!process_) {
            return "cannot open the program's process: " + LastError();
        }
        if (!OpenServer(pid)) {
            std::string error = Inject(window, thread, pid);
            if (!error.empty()) {
                Disconnect();
                return error;
            }
        }
        pid_ = pid;
        sequence_ = GetTickCount();  // unlike any sequence an earlier driver used
        return {};
    }

    // The server's objects, if its DLL already runs in process `pid`.
    bool OpenServer(DWORD pid) {
        done_.Reset(OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE,
                               hook::ObjectName(hook::kDoneEventName, pid).c_str()));
        request_.Reset(OpenEventA(EVENT_MODIFY_STATE, FALSE,
                                  hook::ObjectName(hook::kRequestEventName, pid).c_str()));
        mapping_.Reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE,
                                        hook::ObjectName(hook::kBlockName, pid).c_str()));
        if (!done_ || !request_ || !mapping_) {
            return false;
        }
        view_.Reset(
            MapViewOfFile(mapping_.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(hook::Request)));
        return view_.Get() != nullptr;
    }

    std::string Inject(HWND window, DWORD thread, DWORD pid) {
        std::string error = LoadLocalCopy();
        if (!error.empty()) {
            return error;
        }
        const UniqueHook hook(SetWindowsHookExA(WH_GETMESSAGE, hookProc_, localModule_, thread));
        if (!hook) {
            return "cannot hook the program's thread: " + LastError();
        }
        // The hook runs when the thread next takes a message: give it one, again now and
        // then in case the first was taken before the hook was in place.
        const DWORD start = GetTickCount();
        DWORD lastPost = 0;
        for (;;) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed == 0 || elapsed - lastPost >= kRepostMs) {
                PostMessageA(window, WM_NULL, 0, 0);
                lastPost = elapsed;
            }
            if (OpenServer(pid)) {
                return {};
            }
            if (elapsed >= kInjectTimeoutMs) {
                return "the hook did not start in the program within " +
                       std::to_string(kInjectTimeoutMs) + " ms (its thread takes no messages)";
            }
            Sleep(kPollStepMs);
        }
    }

    // The driver's own copy of the DLL gives the module and procedure the hook names.
    std::string LoadLocalCopy() {
        if (localModule_) {
            return {};
        }
        char exePath[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameA(nullptr, exePath, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return "cannot tell where the driver lives";
        }
        std::string path(exePath, length);
        const std::size_t slash = path.find_last_of("\\/");
        path.erase(slash == std::string::npos ? 0 : slash + 1);
        path += hook::kFileName;
        const HMODULE module = LoadLibraryA(path.c_str());
        if (!module) {
            return "cannot load " + path + ": " + LastError();
        }
        const auto proc = reinterpret_cast<HOOKPROC>(
            reinterpret_cast<void*>(GetProcAddress(module, hook::kHookProcExport)));
        if (!proc) {
            FreeLibrary(module);
            return std::string(hook::kFileName) + " has no export " + hook::kHookProcExport;
        }
        localModule_ = module;
        hookProc_ = proc;
        return {};
    }

    HMODULE localModule_ = nullptr;  // kept loaded for the driver's lifetime
    HOOKPROC hookProc_ = nullptr;
    DWORD pid_ = 0;
    std::uint32_t sequence_ = 0;
    UniqueHandle process_;
    UniqueHandle mapping_;
    UniqueHandle request_;
    UniqueHandle done_;
    MappedView view_;
};

}  // namespace tovak::e2e
