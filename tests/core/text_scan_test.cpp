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
