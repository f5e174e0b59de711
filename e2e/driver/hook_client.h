// Runs tovakhook.dll's export inside the program's process. Wine lets no process read
// another's menus, so the driver loads its DLL there (a remote thread on LoadLibraryA)
// and then calls the export the same way, handing it a request block in that process.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "hook_abi.h"
#include "win_handles.h"

namespace tovak::e2e {

class HookClient {
  public:
    // Fills `request` (op and fields already set) from inside the process owning
    // `window`. Returns an empty string on success, else what went wrong.
    std::string Call(HWND window, hook::Request& request) {
        DWORD pid = 0;
        if (!GetWindowThreadProcessId(window, &pid) || pid == 0) {
            return "the main window has gone";
        }
        std::string error = Attach(pid);
        if (!error.empty()) {
            return error;
        }
        request.magic = hook::kMagic;
        request.window = reinterpret_cast<UINT_PTR>(window);
        request.status = static_cast<std::uint32_t>(hook::Status::Pending);
        request.textLength = 0;

        RemoteMemory block(process_.Get(), sizeof(hook::Request));
        if (!block.Get()) {
            return "cannot allocate memory in the program: " + LastError();
        }
        if (!WriteProcessMemory(process_.Get(), block.Get(), &request, sizeof(request), nullptr)) {
            return "cannot write the request into the program: " + LastError();
        }
        DWORD exitCode = 0;
        error = RunRemote(remoteServe_, block.Get(), exitCode);
        if (!error.empty()) {
            block.Release();  // the thread may still write to it
            return error;
        }
        SIZE_T read = 0;
        if (!ReadProcessMemory(process_.Get(), block.Get(), &request, sizeof(request), &read) ||
            read != sizeof(request)) {
            return "cannot read the answer back from the program: " + LastError();
        }
        if (request.textLength > hook::kTextCapacity) {
            return "the hook's answer is malformed";
        }
        return {};
    }

  private:
    static constexpr DWORD kLoadTimeoutMs = 10000;
    static constexpr DWORD kCallTimeoutMs = 5000;

    static std::string LastError() { return "error " + std::to_string(GetLastError()); }

    std::string RunRemote(UINT_PTR entry, void* argument, DWORD& exitCode) {
        UniqueHandle thread(CreateRemoteThread(process_.Get(), nullptr, 0,
                                               reinterpret_cast<LPTHREAD_START_ROUTINE>(entry),
                                               argument, 0, nullptr));
        if (!thread) {
            return "cannot start a thread in the program: " + LastError();
        }
        if (WaitForSingleObject(thread.Get(), kCallTimeoutMs) != WAIT_OBJECT_0) {
            return "the thread in the program did not finish within " +
                   std::to_string(kCallTimeoutMs) + " ms";
        }
        if (!GetExitCodeThread(thread.Get(), &exitCode)) {
            return "cannot read the thread's exit code: " + LastError();
        }
        return {};
    }

    bool AttachedTo(DWORD pid) const {
        return pid_ == pid && process_ && remoteServe_ != 0 &&
               WaitForSingleObject(process_.Get(), 0) == WAIT_TIMEOUT;
    }

    std::string Attach(DWORD pid) {
        if (AttachedTo(pid)) {
            return {};
        }
        pid_ = 0;
        remoteServe_ = 0;
        process_.Reset(OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                       PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE |
                                       SYNCHRONIZE,
                                   FALSE, pid));
        if (!process_) {
            return "cannot open the program's process: " + LastError();
        }
        std::string error = LoadLocalCopy();
        if (!error.empty()) {
            return error;
        }
        // LoadLibraryA lives at the same address in every 32-bit process of the prefix.
        const auto loadLibrary = reinterpret_cast<UINT_PTR>(FindLoadLibrary());
        if (!loadLibrary) {
            return "cannot find LoadLibraryA";
        }
        const std::size_t pathSize = hookPath_.size() + 1;
        RemoteMemory path(process_.Get(), pathSize);
        if (!path.Get() ||
            !WriteProcessMemory(process_.Get(), path.Get(), hookPath_.c_str(), pathSize, nullptr)) {
            return "cannot pass the hook's path to the program: " + LastError();
        }
        DWORD remoteBase = 0;
        error = RunRemote(loadLibrary, path.Get(), remoteBase);
        if (!error.empty()) {
            path.Release();
            return error;
        }
        if (remoteBase == 0) {
            return "the program could not load " + hookPath_;
        }
        // The export sits at the same offset from the module base in both copies.
        remoteServe_ = static_cast<UINT_PTR>(remoteBase) + serveOffset_;
        pid_ = pid;
        return {};
    }

    static FARPROC FindLoadLibrary() {
        for (const char* module : {"kernelbase.dll", "kernel32.dll"}) {
            if (const HMODULE handle = GetModuleHandleA(module)) {
                if (const FARPROC proc = GetProcAddress(handle, "LoadLibraryA")) {
                    return proc;
                }
            }
        }
        return nullptr;
    }

    // The driver's own copy of the DLL, loaded once, tells the export's offset.
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
        const FARPROC serve = GetProcAddress(module, hook::kServeExport);
        if (!serve) {
            FreeLibrary(module);
            return std::string(hook::kFileName) + " has no export " + hook::kServeExport;
        }
        localModule_ = module;
        hookPath_ = path;
        serveOffset_ = reinterpret_cast<UINT_PTR>(serve) - reinterpret_cast<UINT_PTR>(module);
        return {};
    }

    HMODULE localModule_ = nullptr;  // kept loaded for the driver's lifetime
    std::string hookPath_;
    UINT_PTR serveOffset_ = 0;
    DWORD pid_ = 0;
    UniqueHandle process_;
    UINT_PTR remoteServe_ = 0;
};

}  // namespace tovak::e2e
