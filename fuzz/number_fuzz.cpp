// Any text through ParseNumber, and any double (the input's first eight bytes
// as its bit pattern, so the whole range: subnormals, infinities, NaN) through
// FormatNumber. For every value the text is at most 22 characters, has no
// leading blank, and has the fixed or the exponent form its magnitude gives it
// ("-" only for a negative value; fixed without trailing zeros; exponent form
// with fifteen digits and "e+015", "e-05"). For every finite value the text
// stands within half a unit of its fifteenth digit plus one rounding per
// scaling step (at most 4.4e-14 relative at the ends of the range, 9.4e-15 in
// the fixed range), and a fixed-form text reads back through ParseNumber
// within 1.2e-14 relative. `number_scan error 20000000` gives the worst seen:
// 8.2e-15 for the text (a subnormal) and 5.5e-15 read back.
//
// Exact round trip: every whole number of magnitude below 8388615093 (all
// 32-bit ones and about as many again) comes out as its plain decimal digits
// and reads back as itself; `number_scan whole 0 8388615094` checks each one
// and names 8388615093 -> "8388615092.99999" as the first that does not. From
// there on the digit-by-digit scaling can drift into the fifteenth digit, and
// sixteen digits take the exponent form. No such rule holds for values with a
// fraction, however few their digits: "6.9902" reads back one bit off, since
// ParseNumber adds its digits one by one.
#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "text/number.h"

namespace {

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

constexpr double kExactBelow = 8388615093.0;
constexpr std::size_t kLongestText = 22;
constexpr double kUnitRoundoff = 1.1102230246251565e-16;  // 2^-53
constexpr double kHalfFifteenthDigit = 5e-15;             // of a leading digit 1
constexpr double kFixedReadBack = 1.2e-14;

bool AllDigits(const std::string& text, std::size_t from, std::size_t to) {
    if (from >= to) {
        return false;
    }
    for (std::size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
    }
    return true;
}

// "d.dddddddddddddde+015", "d.dddddddddddddde-05": the exponent as written.
bool ExponentForm(const std::string& body, int& exponent) {
    if (body.size() < 16 + 3 || body[1] != '.' || body[16] != 'e' || !AllDigits(body, 0, 1) ||
        !AllDigits(body, 2, 16) || !AllDigits(body, 18, body.size())) {
        return false;
    }
    exponent = std::atoi(body.c_str() + 17);
    if (body[17] == '+') {
        return body.size() - 18 >= 3;
    }
    return body[17] == '-' && body.size() - 18 >= 2;
}

// "0", "42", "0.00012345": no trailing zero after the point, no lone point.
bool FixedForm(const std::string& body) {
    const std::size_t point = body.find('.');
    const std::size_t wholeEnd = point == std::string::npos ? body.size() : point;
    if (!AllDigits(body, 0, wholeEnd) || (body[0] == '0' && wholeEnd > 1)) {
        return false;
    }
    return point == std::string::npos ||
           (AllDigits(body, point + 1, body.size()) && body.back() != '0');
}

void CheckFormat(double x) {
    const std::string shown = FormatNumber(x);
    Check(!shown.empty() && shown.size() <= kLongestText && shown[0] != ' ');
    if (std::isnan(x)) {
        return;
    }
    const bool negative = shown[0] == '-';
    Check(negative == (x < 0));
    const std::string body = shown.substr(negative ? 1 : 0);
    int exponent = 0;
    const bool exponentForm = ExponentForm(body, exponent);
    Check(exponentForm || FixedForm(body));
    if (std::isinf(x)) {
        return;
    }
    const double magnitude = std::fabs(x);
    // Fixed from 0.0001 up to fifteen whole digits; the scaling's thresholds
    // sit a hair inside those powers of ten.
    if (magnitude >= 1e15) {
        Check(exponentForm && exponent >= 15);
    } else if (magnitude != 0 && magnitude < 0.99999e-4) {
        Check(exponentForm && exponent <= -5);
    } else if (magnitude >= 1.00001e-4 && magnitude <= 999999999999990.0) {
        Check(!exponentForm);
    }
    if (magnitude == 0) {
        Check(shown == "0");
        return;
    }
    // Measured in extended precision: the text's own value, not a double near it.
    const double scalingSteps = std::fabs(std::floor(std::log10(magnitude)));
    const long double textError =
        std::fabs(std::strtold(shown.c_str(), nullptr) - static_cast<long double>(x)) / magnitude;
    Check(textError <= kHalfFifteenthDigit + (scalingSteps + 25) * kUnitRoundoff);
    if (!exponentForm) {
        Check(std::fabs(ParseNumber(shown) - x) / magnitude <= kFixedReadBack);
    }
    if (magnitude < kExactBelow && x == std::trunc(x)) {
        char digits[32];
        std::snprintf(digits, sizeof digits, "%.0f", x);
        Check(shown == digits && ParseNumber(shown) == x);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckFormat(ParseNumber(text));
    if (size >= sizeof(double)) {
        double bits = 0;
        std::memcpy(&bits, data, sizeof bits);
        CheckFormat(bits);
    }
    return 0;
}
