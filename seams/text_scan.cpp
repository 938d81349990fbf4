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

std::optional<uint32_t> DottedAddress(std::string_view text) {
    constexpr int kFields = 4;
    constexpr size_t kMostDigits = 3;
    constexpr long long kLargestField = 255;
    uint32_t address = 0;
    for (int field = 0; field < kFields; ++field) {
        const size_t end = field + 1 < kFields ? text.find('.') : text.size();
        if (end == std::string_view::npos || end == 0 || end > kMostDigits) return std::nullopt;
        // Digits only: no sign, no blank.
        const std::string_view digits = text.substr(0, end);
        if (!std::all_of(digits.begin(), digits.end(), IsDigit)) return std::nullopt;
        if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
        const std::optional<long long> value = WholeNumber(digits);
        if (!value || *value > kLargestField) return std::nullopt;
        address = (address << 8) | static_cast<uint32_t>(*value);
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return address;
}

std::optional<AddressAndPort> DottedAddressAndPort(std::string_view text, uint16_t defaultPort) {
    constexpr long long kLargestPort = 65535;
    AddressAndPort result;
    result.port = defaultPort;
    const size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        const std::string_view digits = text.substr(colon + 1);
        const std::optional<long long> port = WholeNumber(digits);
        if (digits.empty() || !IsDigit(digits.front()) || !port || *port < 1 ||
            *port > kLargestPort) {
            return std::nullopt;
        }
        result.port = static_cast<uint16_t>(*port);
        text = text.substr(0, colon);
    }
    const std::optional<uint32_t> address = DottedAddress(text);
    if (!address) return std::nullopt;
    result.address = *address;
    return result;
}

}  // namespace textscan
