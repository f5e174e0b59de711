// The main window: the front-panel picture with its keys, LEDs, display panel
// and step indicator. Each message goes to one handler of the core.
#include <windows.h>

#include "app/controls.h"
#include "app/dispatch.h"
#include "app/ids.h"
#include "app/session.h"
#include "app/win32/shell.h"
#include "monitor/poll.h"

namespace {

void CreateControls(HWND window) {
    std::size_t image = 0;
    for (std::size_t i = 0; i < kMainControlCount; ++i) {
        const ControlEntry& control = kMainControls[i];
        HWND child = CreateControl(window, control, shell.panelFont);
        DescribeForReaders(child, AccessWindow::kMain, control);
        if (control.bitmap != 0 && image < kPanelImageCount) {
            HBITMAP bitmap =
                static_cast<HBITMAP>(LoadImageA(shell.instance, MAKEINTRESOURCEA(control.bitmap),
                                                IMAGE_BITMAP, 0, 0, LR_DEFAULTSIZE));
            shell.panelImages[image++] = bitmap;
            SendMessageA(child, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap));
        }
    }
}

void OnCreate(HWND window) {
    shell.mainWindow = window;
    SetMenu(window, Menu(MenuSlot::kBar));
    CreateControls(window);
    StartSession();
}

void OnDestroy(HWND window) {
    EndSession();
    SetMenu(window, nullptr);
    for (HBITMAP& bitmap : shell.panelImages) {
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
            bitmap = nullptr;
        }
    }
}

}  // namespace

HWND CreateControl(HWND parent, const ControlEntry& control, HFONT font) {
    HWND child = CreateWindowExA(control.exStyle, control.className, control.text, control.style,
                                 control.x, control.y, control.width, control.height, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(control.id)),
                                 shell.instance, nullptr);
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    return child;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreate(window);
            return 0;
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            OnDestroy(window);
            return 0;
        case WM_COMMAND:
            DispatchCommand(static_cast<std::uint32_t>(wParam));
            return 0;
        case WM_TIMER:
            PollTick(static_cast<int>(wParam));
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// The display panel is drawn white on the display brush; every other control
// keeps the system colours.
LRESULT CALLBACK PanelColourProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CTLCOLORSTATIC && shell.displayBrush != nullptr &&
        reinterpret_cast<HWND>(lParam) == GetDlgItem(window, id::kDisplayPanel)) {
        HDC context = reinterpret_cast<HDC>(wParam);
        SetBkMode(context, TRANSPARENT);
        SetTextColor(context, RGB(255, 255, 255));
        return reinterpret_cast<LRESULT>(shell.displayBrush);
    }
    return MainWindowProc(window, message, wParam, lParam);
}
