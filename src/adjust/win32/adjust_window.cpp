// The Adjust window: a modal window of the dialog-style class, run in its own
// message loop over the disabled main window. Each message goes to one handler
// of the core.
#include <windows.h>

#include "adjust/adjust_controls.h"
#include "adjust/adjust_poll.h"
#include "adjust/adjust_session.h"
#include "app/ids.h"
#include "app/texts.h"
#include "app/win32/shell.h"
#include "platform/platform.h"

namespace {

constexpr DWORD kAdjustStyle = WS_CAPTION | WS_SYSMENU;  // hidden until shown, fixed size
constexpr int kAdjustWidth = 304;
constexpr int kAdjustHeight = 229;

void CreateAdjustControls(HWND window) {
    for (std::size_t i = 0; i < kAdjustControlCount; ++i) {
        DescribeForReaders(CreateControl(window, kAdjustControls[i], shell.smallFont),
                           AccessWindow::kAdjust, kAdjustControls[i]);
    }
}

// Gives the main window back before this one goes, so that the system
// activates it, then ends the loop of RunDialog.
void CloseAdjust(HWND window, int code) {
    EnableWindow(GetWindow(window, GW_OWNER), TRUE);
    DestroyWindow(window);
    PostMessageA(nullptr, WM_QUIT, static_cast<WPARAM>(code), 0);
}

void OnInitDialog(HWND window) {
    shell.adjustWindow = window;
    CreateAdjustControls(window);
    OpenAdjustSession();
}

// Clicks only: the radio buttons, the Short button's other notifications and
// the IDOK and IDCANCEL that Enter and Esc produce do nothing.
void OnCommand(HWND window, WPARAM wParam) {
    if (HIWORD(wParam) != BN_CLICKED) {
        return;
    }
    switch (LOWORD(wParam)) {
        case id::kAdjustClose:
            CloseAdjust(window, 0);
            break;
        case id::kAdjustShort:
            AdjustStep(AdjustDirection::kShort);
            break;
        case id::kAdjustLong:
            AdjustStep(AdjustDirection::kLong);
            break;
        case id::kAdjustSet:
            AdjustWrite();
            break;
        default:
            break;
    }
}

// The window's timers still run here; after this nothing addresses it.
void OnDestroy() {
    EndAdjustSession();
    shell.adjustWindow = nullptr;
}

LRESULT CALLBACK AdjustWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog(window);
            return 0;
        case WM_COMMAND:
            OnCommand(window, wParam);
            return 0;
        case WM_TIMER:
            AdjustPoll(static_cast<int>(wParam));
            return 0;
        case WM_CLOSE:
            CloseAdjust(window, 0);
            return 0;
        case WM_DESTROY:
            OnDestroy();
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

}  // namespace

namespace platform {

int RunDialog(const std::string& name) {
    if (name != text::kAdjustDialog) {
        return 0;
    }
    HWND owner = shell.mainWindow;
    HWND window = CreateWindowExA(0, text::kDialogClass, text::kAdjustCaption, kAdjustStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, kAdjustWidth, kAdjustHeight, owner,
                                  nullptr, shell.instance, nullptr);
    shell.adjustWindow = window;
    // The class's own procedure has seen the creation messages; from here on
    // this window's messages are the Adjust window's.
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AdjustWindowProc));
    SendMessageA(window, WM_INITDIALOG, 0, 0);
    HICON icon = LoadIconA(shell.instance, MAKEINTRESOURCEA(id::kIconProgram));
    SendMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    ShowWindow(window, SW_SHOW);
    EnableWindow(owner, FALSE);

    // Messages of the disabled main window (painting) are dispatched here too.
    MSG message{};
    BOOL got = FALSE;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) {
        if (!IsDialogMessageA(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    // A quit that CloseAdjust did not post is the program's own: the main window
    // was closed under this one (which went with it). Taken here, it would leave
    // the program running without a window, holding its single-instance mutex.
    if (got == 0 && (IsWindow(window) || !IsWindow(owner))) {
        PostQuitMessage(static_cast<int>(message.wParam));
    }
    return static_cast<int>(message.wParam);
}

}  // namespace platform
