// The main window's menu tree, as data: the Win32 shell builds the menus from
// it and the tests read it against what the running program shows.
#pragma once

#include <cstddef>

// The eight menus whose handles the program keeps.
enum class MenuSlot { kBar, kBand, kCommand, kPower, kReset, kOptions, kPort, kKeepAlive, kNone };

struct MenuEntry {
    MenuSlot parent;  // the menu the entry is inserted into
    const char* text;
    int id;          // command id; 0 for a pop-up
    MenuSlot popup;  // the pop-up it opens, or kNone for a command item
    bool grayed;     // initial state
};

// In insertion order: each menu's entries from top to bottom (left to right on
// the bar). A pop-up's own entries follow the entry that opens it.
extern const MenuEntry kMenuTree[];
extern const std::size_t kMenuTreeSize;
