// The one serial connection to the controller.
#pragma once

#include <cstddef>
#include <string>

// Port names are opened from a 12-byte buffer; a longer name is refused, never
// shortened into the name of some other device.
constexpr std::size_t kMaxPortNameLength = 11;

// Opens the named port ("COM1" ... "COM9", "\\.\COM10" ... "\\.\COM16") with the
// controller's serial settings and asks for its status. A port that cannot be
// opened is reported and the current connection stays in use.
void ConnectPort(const std::string& name);

// Reads what has arrived on the open port, up to maxBytes, into buffer and
// returns the count. A port whose device has gone is not read: under Wine such
// a read would wait out its whole time-out on the processor, every tick.
std::size_t ReadConnectedPort(char* buffer, std::size_t maxBytes);

// Caption "Tovak Remote [COM12]", without the device prefix.
void ShowMainTitle(const std::string& label);
