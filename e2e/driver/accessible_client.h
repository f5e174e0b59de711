// Reads a control's accessible object as a screen reader does: from this
// process, through oleacc, across to the program's own object or the system's
// standard one for the control.
#pragma once

#include <windows.h>

#include <ole2.h>
#include <oleacc.h>

#include <string>
#include <vector>

namespace tovak::e2e {

// What a reader hears of a control. A part the object does not give keeps its
// result code and stays empty.
struct AccessibleRead {
    HRESULT nameResult = E_FAIL;
    std::wstring name;
    HRESULT roleResult = E_FAIL;
    long role = 0;
    std::wstring roleText;
    HRESULT valueResult = E_FAIL;
    std::wstring value;
    HRESULT stateResult = E_FAIL;
    long state = 0;
};

class BstrText {
  public:
    BstrText() = default;
    BstrText(const BstrText&) = delete;
    BstrText& operator=(const BstrText&) = delete;
    ~BstrText() { SysFreeString(text_); }
    BSTR* Out() { return &text_; }
    std::wstring Text() const { return text_ ? std::wstring(text_, SysStringLen(text_)) : L""; }

  private:
    BSTR text_ = nullptr;
};

class VariantValue {
  public:
    VariantValue() { VariantInit(&value_); }
    VariantValue(const VariantValue&) = delete;
    VariantValue& operator=(const VariantValue&) = delete;
    ~VariantValue() { VariantClear(&value_); }
    VARIANT* Out() { return &value_; }
    bool IsLong() const { return value_.vt == VT_I4; }
    long Long() const { return value_.lVal; }

  private:
    VARIANT value_;
};

// Each part of what the object says of itself.
inline void ReadParts(IAccessible& object, AccessibleRead& read) {
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;

    BstrText name;
    read.nameResult = object.get_accName(self, name.Out());
    read.name = name.Text();
    VariantValue role;
    read.roleResult = object.get_accRole(self, role.Out());
    if (read.roleResult == S_OK && role.IsLong()) {
        read.role = role.Long();
        wchar_t text[128] = {};
        GetRoleTextW(static_cast<DWORD>(read.role), text, sizeof text / sizeof text[0]);
        read.roleText = text;
    }
    BstrText value;
    read.valueResult = object.get_accValue(self, value.Out());
    read.value = value.Text();
    VariantValue state;
    read.stateResult = object.get_accState(self, state.Out());
    if (read.stateResult == S_OK && state.IsLong()) {
        read.state = state.Long();
    }
}

// The object of the control's client area, as a reader asks for it.
inline HRESULT ObjectOf(HWND control, IAccessible*& object) {
    object = nullptr;
    const HRESULT found =
        AccessibleObjectFromWindow(control, static_cast<DWORD>(OBJID_CLIENT), __uuidof(IAccessible),
                                   reinterpret_cast<void**>(&object));
    if (SUCCEEDED(found) && object == nullptr) {
        return E_NOINTERFACE;
    }
    return found;
}

// The control's object, read once and let go; the result of asking for it.
inline HRESULT ReadAccessible(HWND control, AccessibleRead& read) {
    IAccessible* object = nullptr;
    const HRESULT found = ObjectOf(control, object);
    if (FAILED(found)) {
        return found;
    }
    ReadParts(*object, read);
    object->Release();
    return S_OK;
}

// The driver's main thread joins the multithreaded apartment once and stays, so
// the apartment lives from the first question to the driver's end: the reading
// threads come and go inside it, never making or ending it themselves.
inline HRESULT JoinApartmentOnce() {
    static HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    return joined;
}

// One control's object kept from one command to a later one, as a reader keeps
// the object it stands on while the program goes on (and may destroy the
// control).
class HeldAccessible {
  public:
    HeldAccessible() = default;
    HeldAccessible(const HeldAccessible&) = delete;
    HeldAccessible& operator=(const HeldAccessible&) = delete;
    ~HeldAccessible() { Reset(nullptr); }

    HRESULT Hold(HWND control) {
        const HRESULT joined = JoinApartmentOnce();
        if (FAILED(joined)) {
            return joined;
        }
        IAccessible* object = nullptr;
        const HRESULT found = ObjectOf(control, object);
        if (SUCCEEDED(found)) {
            Reset(object);
        }
        return found;
    }
    bool Read(AccessibleRead& read) const {
        if (object_ == nullptr) {
            return false;
        }
        ReadParts(*object_, read);
        return true;
    }

  private:
    void Reset(IAccessible* object) {
        if (object_ != nullptr) {
            object_->Release();
        }
        object_ = object;
    }

    IAccessible* object_ = nullptr;
};

struct AccessibleTask {
    HWND control = nullptr;
    HRESULT found = E_FAIL;  // what AccessibleObjectFromWindow gave
    AccessibleRead read;
};

inline DWORD WINAPI RunAccessibleTask(LPVOID context) {
    AccessibleTask& task = *static_cast<AccessibleTask*>(context);
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(joined)) {
        task.found = joined;
        return 0;
    }
    task.found = ReadAccessible(task.control, task.read);
    CoUninitialize();
    return 0;
}

// Reads the controls together, each on a thread of its own. The program
// answers a reader only between its port reads; questions asked together are
// answered in the same turn of its message loop instead of one turn each. The
// very first question is asked alone, on this thread: Wine loads the marshalling
// of IAccessible then, and threads doing that at once have called through a null
// pointer.
inline void ReadAccessibleAll(std::vector<AccessibleTask>& tasks) {
    static bool marshallingLoaded = false;
    std::vector<HANDLE> threads;
    std::size_t first = 0;
    const HRESULT joined = JoinApartmentOnce();
    if (!marshallingLoaded && !tasks.empty()) {
        tasks[0].found = FAILED(joined) ? joined : ReadAccessible(tasks[0].control, tasks[0].read);
        marshallingLoaded = SUCCEEDED(joined);
        first = 1;
    }
    for (std::size_t index = first; index < tasks.size(); ++index) {
        AccessibleTask& task = tasks[index];
        const HANDLE thread = CreateThread(nullptr, 0, RunAccessibleTask, &task, 0, nullptr);
        if (thread != nullptr) {
            threads.push_back(thread);
        } else {
            RunAccessibleTask(&task);
        }
    }
    // A hung program hangs a reader too; the harness's time-out ends the driver then.
    if (!threads.empty()) {
        WaitForMultipleObjects(static_cast<DWORD>(threads.size()), threads.data(), TRUE, INFINITE);
    }
    for (const HANDLE thread : threads) {
        CloseHandle(thread);
    }
}

}  // namespace tovak::e2e
