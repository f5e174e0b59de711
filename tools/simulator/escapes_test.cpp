#include "escapes.h"

#include <gtest/gtest.h>

namespace tovaksim {
namespace {

TEST(DecodeEscapes, TurnsEveryEscapeIntoItsByte) {
    struct Case {
        const char* text;
        std::string bytes;
    };
    const Case cases[] = {
        {"Pw1;Bm1;", "Pw1;Bm1;"},
        {"a\\r\\nb", "a\r\nb"},
        {"\\t", "\t"},
        {"\\\\x41", "\\x41"},
        {"\\x3b\\x3B", ";;"},
        {"\\x00Z", std::string("\0Z", 2)},
        {"\\xff\\x80", "\xff\x80"},
        {"", ""},
    };
    for (const Case& c : cases) {
        std::string bytes;
        std::string error;
        EXPECT_TRUE(DecodeEscapes(c.text, bytes, error)) << c.text << ": " << error;
        EXPECT_EQ(bytes, c.bytes) << c.text;
    }
}

TEST(DecodeEscapes, RefusesMalformedEscapesInsteadOfSendingThem) {
    const char* const cases[] = {"abc\\", "\\x4", "\\x", "\\xg0", "\\x4g", "\\q", "ok\\0"};
    for (const char* text : cases) {
        std::string bytes;
        std::string error;
        EXPECT_FALSE(DecodeEscapes(text, bytes, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
}

TEST(HexBytes, WritesTwoLowerCaseDigitsPerByteWithoutSignExtension) {
    EXPECT_EQ(HexBytes(std::string("SR;\x00\x7f\x80\xff", 7)), "53523b007f80ff");
    EXPECT_EQ(HexBytes(""), "");
}

}  // namespace
}  // namespace tovaksim
