#include "seams/text_scan.h"

#include <gtest/gtest.h>

#include <optional>
#include <string_view>

namespace {

TEST(TextScan, NumbersAsRepliesAndCommandLinesCarryThem) {
    struct Row {
        std::string_view text;
        int32_t leading;
        int64_t leading64;
        bool hasLeading;
        std::optional<long long> whole;
    };
    const Row rows[] = {
        {"42", 42, 42, true, 42},
        {" \t-17,", -17, -17, true, std::nullopt},
        {"+8x", 8, 8, true, std::nullopt},
        {"IPA,", 0, 0, false, std::nullopt},
        {"-", 0, 0, false, std::nullopt},
        {"", 0, 0, false, std::nullopt},
        {"\xA0"
         "5",
         0, 0, false, std::nullopt},  // no blank above 0x7F, whatever the locale
        {"99999999999", INT32_MAX, 99999999999LL, true, 99999999999LL},
        {"-99999999999", INT32_MIN, -99999999999LL, true, -99999999999LL},
        // An unsigned checksum of 2^31 and more.
        {"4294967295,", INT32_MAX, 4294967295LL, true, std::nullopt},
        {"99999999999999999999", INT32_MAX, INT64_MAX, true, std::nullopt},
        {"-9223372036854775808", INT32_MIN, INT64_MIN, true, INT64_MIN},
        {"-99999999999999999999", INT32_MIN, INT64_MIN, true, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(textscan::LeadingInteger(row.text), row.leading) << row.text;
        EXPECT_EQ(textscan::LeadingInteger64(row.text), row.leading64) << row.text;
        EXPECT_EQ(textscan::HasLeadingInteger(row.text), row.hasLeading) << row.text;
        EXPECT_EQ(textscan::WholeNumber(row.text), row.whole) << row.text;
    }
}

TEST(TextScan, AddressesAndPortsAsTheCommandLineTakesThem) {
    struct Row {
        std::string_view text;
        std::optional<uint32_t> address;  // no value: refused
        uint16_t port;
    };
    const Row rows[] = {
        {"10.0.0.5", 0x0A000005, 9100},
        {"10.0.0.5:91", 0x0A000005, 91},
        {"255.255.255.255:65535", 0xFFFFFFFF, 65535},
        {"10.0.0.5:91OO", std::nullopt, 0},  // not port 91
        {"10.0.0.5:", std::nullopt, 0},
        {"10.0.0.5:0", std::nullopt, 0},
        {"10.0.0.5:65536", std::nullopt, 0},
        {"10.0.0.5:+91", std::nullopt, 0},
        {"10.0.0.5: 91", std::nullopt, 0},
        {"10.0.0.256", std::nullopt, 0},
        {"10.0.0.0005", std::nullopt, 0},
        {"10.0.0.05", std::nullopt, 0},  // octal to some readers
        {"010.0.0.5", std::nullopt, 0},
        {"10.0.0.0", 0x0A000000, 9100},
        {"10.0.-0.5", std::nullopt, 0},
        {"10.0.0", std::nullopt, 0},
        {"10.0.0.5.6", std::nullopt, 0},
        {"10..0.5", std::nullopt, 0},
        {" 10.0.0.5", std::nullopt, 0},
    };
    for (const Row& row : rows) {
        const auto parsed = textscan::DottedAddressAndPort(row.text, 9100);
        ASSERT_EQ(parsed.has_value(), row.address.has_value()) << row.text;
        if (!parsed) continue;
        EXPECT_EQ(parsed->address, *row.address) << row.text;
        EXPECT_EQ(parsed->port, row.port) << row.text;
    }
    EXPECT_EQ(textscan::DottedAddress("192.168.1.2"), 0xC0A80102u);
    EXPECT_EQ(textscan::DottedAddress("192.168.1.2:80"), std::nullopt);
}

TEST(TextScan, HexDigitsAndTrimming) {
    EXPECT_EQ(textscan::HexDigitValue('0'), 0);
    EXPECT_EQ(textscan::HexDigitValue('a'), 10);
    EXPECT_EQ(textscan::HexDigitValue('F'), 15);
    EXPECT_EQ(textscan::HexDigitValue('g'), -1);
    EXPECT_EQ(textscan::Trim(" \r\n MDL:X \v\f"), "MDL:X");
    EXPECT_EQ(textscan::TrimStart("  a b "), "a b ");
    EXPECT_EQ(textscan::TrimEnd("  a b "), "  a b");
    EXPECT_EQ(textscan::Trim("\xA0"), "\xA0");
    EXPECT_TRUE(textscan::EqualNoCase("SerN", "SERN"));
    EXPECT_FALSE(textscan::EqualNoCase("SERN", "SER"));
    EXPECT_FALSE(textscan::EqualNoCase("\xE9", "\xC9"));  // ASCII only, whatever the locale
    EXPECT_TRUE(textscan::StartsWithNoCase("USB://x", "usb://"));
    EXPECT_FALSE(textscan::StartsWithNoCase("us", "usb://"));
}

}  // namespace
