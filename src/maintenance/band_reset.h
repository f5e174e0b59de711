// The RESET menu: the current band's settings, or every band's, back to the
// controller's factory defaults. Both work the controller's own front-panel
// dialogues and freeze the window during their waits.
#pragma once

// Long press of the current band's key, a question, then SET or CANCEL.
void ResetCurrentBand();

// Two questions, then "Lock" and "AtDefault"; refused while the motor runs.
void ResetAllBands();
