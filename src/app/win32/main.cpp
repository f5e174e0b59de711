// Start-up: fonts, brush, menus, window classes, the main window and the
// message loop. Creating the main window starts the session.
#include <windows.h>

#include "app/ids.h"
#include "app/state.h"
#include "app/texts.h"
#include "app/win32/shell.h"

ShellState shell;

HMENU& Menu(MenuSlot slot) {
    return shell.menus[static_cast<std::size_t>(slot)];
}

namespace {

constexpr int kPanelFontHeight = -19;
constexpr int kSmallFontHeight = -13;
constexpr UINT kClassStyle = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
constexpr DWORD kMainStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kMainWidth = 765;
constexpr int kMainHeight = 287;

HFONT CreatePanelFont(int height) {
    return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_STROKE_PRECIS, CLIP_STROKE_PRECIS, DRAFT_QUALITY,
                       FIXED_PITCH | FF_MODERN, "Consolas");
}

void BuildMenus() {
    Menu(MenuSlot::kBar) = CreateMenu();
    for (std::size_t slot = 1; slot < kMenuCount; ++slot) {
        shell.menus[slot] = CreatePopupMenu();
    }
    for (std::size_t i = 0; i < kMenuTreeSize; ++i) {
        const MenuEntry& entry = kMenuTree[i];
        MENUITEMINFOA item{};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STRING | MIIM_ID | MIIM_STATE | MIIM_SUBMENU;
        item.fState = entry.grayed ? MFS_GRAYED : MFS_ENABLED;
        item.wID = static_cast<UINT>(entry.id);
        item.hSubMenu = entry.popup == MenuSlot::kNone ? nullptr : Menu(entry.popup);
        item.dwTypeData = const_cast<char*>(entry.text);
        HMENU parent = Menu(entry.parent);
        InsertMenuItemA(parent, static_cast<UINT>(GetMenuItemCount(parent)), TRUE, &item);
    }
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterWindowClass(const char* name, WNDPROC procedure, HICON icon, HICON smallIcon) {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = kClassStyle;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = shell.instance;
    windowClass.hIcon = icon;
    windowClass.hIconSm = smallIcon;
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = shell.backgroundBrush;
    windowClass.lpszClassName = name;
    RegisterClassExA(&windowClass);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    shell.instance = instance;
    shell.panelFont = CreatePanelFont(kPanelFontHeight);
    shell.smallFont = CreatePanelFont(kSmallFontHeight);
    shell.backgroundBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    BuildMenus();
    RegisterWindowClass(text::kDialogClass, PlainWindowProc, LoadIconA(nullptr, IDI_APPLICATION),
                        LoadIconA(nullptr, IDI_WINLOGO));
    InitialiseState();
    BuildFilePaths();

    HICON programIcon = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(id::kIconProgram), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
    HICON smallIcon = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(id::kIconProgram),
                                                    IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                    GetSystemMetrics(SM_CYSMICON), 0));
    RegisterWindowClass(text::kMainClass, PanelColourProc, programIcon, smallIcon);

    // cppcheck-suppress ignoredReturnValue ; not examined, as no window creation is
    CreateWindowExA(0, text::kMainClass, text::kProgramTitle, kMainStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, kMainWidth, kMainHeight, nullptr, nullptr, instance, nullptr);

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    app = AppState{};
    ExitProcess(0);
}
