// The STEP key and menu item: the other tuning step of the band.
#pragma once

// By the unit the display ends in: "MHz" (larger step) the long press of DOWN,
// "mhz" (smaller step) the long press of UP, anything else nothing.
void ChangeStep();
