#include "escapes.h"

namespace tovaksim {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

struct SimpleEscape {
    char letter;
    char byte;
};

constexpr SimpleEscape kSimpleEscapes[] = {
    {'r', '\r'},
    {'n', '\n'},
    {'t', '\t'},
    {'\\', '\\'},
};

}  // namespace

bool DecodeEscapes(const std::string& text, std::string& bytes, std::string& error) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        if (i + 1 >= text.size()) {
            error = "a lone \\ ends the text";
            return false;
        }
        char letter = text[++i];
        if (letter == 'x') {
            int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (high < 0 || low < 0) {
                error = "\\x needs two hex digits";
                return false;
            }
            bytes += static_cast<char>(high * 16 + low);
            i += 2;
            continue;
        }
        bool known = false;
        for (const SimpleEscape& escape : kSimpleEscapes) {
            if (escape.letter == letter) {
                bytes += escape.byte;
                known = true;
                break;
            }
        }
        if (!known) {
            error = std::string("unknown escape \\") + letter;
            return false;
        }
    }
    return true;
}

std::string HexBytes(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

}  // namespace tovaksim
