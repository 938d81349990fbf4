#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// The one reading of numbers and blanks in printer replies, device paths,
// operator input and command lines. Texts are 8-bit; bytes above 0x7F are
// text, never blanks or digits, whatever the desktop's locale says.
namespace textscan {

// The C locale's white space: space, tab, line feed, vertical tab, form
// feed, carriage return.
constexpr bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }
// 0 to 15, or -1 for a character that is no hexadecimal digit.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Letters compared without regard to case, ASCII only: serial numbers and
// URI schemes are ASCII, and the desktop's locale must not change a match.
bool EqualNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);

std::string_view TrimStart(std::string_view text);
std::string_view TrimEnd(std::string_view text);
std::string_view Trim(std::string_view text);

// Leading blanks, an optional sign, digits up to the first other character;
// no digits give 0; values beyond the signed 32-bit range saturate.
int32_t LeadingInteger(std::string_view text);
// As LeadingInteger, saturating at the signed 64-bit range instead: for
// values the printer may state unsigned (a checksum, a counter) that a
// caller takes modulo 2^32.
int64_t LeadingInteger64(std::string_view text);
// Whether the text starts (after blanks and a sign) with a digit: a reply
// such as "IPA," carries no number, which differs from a sent 0.
bool HasLeadingInteger(std::string_view text);
// The whole text as one decimal number, nothing before or after it.
std::optional<long long> WholeNumber(std::string_view text);

// A dotted IPv4 address: four fields of one to three decimal digits, each 0
// to 255, and nothing around them; the first field is the most significant
// byte. A field does not start with 0 unless it is 0: some stacks read
// "010" as octal 8 and others as 10, so such text names no one address and
// is refused rather than guessed at. Every reader of an address (the
// command line, the Ethernet link, the doctor) uses this one rule.
std::optional<uint32_t> DottedAddress(std::string_view text);
struct AddressAndPort {
    uint32_t address = 0;
    uint16_t port = 0;
};
// "A.B.C.D" with `defaultPort`, or "A.B.C.D:PORT" with a port of 1 to 65535
// and nothing after its digits.
std::optional<AddressAndPort> DottedAddressAndPort(std::string_view text, uint16_t defaultPort);

}  // namespace textscan
