// The display panel and the beam LEDs, drawn from the status model.
#pragma once

#include <string>

// Line 1: mode and beam word (or the extra text, the elapsed motor counter);
// line 2: the frequency display. The lines are separated by one carriage return.
void RefreshDisplayPanel(const std::string& extra);

// The LED of the beam mode, dark on the blink phase.
void RefreshBeamLeds();
