#include "text/number.h"

#include <cmath>
#include <cstdint>
#include <cstdio>

namespace {

constexpr int kDigitCount = 15;

// The scaling bounds sit just inside [1, 10) so that rounding the fifteenth
// digit can never carry out of the first one.
const double kLowerBound = 1.0 - 9.0 * std::ldexp(1.0, -53);  // nearest double to 0.999999999999999
const double kUpperBound = 10.0 - 6.0 * std::ldexp(1.0, -49);  // nearest double to 9.99999999999999

struct DigitString {
    char digits[kDigitCount + 1];  // fifteen decimal digits and a terminator
    int position;                  // the value is 0.d1d2...d15 x 10^position
    bool negative;
};

DigitString ToDigits(double x) {
    DigitString result{};
    result.position = 0;
    result.negative = false;
    if (x == 0.0) {
        for (int i = 0; i < kDigitCount; ++i) {
            result.digits[i] = '0';
        }
        result.digits[kDigitCount] = '\0';
        return result;
    }
    if (x < 0) {
        result.negative = true;
        x = -x;
    }
    int position = 1;
    // Infinity and NaN never reach the program's texts; bound the loops anyway.
    for (int guard = 0; x < kLowerBound && guard < 400; ++guard) {
        x = x * 10.0;
        --position;
    }
    for (int guard = 0; x >= kUpperBound && guard < 400; ++guard) {
        x = x / 10.0;
        ++position;
    }
    for (int i = 0; i < kDigitCount; ++i) {
        double digit = std::floor(x);
        if (!(digit >= 0.0)) {
            digit = 0.0;
        } else if (digit > 9.0) {
            digit = 9.0;
        }
        result.digits[i] = static_cast<char>('0' + static_cast<int>(digit));
        x = (x - digit) * 10.0;
    }
    result.digits[kDigitCount] = '\0';
    if (x >= 5.0) {
        for (int i = kDigitCount - 1; i >= 0; --i) {
            if (result.digits[i] == '9') {
                result.digits[i] = '0';
                continue;
            }
            ++result.digits[i];
            break;
        }
    }
    result.position = position;
    return result;
}

std::string ExponentForm(const DigitString& d, const char* exponentFormat) {
    std::string text;
    text += d.digits[0];
    text += '.';
    text.append(d.digits + 1, kDigitCount - 1);
    char exponent[16];
    std::snprintf(exponent, sizeof exponent, exponentFormat, d.position - 1);
    text += 'e';
    text += exponent;
    return text;
}

}  // namespace

std::string FormatNumber(double value) {
    const DigitString d = ToDigits(value);
    std::string text = d.negative ? "-" : "";
    if (d.position > kDigitCount) {
        return text + ExponentForm(d, "%+04d");
    }
    if (d.position < -3) {
        return text + ExponentForm(d, "%03d");
    }
    std::string fixed;
    if (d.position >= 1) {
        fixed.append(d.digits, d.position);
        fixed += '.';
        fixed.append(d.digits + d.position, kDigitCount - d.position);
    } else {
        fixed = "0.";
        fixed.append(static_cast<size_t>(-d.position), '0');
        fixed.append(d.digits, kDigitCount);
    }
    while (!fixed.empty() && fixed.back() == '0') {
        fixed.pop_back();
    }
    if (!fixed.empty() && fixed.back() == '.') {
        fixed.pop_back();
    }
    return text + fixed;
}

namespace {

int DigitValue(char c, int radix) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    }
    return value < radix ? value : -1;
}

// "&H1F", "&O17": no sign; place values are 64-bit integers (unsigned, so a
// very long run of digits wraps instead of overflowing).
double ParseRadix(const std::string& text, size_t start, int radix) {
    size_t end = start;
    while (end < text.size() && DigitValue(text[end], radix) >= 0) {
        ++end;
    }
    double value = 0.0;
    std::uint64_t place = 1;
    for (size_t i = end; i > start; --i) {
        const std::uint64_t digit = static_cast<std::uint64_t>(DigitValue(text[i - 1], radix));
        value += static_cast<double>(digit * place);
        place *= static_cast<std::uint64_t>(radix);
    }
    return value;
}

}  // namespace

double ParseNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    if (i < text.size() && text[i] == '&') {
        const char kind = i + 1 < text.size() ? text[i + 1] : '\0';
        if (kind == 'O' || kind == 'o') {
            return ParseRadix(text, i + 2, 8);
        }
        if (kind == 'H' || kind == 'h') {
            return ParseRadix(text, i + 2, 16);
        }
        return 0.0;
    }
    bool negative = false;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    } else if (i < text.size() && text[i] == '+') {
        ++i;
    }
    const size_t integerStart = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        ++i;
    }
    double value = 0.0;
    double place = 1.0;
    for (size_t k = i; k > integerStart; --k) {
        value = value + (text[k - 1] - '0') * place;
        place = place * 10.0;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        double fractionPlace = 10.0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value + (text[i] - '0') / fractionPlace;
            fractionPlace = fractionPlace * 10.0;
            ++i;
        }
    }
    if (negative) {
        value = value * -1.0;
    }
    return value;
}
