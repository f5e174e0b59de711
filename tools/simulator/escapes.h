// The escapes a script uses to write bytes that a text line cannot hold.
#pragma once

#include <string>

namespace tovaksim {

// Turns \r \n \t \\ and \xHH (exactly two hex digits) into their bytes; every other
// character stands for itself. Returns false with a reason on a malformed escape,
// so a typing error in a script is reported instead of sent to the program.
bool DecodeEscapes(const std::string& text, std::string& bytes, std::string& error);

// Lower-case hex, two digits a byte, no separators: the record file's form.
std::string HexBytes(const std::string& bytes);

}  // namespace tovaksim
