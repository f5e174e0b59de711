// The controller's wire protocol: messages are ASCII text ended by ";".
#pragma once

#include <string>

// Cuts the bytes of one read into messages and interprets each, in order. The
// unterminated end is kept and completed by the next read; a rest that grows
// past one full read without a terminator is noise and is dropped.
void ReceiveMessages(const std::string& bytes);

// Applies one complete message (without its ";") to the status model.
void InterpretMessage(const std::string& message);
