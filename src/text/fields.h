// Fixed-width fields of a message, taken by character position. A field that
// runs past the end of the text yields the characters that are there, never an
// error: short and broken messages are taken as far as they go.
#pragma once

#include <cstddef>
#include <string>

// The first count characters (the whole text if it is shorter).
std::string FirstChars(const std::string& text, std::size_t count);

// The last count characters (the whole text if it is not longer).
std::string LastChars(const std::string& text, std::size_t count);

// count characters from position (counted from 1); empty if the text ends
// before it.
std::string CharsAt(const std::string& text, std::size_t position, std::size_t count);
