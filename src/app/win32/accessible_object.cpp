// Screen readers ask a control for its accessible object with WM_GETOBJECT. The
// panel's keys and images, and the Adjust window's length fields, answer with
// an IAccessible of their own: name, role and value from the core's table
// (app/accessible.h), everything else (place, states, parent, hit-testing,
// the default action) from the system's standard object for the control.
// The controls keep their class, style, text and look: every other message
// goes to their class procedure unchanged.
//
// The accessibility libraries are loaded when a reader first asks, so a start
// without one costs nothing and the program imports no more DLLs than before.
#include <windows.h>

#include <ole2.h>
#include <oleacc.h>

#include <new>
#include <string>
#include <vector>

#include "app/accessible.h"
#include "app/win32/shell.h"

namespace {

constexpr const char* kOle = "ole32.dll";
constexpr const char* kOleAutomation = "oleaut32.dll";
constexpr const char* kOleAccessibility = "oleacc.dll";

using CoInitializeCall = HRESULT(WINAPI*)(LPVOID);
using LresultFromObjectCall = LRESULT(WINAPI*)(REFIID, WPARAM, LPUNKNOWN);
using CreateStdAccessibleObjectCall = HRESULT(WINAPI*)(HWND, LONG, REFIID, void**);
using SysAllocStringLenCall = BSTR(WINAPI*)(const OLECHAR*, UINT);

struct AccessLibraries {
    bool tried = false;
    LresultFromObjectCall lresultFromObject = nullptr;
    CreateStdAccessibleObjectCall createStdAccessibleObject = nullptr;
    SysAllocStringLenCall sysAllocStringLen = nullptr;
};
AccessLibraries libraries;

template <typename Call>
Call Procedure(HMODULE module, const char* name) {
    return module == nullptr
               ? nullptr
               : reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// Once, at the first question. The window thread joins a single-threaded
// apartment: readers' calls then arrive through its message loops, one at a
// time between the program's own messages, never on another thread.
bool AccessLibrariesLoaded() {
    if (!libraries.tried) {
        libraries.tried = true;
        const auto coInitialize = Procedure<CoInitializeCall>(LoadLibraryA(kOle), "CoInitialize");
        if (coInitialize != nullptr && SUCCEEDED(coInitialize(nullptr))) {
            const HMODULE accessibility = LoadLibraryA(kOleAccessibility);
            libraries.lresultFromObject =
                Procedure<LresultFromObjectCall>(accessibility, "LresultFromObject");
            libraries.createStdAccessibleObject = Procedure<CreateStdAccessibleObjectCall>(
                accessibility, "CreateStdAccessibleObject");
            libraries.sysAllocStringLen =
                Procedure<SysAllocStringLenCall>(LoadLibraryA(kOleAutomation), "SysAllocStringLen");
        }
    }
    return libraries.lresultFromObject != nullptr &&
           libraries.createStdAccessibleObject != nullptr && libraries.sysAllocStringLen != nullptr;
}

// The program's ANSI text as the reader's BSTR.
BSTR NewBstr(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0) {
        return libraries.sysAllocStringLen(L"", 0);
    }
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return libraries.sysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

bool IsSelf(const VARIANT& child) {
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// An answer's place holds nothing until there is an answer.
void Clear(BSTR* text) {
    *text = nullptr;
}

void Clear(VARIANT* variant) {
    variant->vt = VT_EMPTY;
}

AccessWindow WindowOf(HWND control) {
    return GetParent(control) == shell.adjustWindow ? AccessWindow::kAdjust : AccessWindow::kMain;
}

// One control's object. It holds the control's handle and id only and asks the
// core each time, so a reader that keeps it after the control has gone gets an
// error, never a stale answer.
class ControlAccessible final : public IAccessible {
  public:
    ControlAccessible(HWND control, IAccessible* standard)
        : control_(control),
          window_(WindowOf(control)),
          id_(GetDlgCtrlID(control)),
          standard_(standard) {}
    ~ControlAccessible() {
        if (standard_ != nullptr) {
            standard_->Release();
        }
    }
    ControlAccessible(const ControlAccessible&) = delete;
    ControlAccessible& operator=(const ControlAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (!IsEqualIID(iid, __uuidof(IUnknown)) && !IsEqualIID(iid, __uuidof(IDispatch)) &&
            !IsEqualIID(iid, __uuidof(IAccessible))) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IAccessible*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return static_cast<ULONG>(InterlockedIncrement(&references_));
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // Readers use IAccessible's own methods, not late binding.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        AccessReading reading;
        const HRESULT read = Read(child, name, reading);
        if (read != S_OK) {
            return read;
        }
        *name = NewBstr(reading.name);
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        AccessReading reading;
        const HRESULT read = Read(child, value, reading);
        if (read != S_OK) {
            return read;
        }
        if (!reading.hasValue) {
            return DISP_E_MEMBERNOTFOUND;
        }
        *value = NewBstr(reading.value);
        return *value != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        AccessReading reading;
        const HRESULT read = Read(child, role, reading);
        if (read != S_OK) {
            return read;
        }
        role->vt = VT_I4;
        role->lVal = static_cast<LONG>(reading.role);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        AccessReading reading;
        HRESULT read = Read(child, state, reading);
        if (read == S_OK) {
            read = standard_->get_accState(child, state);
        }
        if (read == S_OK && state->vt == VT_I4) {
            state->lVal |= static_cast<LONG>(reading.state);
        }
        return read;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return Connected() ? S_OK : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override {
        if (child == nullptr) {
            return E_POINTER;
        }
        *child = nullptr;
        return E_INVALIDARG;  // it has no children
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

    // The rest is the control's as the system sees it.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return Connected() ? standard_->get_accParent(parent) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return Connected() ? standard_->get_accDescription(child, text) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return Connected() ? standard_->get_accHelp(child, text) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return Connected() ? standard_->get_accHelpTopic(file, child, topic) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override {
        return Connected() ? standard_->get_accKeyboardShortcut(child, keys) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        return Connected() ? standard_->get_accFocus(focus) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return Connected() ? standard_->get_accSelection(selection) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return Connected() ? standard_->get_accDefaultAction(child, action) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return Connected() ? standard_->accSelect(flags, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        return Connected() ? standard_->accLocation(left, top, width, height, child)
                           : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return Connected() ? standard_->accNavigate(direction, start, end) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return Connected() ? standard_->accHitTest(x, y, child) : CO_E_OBJNOTCONNECTED;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return Connected() ? standard_->accDoDefaultAction(child) : CO_E_OBJNOTCONNECTED;
    }

  private:
    // The control is still there, under the same window and id: a handle whose
    // window has gone may since name another.
    bool Connected() const {
        const HWND parent =
            window_ == AccessWindow::kAdjust ? shell.adjustWindow : shell.mainWindow;
        return parent != nullptr && GetDlgItem(parent, id_) == control_;
    }
    // The core's reading of the control, for questions about the control itself.
    template <typename Out>
    HRESULT Read(const VARIANT& child, Out* out, AccessReading& reading) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        Clear(out);
        if (!IsSelf(child)) {
            return E_INVALIDARG;
        }
        if (!Connected() || !ReadAccessible(window_, id_, reading)) {
            return CO_E_OBJNOTCONNECTED;
        }
        return S_OK;
    }

    LONG references_ = 1;
    HWND control_;
    AccessWindow window_;
    int id_;
    IAccessible* standard_;  // never null: made before this object
};

// A new object for every question, as readers expect; 0 lets the class
// procedure answer (the system's standard object) when one cannot be made.
LRESULT AnswerReader(HWND control, WPARAM flags) {
    if (!AccessLibrariesLoaded()) {
        return 0;
    }
    IAccessible* standard = nullptr;
    if (FAILED(libraries.createStdAccessibleObject(control, OBJID_CLIENT, __uuidof(IAccessible),
                                                   reinterpret_cast<void**>(&standard))) ||
        standard == nullptr) {
        return 0;
    }
    auto* object = new (std::nothrow) ControlAccessible(control, standard);
    if (object == nullptr) {
        standard->Release();
        return 0;
    }
    const LRESULT reference = libraries.lresultFromObject(__uuidof(IAccessible), flags, object);
    object->Release();
    return reference > 0 ? reference : 0;
}

// The class procedure of each class subclassed here, the same for all its
// controls; a control whose procedure differs is left as it is.
WNDPROC buttonClassProc = nullptr;
WNDPROC staticClassProc = nullptr;

LRESULT DescribedControlMessage(WNDPROC classProc, HWND control, UINT message, WPARAM wParam,
                                LPARAM lParam) {
    // The object id is a 32-bit value, sign-extended in a 64-bit lParam.
    if (message == WM_GETOBJECT && static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT)) {
        const LRESULT reference = AnswerReader(control, wParam);
        if (reference != 0) {
            return reference;
        }
    }
    return CallWindowProcA(classProc, control, message, wParam, lParam);
}

LRESULT CALLBACK DescribedButtonProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    return DescribedControlMessage(buttonClassProc, control, message, wParam, lParam);
}

LRESULT CALLBACK DescribedStaticProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam) {
    return DescribedControlMessage(staticClassProc, control, message, wParam, lParam);
}

void Subclass(HWND control, WNDPROC subclassProc, WNDPROC& classProc) {
    const auto previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(subclassProc)));
    if (classProc == nullptr) {
        classProc = previous;
    } else if (classProc != previous) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
    }
}

}  // namespace

void DescribeForReaders(HWND control, AccessWindow window, const ControlEntry& entry) {
    if (control == nullptr || !IsDescribed(window, entry.id)) {
        return;
    }
    if (lstrcmpiA(entry.className, "BUTTON") == 0) {
        Subclass(control, DescribedButtonProc, buttonClassProc);
    } else if (lstrcmpiA(entry.className, "STATIC") == 0) {
        Subclass(control, DescribedStaticProc, staticClassProc);
    }
}

namespace platform {

// A reader that follows the control asks for its value again.
void AnnounceValueChange(int controlId) {
    const HWND control = GetDlgItem(shell.mainWindow, controlId);
    if (control != nullptr) {
        NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, control, OBJID_CLIENT, CHILDID_SELF);
    }
}

}  // namespace platform
