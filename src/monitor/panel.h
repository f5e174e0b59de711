// The display panel and the LEDs, drawn from the status model.
#pragma once

#include <cstdint>
#include <string>

// Background of the display panel (COLORREF 0x00BBGGRR).
constexpr std::uint32_t kDisplayColourOn = 0x7F1E05;   // RGB(5,30,127)
constexpr std::uint32_t kDisplayColourOff = 0x050505;  // RGB(5,5,5)

// A new background for the display panel; the brush it replaces is deleted
// once the panel no longer paints with it.
void ReplaceDisplayBrush(std::uint32_t colour);
void ReleaseDisplayBrush();

// Line 1: mode and beam word (or the extra text, the elapsed motor counter);
// line 2: the frequency display. The lines are separated by one carriage return.
void RefreshDisplayPanel(const std::string& extra);

// The LED of the beam mode, dark on the blink phase.
void RefreshBeamLeds();

// Lights the LED of one band key (0 to 7) and darkens the other seven; any
// other key darkens all eight.
void RefreshBandLeds(int litKey);
