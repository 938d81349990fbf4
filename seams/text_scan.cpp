#include "seams/text_scan.h"

#include <algorithm>
#include <charconv>
#include <climits>

namespace textscan {

namespace {

constexpr char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && StartsWithNoCase(a, b);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (AsciiLower(text[i]) != AsciiLower(prefix[i])) return false;
    }
    return true;
}

std::string_view TrimStart(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return text.substr(i);
}

std::string_view TrimEnd(std::string_view text) {
    size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1])) --n;
    return text.substr(0, n);
}

std::string_view Trim(std::string_view text) { return TrimEnd(TrimStart(text)); }

namespace {

// Skips blanks and a sign; true for a minus.
bool SkipToDigits(std::string_view& text) {
    text = TrimStart(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    return negative;
}

}  // namespace

int32_t LeadingInteger(std::string_view text) {
    return static_cast<int32_t>(std::clamp<int64_t>(LeadingInteger64(text), INT32_MIN, INT32_MAX));
}

int64_t LeadingInteger64(std::string_view text) {
    const bool negative = SkipToDigits(text);
    uint64_t value = 0;
    constexpr uint64_t kLimit = static_cast<uint64_t>(INT64_MAX) + 1;
    for (size_t i = 0; i < text.size() && IsDigit(text[i]); ++i) {
        // Saturated one past the range: more digits change nothing.
        const uint64_t digit = static_cast<uint64_t>(text[i] - '0');
        value = value > (kLimit - digit) / 10 ? kLimit : std::min(value * 10 + digit, kLimit);
    }
    if (negative) return value == kLimit ? INT64_MIN : -static_cast<int64_t>(value);
    return static_cast<int64_t>(std::min<uint64_t>(value, INT64_MAX));
}

bool HasLeadingInteger(std::string_view text) {
    SkipToDigits(text);
    return !text.empty() && IsDigit(text.front());
}

std::optional<long long> WholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace textscan
