// Sending one command to the controller, and the message boxes of the program.
#pragma once

#include <string>

// Shows the code in the command field, writes it with ";" to the port and logs
// it; with no port open it reports "COM port is unavailable" instead. Once the
// session has ended it does nothing.
void SendCommand(const std::string& code);

// A box without owner; the answer goes to app.messageAnswer. Once the session
// has ended no box is shown and the answer is box::kNoAnswer.
void ShowMessage(const std::string& text, const std::string& caption, unsigned style);
