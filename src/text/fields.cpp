#include "text/fields.h"

std::string FirstChars(const std::string& text, std::size_t count) {
    return text.substr(0, count);
}

std::string LastChars(const std::string& text, std::size_t count) {
    return text.size() <= count ? text : text.substr(text.size() - count);
}

std::string CharsAt(const std::string& text, std::size_t position, std::size_t count) {
    if (position == 0 || position > text.size()) {
        return std::string();
    }
    return text.substr(position - 1, count);
}
