// The Adjust menu item: hands the port to the Adjust window and takes it back.
#pragma once

// Refused while the motor runs; otherwise the main poll and keep-alive stop
// while the window is open and start again when it closes.
void OpenAdjust();
