// The Adjust window's exchange with the controller: what it sends when it
// opens, on its buttons and when it closes.
#pragma once

enum class AdjustDirection { kShort, kLong };

// On opening, once the controls exist: lock the controller, mark the display
// panel, fill the window from the kept tables and start the window's timers.
void OpenAdjustSession();

// Short and Long: one step of the selected element.
void AdjustStep(AdjustDirection direction);

// Set: store the selected element's length.
void AdjustWrite();

// On closing: two long POWER presses one second apart, then the poll stops.
void EndAdjustSession();

// 0 to 5 for the first checked of Ele1 to Ele6, 6 otherwise (ALL).
int SelectedElement();
