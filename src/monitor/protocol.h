// The controller's wire protocol: messages are ASCII text ended by ";".
#pragma once

#include <functional>
#include <string>

// Cuts the bytes of one read into messages and hands each, without its ";",
// to interpret, in order. The unterminated end is kept in app.pendingMessage
// and completed by the next read, whichever window reads it; a rest that grows
// past one full read without a terminator is noise and is dropped. If the port
// is switched or closed while a message's box is open, the rest of the read
// belongs to a connection that is gone and is dropped.
void SplitMessages(const std::string& bytes,
                   const std::function<void(const std::string&)>& interpret);

// The main window's receive step: SplitMessages with InterpretMessage, with
// app.interpreting set and the panel's images held meanwhile.
void ReceiveMessages(const std::string& bytes);

// Applies one complete message (without its ";"): a data message by its first
// two characters, an event by its first three, or the completion "AtComplete"
// as a whole. Anything else is ignored.
void InterpretMessage(const std::string& message);
