// The controller's wire protocol: messages are ASCII text ended by ";".
#pragma once

#include <string>

// Cuts the bytes of one read into messages and interprets each, in order. The
// unterminated end is kept and completed by the next read; a rest that grows
// past one full read without a terminator is noise and is dropped. While the
// messages of a read are interpreted, app.interpreting is set.
void ReceiveMessages(const std::string& bytes);

// Applies one complete message (without its ";"): a data message by its first
// two characters, an event by its first three, or the completion "AtComplete"
// as a whole. Anything else is ignored.
void InterpretMessage(const std::string& message);
