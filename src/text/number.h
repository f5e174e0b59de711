// The program's own number-to-text and text-to-number routines. Everything the
// program shows, logs or stores as a number goes through these two.
#pragma once

#include <string>

// Up to 15 significant digits, no padding, no leading blank; exponent form
// outside the fixed range ("1.00000000000000e+015", "1.00000000000000e-05").
std::string FormatNumber(double value);

// Decimal ("-3.5"), "&H" hexadecimal or "&O" octal from the start of the text.
// Never fails: text that does not start with a number gives 0.
double ParseNumber(const std::string& text);
