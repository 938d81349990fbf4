#include "cli/cli_text.h"

std::string Utf8(const std::string& latin1) {
    std::string text;
    text.reserve(latin1.size());
    for (char c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::optional<std::string> Latin1(const std::string& utf8) {
    std::string text;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto byte = static_cast<unsigned char>(utf8[i]);
        if (byte < 0x80) {
            text += utf8[i];
            continue;
        }
        // Two-byte sequences up to U+00FF only.
        if ((byte & 0xFE) != 0xC2 || i + 1 >= utf8.size()) return std::nullopt;
        const auto next = static_cast<unsigned char>(utf8[i + 1]);
        if ((next & 0xC0) != 0x80) return std::nullopt;
        text += static_cast<char>(((byte & 0x03) << 6) | (next & 0x3F));
        ++i;
    }
    return text;
}

std::string Latin1Upper(std::string latin1) {
    for (char& c : latin1) {
        const auto byte = static_cast<unsigned char>(c);
        // a-z, and the accented small letters whose capitals lie 0x20 below
        // (not the division sign, nor y with diaeresis, whose capital is not
        // Latin-1).
        if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) {
            c = static_cast<char>(byte - 0x20);
        }
    }
    return latin1;
}
