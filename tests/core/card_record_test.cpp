// The card-read record as the Mag Read page judges it, the firmware
// versions that may read a card, and the characters a track may be encoded
// with.

#include "protocol/card_record.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "protocol/command_table.h"
#include "tasks/magstripe.h"

namespace {

using cardread::CardReadView;
using cardread::kRecordSize;
using cardread::RecordVerdict;
using cardread::TrackLed;
using Record = std::array<uint8_t, kRecordSize>;

constexpr size_t kArea[3] = {32, 204, 376};

void PutBytes(Record& record, size_t offset, std::vector<uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
}

void PutWord(Record& record, size_t offset, uint32_t value) {
    PutBytes(record, offset,
             {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
              static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
}

// A well-formed record with every track unread.
Record EmptyRecord() {
    Record record{};
    PutBytes(record, 0, {0x20, 0x51, 0x00, 0x00});
    PutBytes(record, 4, {0x00, 0x00, 0x02, 0x24});
    return record;
}

void PutTrack(Record& record, int track, uint32_t status, int32_t length,
              const std::vector<uint8_t>& bytes) {
    const size_t i = static_cast<size_t>(track - 1);
    PutWord(record, 8 + 4 * i, status);
    PutWord(record, 20 + 4 * i, static_cast<uint32_t>(length));
    PutBytes(record, kArea[i], bytes);
}

struct TrackCase {
    const char* name;
    int track;
    uint32_t status;
    int32_t length;
    std::vector<uint8_t> bytes;
    bool selected;
    std::string text;
    TrackLed led;
};

TEST(CardRecord, EachTrackIsJudgedByStatusLengthAndEndSentinel) {
    const std::vector<TrackCase> cases = {
        {"six-bit codes", 1, 1, 5, {0x05, 0x21, 0x22, 0x23, 0x1F}, true, "%ABC?", TrackLed::Pass},
        {"parity bit ignored", 1, 1, 3, {0x45, 0x61, 0x5F}, true, "%A?", TrackLed::Pass},
        {"four-bit codes", 2, 1, 5, {0x0B, 0x01, 0x02, 0x0D, 0x0F}, true, ";12=?", TrackLed::Pass},
        {"upper bits ignored",
         2,
         1,
         5,
         {0x1B, 0x11, 0x12, 0x1D, 0x1F},
         true,
         ";12=?",
         TrackLed::Pass},
        {"track 3 alike", 3, 7, 4, {0x0B, 0x0A, 0x0E, 0x0F}, true, ";:>?", TrackLed::Pass},
        {"bytes after the sentinel dropped",
         2,
         1,
         8,
         {0x0B, 0x01, 0x02, 0x0D, 0x0F, 0x05, 0x06, 0x07},
         true,
         ";12=?",
         TrackLed::Pass},
        {"sentinel beyond the length",
         2,
         1,
         3,
         {0x0B, 0x01, 0x02, 0x0F},
         true,
         ";12",
         TrackLed::Fail},
        {"read, but empty", 1, 1, 0, {0x05, 0x1F}, true, "<no data found>", TrackLed::Fail},
        {"read, negative length", 3, 1, -4, {0x0B, 0x0F}, true, "<no data found>", TrackLed::Fail},
        {"failed with data", 1, 0, 5, {0x05, 0x21, 0x1F}, true, "Track1 FAILED", TrackLed::Fail},
        {"failed with data, track 2", 2, 0, 1, {0x0B}, true, "Track2 FAILED", TrackLed::Fail},
        {"failed with data, track 3", 3, 0, 172, {}, true, "Track3 FAILED", TrackLed::Fail},
        {"failed, empty", 2, 0, 0, {}, true, "<no data found>", TrackLed::Fail},
        {"failed, negative length", 1, 0, -1, {}, true, "<no data found>", TrackLed::Fail},
        {"not asked for, unread", 2, 0, 5, {0x0B, 0x0F}, false, "", TrackLed::Off},
        {"not asked for, yet read", 3, 1, 2, {0x0B, 0x0F}, false, ";?", TrackLed::Pass},
    };
    for (const TrackCase& c : cases) {
        SCOPED_TRACE(c.name);
        Record record = EmptyRecord();
        PutTrack(record, c.track, c.status, c.length, c.bytes);
        const uint8_t selection = c.selected ? cardread::TrackBit(c.track) : 0;
        const CardReadView view = cardread::DecodeCardRecord(record, kRecordSize, selection);
        ASSERT_EQ(view.verdict, RecordVerdict::Decoded);
        const auto& shown = view.tracks[static_cast<size_t>(c.track - 1)];
        EXPECT_EQ(shown.text, c.text);
        EXPECT_EQ(shown.led, c.led);
        for (int other = 1; other <= 3; ++other) {
            if (other == c.track) continue;
            EXPECT_EQ(view.tracks[static_cast<size_t>(other - 1)].text, "");
            EXPECT_EQ(view.tracks[static_cast<size_t>(other - 1)].led, TrackLed::Off);
        }
    }
}

TEST(CardRecord, LengthsNeverReachBeyondTheirArea) {
    Record record = EmptyRecord();
    // Track 1 without a sentinel, claiming far more than its area; the next
    // area begins with a track 2 end sentinel that a six-bit reading would
    // also take for "?".
    std::vector<uint8_t> track1(172, 0x21);
    PutTrack(record, 1, 1, 100000, track1);
    PutTrack(record, 2, 1, 2, {0x1F, 0x0F});
    const CardReadView view = cardread::DecodeCardRecord(record, kRecordSize, 0x07);
    EXPECT_EQ(view.tracks[0].text, std::string(172, 'A'));
    EXPECT_EQ(view.tracks[0].led, TrackLed::Fail);
    EXPECT_EQ(view.tracks[1].text, "?");
    // The last area ends with the record.
    PutTrack(record, 3, 1, 0x7FFFFFFF, std::vector<uint8_t>(172, 0x05));
    EXPECT_EQ(cardread::DecodeCardRecord(record, kRecordSize, 0x04).tracks[2].text,
              std::string(172, '5'));
}

TEST(CardRecord, HeaderWordsAreBigEndian) {
    struct Case {
        const char* name;
        std::vector<uint8_t> mark;
        std::vector<uint8_t> length;
        RecordVerdict verdict;
    };
    const std::vector<Case> cases = {
        {"good", {0x20, 0x51, 0x00, 0x00}, {0x00, 0x00, 0x02, 0x24}, RecordVerdict::Decoded},
        {"mark swapped",
         {0x00, 0x00, 0x51, 0x20},
         {0x00, 0x00, 0x02, 0x24},
         RecordVerdict::InvalidData},
        {"no mark", {0, 0, 0, 0}, {0x00, 0x00, 0x02, 0x24}, RecordVerdict::InvalidData},
        {"length swapped",
         {0x20, 0x51, 0x00, 0x00},
         {0x24, 0x02, 0x00, 0x00},
         RecordVerdict::WrongLength},
        {"length 547",
         {0x20, 0x51, 0x00, 0x00},
         {0x00, 0x00, 0x02, 0x23},
         RecordVerdict::WrongLength},
        {"both wrong: the mark is judged first",
         {0x00, 0x00, 0x51, 0x20},
         {0x24, 0x02, 0x00, 0x00},
         RecordVerdict::InvalidData},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Record record = EmptyRecord();
        PutBytes(record, 0, c.mark);
        PutBytes(record, 4, c.length);
        PutTrack(record, 1, 1, 2, {0x05, 0x1F});
        PutTrack(record, 3, 1, 2, {0x0B, 0x0F});
        // Tracks 2 and 3 asked for; track 1 was read all the same.
        const CardReadView view = cardread::DecodeCardRecord(record, kRecordSize, 0x06);
        EXPECT_EQ(view.verdict, c.verdict);
        if (c.verdict != RecordVerdict::Decoded) {
            for (const auto& track : view.tracks) EXPECT_EQ(track.led, TrackLed::Off);
        }
        if (c.verdict == RecordVerdict::InvalidData) {
            EXPECT_EQ(view.tracks[0].text, "");
            EXPECT_EQ(view.tracks[1].text, "ERROR: Invalid data received from printer");
            EXPECT_EQ(view.tracks[2].text, "ERROR: Invalid data received from printer");
        } else if (c.verdict == RecordVerdict::WrongLength) {
            for (const auto& track : view.tracks) EXPECT_EQ(track.text, "");
        } else {
            EXPECT_EQ(view.tracks[0].text, "%?");
            EXPECT_EQ(view.tracks[1].text, "<no data found>");
            EXPECT_EQ(view.tracks[2].text, ";?");
        }
    }
}

TEST(CardRecord, ARecordCutShortShowsOnlyWhatArrived) {
    Record full = EmptyRecord();
    PutTrack(full, 1, 1, 3, {0x05, 0x21, 0x1F});
    PutTrack(full, 2, 1, 5, {0x0B, 0x01, 0x02, 0x0D, 0x0F});
    PutTrack(full, 3, 1, 3, {0x0B, 0x01, 0x0F});
    struct Case {
        size_t received;
        RecordVerdict verdict;
        std::array<std::string, 3> texts;
        std::array<TrackLed, 3> leds;
    };
    const std::string invalid = "ERROR: Invalid data received from printer";
    const std::vector<Case> cases = {
        {0,
         RecordVerdict::InvalidData,
         {invalid, invalid, invalid},
         {TrackLed::Off, TrackLed::Off, TrackLed::Off}},
        // Two bytes of mark; the zeros that pad it happen to complete it.
        {2,
         RecordVerdict::InvalidData,
         {invalid, invalid, invalid},
         {TrackLed::Off, TrackLed::Off, TrackLed::Off}},
        {31,
         RecordVerdict::InvalidData,
         {invalid, invalid, invalid},
         {TrackLed::Off, TrackLed::Off, TrackLed::Off}},
        {32,
         RecordVerdict::Decoded,
         {"<no data found>", "<no data found>", "<no data found>"},
         {TrackLed::Fail, TrackLed::Fail, TrackLed::Fail}},
        {207,
         RecordVerdict::Decoded,
         {"%A?", ";12", "<no data found>"},
         {TrackLed::Pass, TrackLed::Fail, TrackLed::Fail}},
        {379,
         RecordVerdict::Decoded,
         {"%A?", ";12=?", ";1?"},
         {TrackLed::Pass, TrackLed::Pass, TrackLed::Pass}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.received);
        Record record{};
        std::copy_n(full.begin(), c.received, record.begin());
        const CardReadView view = cardread::DecodeCardRecord(record, c.received, 0x07);
        EXPECT_EQ(view.verdict, c.verdict);
        for (size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(view.tracks[i].text, c.texts[i]) << "track " << i + 1;
            EXPECT_EQ(view.tracks[i].led, c.leds[i]) << "track " << i + 1;
        }
    }
}

TEST(CardRecord, VersionNumbersAreReadAfterTheLetters) {
    const std::vector<std::pair<std::string, int64_t>> cases = {
        {"A4.01", 401},   {"E3.02", 302},  {"H2.019", 201}, {"A4.1", 410},    {"A10.00", 1000},
        {"AB4.01", 401},  {"A 4.01", 401}, {"A4.01,", 401}, {"A4.01.7", 401}, {"A4", 400},
        {"A4.", 400},     {"A.5", 50},     {"A", 0},        {"", 0},          {"4.01", 401},
        {"A-4.01", -401}, {"A_4.01", 0},
    };
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(cardread::VersionHundredths(text), expected);
    }
    // Absurd numbers saturate rather than overflow into negatives.
    EXPECT_GT(cardread::VersionHundredths("A99999999999999999999999.99"), 401);
}

TEST(CardRecord, OldFirmwareOfTheThreeGatedFamiliesIsRefused) {
    const std::string need401 = "This function requires printer  \nfirmware version >=  v4.01  \n";
    const std::string need302 = "This function requires printer  \nfirmware version >=  v3.02  \n";
    const std::string need202 = "This function requires printer  \nfirmware version >=  v2.02  \n";
    struct Case {
        uint32_t family;
        std::optional<std::string> version;
        std::optional<std::string> message;
    };
    const std::vector<Case> cases = {
        {family::kA, "A4.00", need401},
        {family::kA, "A4.009", need401},
        {family::kA, "A4.01", std::nullopt},
        {family::kA, "A10.0", std::nullopt},
        {family::kA, "A", need401},
        {family::kA, "", need401},
        {family::kE, "E3.01", need302},
        {family::kE, "E3.02", std::nullopt},
        {family::kH, "H2.01", need202},
        {family::kH, "H2.02", std::nullopt},
        {family::kH, "H1.99", need202},
        {family::kV, "V1.00", std::nullopt},
        {family::kJ, "J0.01", std::nullopt},
        {family::kOther, "X0", std::nullopt},
        // The family word decides which threshold applies, not the letter.
        {family::kE, "A3.50", std::nullopt},
        {family::kA, "E3.50", need401},
        // No value at all is no evidence of old firmware.
        {family::kA, std::nullopt, std::nullopt},
        {family::kH, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.version.value_or("<no value>") + " family " + std::to_string(c.family));
        EXPECT_EQ(cardread::FirmwareGateMessage(c.family, c.version), c.message);
    }
}

TEST(MagStripe, TracksHoldNoControlCharacters) {
    struct Row {
        std::string text;
        bool allowed;
    };
    const Row rows[] = {
        {"", true},
        {"B4000^SMITH/J ?", true},
        {" ", true},
        {"\x7f\xe9\xff", true},                 // Latin-1 letters and DEL are data
        {"AB\x1c\x03REQ,UPG,\x1c\x03", false},  // would end the frame early
        {std::string("12\0"
                     "34",
                     5),
         false},
        {"\x1f", false},
        {"1234\r\n", false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(magstripe::IsTrackText(row.text), row.allowed) << row.text;
}

}  // namespace
