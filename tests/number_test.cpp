#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "text/number.h"

namespace {

struct FormatCase {
    double value;
    const char* text;
};

TEST(FormatNumber, WritesUpToFifteenSignificantDigitsWithoutPadding) {
    const FormatCase cases[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {6, "6"},
        {42, "42"},
        {65535, "65535"},
        {-7.25, "-7.25"},
        {0.5, "0.5"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {123456789.123456789, "123456789.123457"},
        {123456789012345.0, "123456789012345"},
        {0.0001, "0.0001"},
        {0.00012345, "0.00012345"},
        {0.00001, "1.00000000000000e-05"},
        {1e15, "1.00000000000000e+015"},
        {1234567890123456.0, "1.23456789012346e+015"},
        {999999999999999.0, "1.00000000000000e+015"},
        {1e100, "1.00000000000000e+100"},
        {1e-100, "1.00000000000000e-100"},
        {120000, "120000"},
        {2026, "2026"},
    };
    for (const FormatCase& c : cases) {
        EXPECT_EQ(FormatNumber(c.value), c.text) << "value " << c.value;
    }
}

TEST(FormatNumber, NeverHangsOrOverrunsOnValuesNoTextHolds) {
    // Not numbers the program makes; the result only has to be bounded.
    for (double value :
         {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
          std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::denorm_min(),
          std::numeric_limits<double>::max()}) {
        EXPECT_LE(FormatNumber(value).size(), 22u);
    }
}

struct ParseCase {
    const char* text;
    double value;
};

TEST(ParseNumber, ReadsDecimalHexadecimalAndOctalFromTheStart) {
    const ParseCase cases[] = {
        {"0", 0},           {"  12", 12}, {"\t-3.5", -3.5}, {"+7", 7},     {"&H1F", 31},
        {"&h1f", 31},       {"&O17", 15}, {"&X5", 0},       {"12abc", 12}, {"1.2.3", 1.2},
        {"1e5", 1},         {"", 0},      {"abc", 0},       {"-5", -5},    {"&H101", 257},
        {"120000", 120000}, {"&", 0},     {"&O", 0},        {"&o8", 0},    {".5", 0.5},
    };
    for (const ParseCase& c : cases) {
        EXPECT_DOUBLE_EQ(ParseNumber(c.text), c.value) << "text \"" << c.text << "\"";
    }
}

TEST(ParseNumber, LoneMinusGivesNegativeZero) {
    const double value = ParseNumber("-");
    EXPECT_EQ(value, 0.0);
    EXPECT_TRUE(std::signbit(value));
}

TEST(ParseNumber, HugeInputsStayDefined) {
    // Far more digits than a double holds: large or not-a-number, never a fault.
    const std::string decimal(2000, '9');
    const double big = ParseNumber(decimal);
    EXPECT_TRUE(std::isinf(big) || std::isnan(big) || big > 1e300);
    const double hex = ParseNumber("&H" + std::string(40, 'F'));
    EXPECT_FALSE(std::isnan(hex));
    EXPECT_DOUBLE_EQ(ParseNumber("99999999999"), 99999999999.0);
}

}  // namespace
