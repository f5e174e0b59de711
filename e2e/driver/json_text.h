// JSON text for the driver's one-line answers. Window texts are ANSI bytes: every byte
// of 0x80 or above goes out as \u00XX of its value (read back as Latin-1), so no text
// from the program is ever re-encoded or lost.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tovak::e2e {

inline void AppendJsonString(std::string& out, std::string_view text) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            out += "\\u00";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0x0f];
        } else {
            out += c;
        }
    }
    out += '"';
}

// UTF-16 text (an accessible object's) with every code unit outside printable
// ASCII as \uXXXX, so the JSON reader gets the characters themselves.
inline void AppendJsonWideString(std::string& out, std::wstring_view text) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out += '"';
    for (const wchar_t c : text) {
        const auto unit = static_cast<unsigned>(c) & 0xFFFFu;
        if (unit == '"' || unit == '\\') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit < 0x20 || unit >= 0x7f) {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out += kHexDigits[(unit >> shift) & 0xF];
            }
        } else {
            out += static_cast<char>(unit);
        }
    }
    out += '"';
}

inline std::string JsonString(std::string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
}

inline std::string JsonNumbers(std::initializer_list<long long> numbers) {
    std::string out = "[";
    for (const long long n : numbers) {
        if (out.size() > 1) {
            out += ", ";
        }
        out += std::to_string(n);
    }
    return out + "]";
}

// Members of one object, in the order they are added.
class JsonObject {
  public:
    JsonObject& AddText(std::string_view key, std::string_view text) {
        Key(key);
        AppendJsonString(members_, text);
        return *this;
    }
    JsonObject& AddWideText(std::string_view key, std::wstring_view text) {
        Key(key);
        AppendJsonWideString(members_, text);
        return *this;
    }
    JsonObject& AddNumber(std::string_view key, long long number) {
        Key(key);
        members_ += std::to_string(number);
        return *this;
    }
    JsonObject& AddBool(std::string_view key, bool value) {
        Key(key);
        members_ += value ? "true" : "false";
        return *this;
    }
    // `json` must already be valid JSON (an array, an object, a number).
    JsonObject& AddRaw(std::string_view key, std::string_view json) {
        Key(key);
        members_ += json;
        return *this;
    }
    const std::string& Members() const { return members_; }
    std::string Text() const { return "{" + members_ + "}"; }

  private:
    void Key(std::string_view key) {
        if (!members_.empty()) {
            members_ += ", ";
        }
        AppendJsonString(members_, key);
        members_ += ": ";
    }
    std::string members_;
};

// Elements of one array, each already valid JSON.
class JsonArray {
  public:
    JsonArray& AddRaw(std::string_view json) {
        if (!elements_.empty()) {
            elements_ += ", ";
        }
        elements_ += json;
        return *this;
    }
    std::string Text() const { return "[" + elements_ + "]"; }

  private:
    std::string elements_;
};

}  // namespace tovak::e2e
