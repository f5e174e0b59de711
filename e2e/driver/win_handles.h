// Owners for the Win32 handles the driver opens, so every path out of a command closes them.
#pragma once

#include <windows.h>

#include <utility>

namespace tovak::e2e {

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle_, nullptr));
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(nullptr); }

    HANDLE Get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }
    void Reset(HANDLE handle) {
        if (handle_) {
            CloseHandle(handle_);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_ = nullptr;
};

// A view of a file mapping, unmapped when it goes.
class MappedView {
  public:
    MappedView() = default;
    MappedView(const MappedView&) = delete;
    MappedView& operator=(const MappedView&) = delete;
    ~MappedView() { Reset(nullptr); }

    void* Get() const { return view_; }
    void Reset(void* view) {
        if (view_) {
            UnmapViewOfFile(view_);
        }
        view_ = view;
    }

  private:
    void* view_ = nullptr;
};

// A message hook, removed when it goes.
class UniqueHook {
  public:
    explicit UniqueHook(HHOOK hook) : hook_(hook) {}
    UniqueHook(const UniqueHook&) = delete;
    UniqueHook& operator=(const UniqueHook&) = delete;
    ~UniqueHook() {
        if (hook_) {
            UnhookWindowsHookEx(hook_);
        }
    }
    explicit operator bool() const { return hook_ != nullptr; }

  private:
    HHOOK hook_;
};

class ScreenDc {
  public:
    ScreenDc() : dc_(GetDC(nullptr)) {}
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    ~ScreenDc() {
        if (dc_) {
            ReleaseDC(nullptr, dc_);
        }
    }
    HDC Get() const { return dc_; }

  private:
    HDC dc_;
};

}  // namespace tovak::e2e
