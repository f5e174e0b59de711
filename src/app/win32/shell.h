// The Win32 shell's own state: windows, GDI objects, menus and images. The
// rules of the program live in the core; this side only turns window messages
// into calls of it and carries out what it asks through the platform seam.
#pragma once

#include <windows.h>

#include <array>

#include "app/accessible.h"
#include "app/controls.h"
#include "app/menu_tree.h"

constexpr std::size_t kMenuCount = 8;
constexpr std::size_t kPanelImageCount = 14;
constexpr std::size_t kStatusImageCount = 9;

struct ShellState {
    HINSTANCE instance = nullptr;
    HWND mainWindow = nullptr;
    HWND adjustWindow = nullptr;  // the open Adjust window, null when there is none
    HFONT panelFont = nullptr;
    HFONT smallFont = nullptr;
    HBRUSH backgroundBrush = nullptr;
    HBRUSH displayBrush = nullptr;          // the core's, as it last chose (null: the system's)
    std::array<HMENU, kMenuCount> menus{};  // indexed by MenuSlot
    std::array<HBITMAP, kPanelImageCount> panelImages{};
    std::array<HBITMAP, kStatusImageCount> statusImages{};  // bitmaps 102 to 110
};

extern ShellState shell;

HMENU& Menu(MenuSlot slot);

// One control of a table, created under parent and given its font (no redraw).
HWND CreateControl(HWND parent, const ControlEntry& control, HFONT font);

// A control the core describes to screen readers answers them with its own
// accessible object from now on; any other is left as it is.
void DescribeForReaders(HWND control, AccessWindow window, const ControlEntry& entry);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK PanelColourProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
