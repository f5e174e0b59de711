// The Adjust window's own poll of the port, while the main poll is stopped.
#pragma once

#include <string>

// Timer 1 asks once for the lengths; timer 0 reads up to 100 bytes, interprets
// every complete message and redraws the display panel.
void AdjustPoll(int timerId);

// Motor running time in tenths of a second, as three digits ("001"); the
// tenths are rounded to single precision before they are cut to a whole.
std::string AdjustElapsedCounter();
