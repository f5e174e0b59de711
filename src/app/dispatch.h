// Every key and menu item of the main window, mapped to one action.
#pragma once

#include <cstdint>

// wParam of WM_COMMAND: low word the command id, high word the notification code.
void DispatchCommand(std::uint32_t wParam);
