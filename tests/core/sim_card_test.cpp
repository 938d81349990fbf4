// The simulated card read: the 548-byte record, its track codes, and a card
// encoded through the printer and read back.

#include "sim/sim_card.h"

#include <gtest/gtest.h>

#include <bit>
#include <string>
#include <vector>

#include "sim/sim_printer.h"
#include "support/frames.h"

namespace {

constexpr size_t kTrackArea[3] = {32, 204, 376};

std::vector<uint8_t> ReadCard(CSimPrinter& printer, uint8_t selection) {
    std::string request = Framed("REQ,MSV" + std::string(1, static_cast<char>(selection)));
    printer.Receive(reinterpret_cast<const uint8_t*>(request.data()), request.size());
    std::vector<uint8_t> record(2048);
    record.resize(printer.TakeReply(record.data(), record.size()));
    return record;
}

uint32_t Word(const std::vector<uint8_t>& record, size_t offset) {
    return (uint32_t{record[offset]} << 24) | (uint32_t{record[offset + 1]} << 16) |
           (uint32_t{record[offset + 2]} << 8) | record[offset + 3];
}

// Decodes a track the way a careful reader would, checking what the host's
// page does not: every parity bit and the check character.
struct Decoded {
    std::string text;
    bool parityOk = true;
    bool checkOk = false;
};

Decoded DecodeTrack(const std::vector<uint8_t>& record, int track) {
    const bool alpha = track == 1;
    const uint8_t dataMask = alpha ? 0x3F : 0x0F;
    const uint8_t withParity = alpha ? 0x7F : 0x1F;
    const size_t area = kTrackArea[track - 1];
    const uint32_t length = Word(record, 20 + 4 * static_cast<size_t>(track - 1));
    Decoded d;
    uint8_t columns = 0;
    for (uint32_t i = 0; i < length && i < 172; ++i) {
        uint8_t byte = record[area + i];
        if (std::popcount(static_cast<uint8_t>(byte & withParity)) % 2 == 0) d.parityOk = false;
        columns ^= static_cast<uint8_t>(byte & dataMask);
        if (i + 1 < length) d.text += static_cast<char>((byte & dataMask) + (alpha ? 0x20 : '0'));
    }
    d.checkOk = length > 0 && columns == 0;
    return d;
}

TEST(SimCard, RecordLayoutByHand) {
    CSimPrinter printer;
    printer.UpdateState([](SimPrinterState& s) {
        s.card[0].data = "AB";
        s.card[1].data = "1234";
        s.card[2].data = "99";
    });
    std::vector<uint8_t> record = ReadCard(printer, 0x03);  // tracks 1 and 2
    ASSERT_EQ(record.size(), simcard::kRecordSize);
    EXPECT_EQ(std::vector<uint8_t>(record.begin(), record.begin() + 8),
              (std::vector<uint8_t>{0x20, 0x51, 0x00, 0x00, 0x00, 0x00, 0x02, 0x24}));
    EXPECT_NE(Word(record, 8), 0u);
    EXPECT_NE(Word(record, 12), 0u);
    EXPECT_EQ(Word(record, 16), 0u);  // track 3 not asked for
    EXPECT_EQ(Word(record, 20), 5u);  // % A B ? check
    EXPECT_EQ(Word(record, 24), 7u);  // ; 1 2 3 4 ? check
    EXPECT_EQ(Word(record, 28), 0u);
    // '%' is code 0x05 (two ones, parity bit set); 'A' 0x21 likewise; 'B'
    // 0x22 too; "?" 0x1F has five ones and needs none, nor does the check 0x19.
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 32, record.begin() + 37),
              (std::vector<uint8_t>{0x45, 0x61, 0x62, 0x1F, 0x19}));
    // ';' 0x0B, '3' 0x03 gains its parity bit, '?' 0x0F too; the check
    // character is 0 and so carries the parity bit alone.
    EXPECT_EQ(std::vector<uint8_t>(record.begin() + 204, record.begin() + 211),
              (std::vector<uint8_t>{0x0B, 0x01, 0x02, 0x13, 0x04, 0x1F, 0x10}));
    EXPECT_EQ(record[211], 0);
    for (size_t i = 376; i < simcard::kRecordSize; ++i) ASSERT_EQ(record[i], 0) << i;
}

TEST(SimCard, EncodedCardReadsBack) {
    CSimPrinter printer;
    // Tracks 1 and 2 only: track 3 keeps what the card held.
    std::string encode =
        "\x01NOC0,BBB,MGVON,VER5,COEH,MAG1,DOE^JANE,MAG2,4000123456789=2812\x1C\x03";
    printer.Receive(reinterpret_cast<const uint8_t*>(encode.data()), encode.size());
    ASSERT_EQ(printer.Frames().back().kind, SimFrameKind::MagEncode);

    std::vector<uint8_t> record = ReadCard(printer, 0x07);
    ASSERT_EQ(record.size(), simcard::kRecordSize);
    const std::string expected[3] = {"%DOE^JANE?", ";4000123456789=2812?",
                                     ";" + SimPrinterState::DefaultCard()[2].data + "?"};
    for (int track = 1; track <= 3; ++track) {
        Decoded d = DecodeTrack(record, track);
        EXPECT_EQ(d.text, expected[track - 1]) << "track " << track;
        EXPECT_TRUE(d.parityOk) << "track " << track;
        EXPECT_TRUE(d.checkOk) << "track " << track;
    }
}

TEST(SimCard, RecordFaults) {
    struct Case {
        const char* name;
        void (*apply)(SimPrinterState&);
        void (*check)(const std::vector<uint8_t>&);
    } cases[] = {
        {"failed track", [](SimPrinterState& s) { s.card[1].failed = true; },
         [](const std::vector<uint8_t>& r) {
             EXPECT_EQ(Word(r, 12), 0u);
             EXPECT_GT(Word(r, 24), 0u);
             EXPECT_NE(Word(r, 8), 0u);
         }},
        {"no end sentinel", [](SimPrinterState& s) { s.card[0].omitEndSentinel = true; },
         [](const std::vector<uint8_t>& r) {
             Decoded d = DecodeTrack(r, 1);
             EXPECT_EQ(d.text.find('?'), std::string::npos) << d.text;
             EXPECT_TRUE(d.checkOk);
         }},
        {"blank track", [](SimPrinterState& s) { s.card[2].data.clear(); },
         [](const std::vector<uint8_t>& r) {
             EXPECT_EQ(Word(r, 16), 0u);
             EXPECT_EQ(Word(r, 28), 0u);
         }},
        {"wrong mark", [](SimPrinterState& s) { s.cardRecordFaults.wrongMark = true; },
         [](const std::vector<uint8_t>& r) {
             EXPECT_EQ(Word(r, 0), 0x00005120u);
             EXPECT_EQ(Word(r, 4), 548u);
         }},
        {"wrong length", [](SimPrinterState& s) { s.cardRecordFaults.wrongLength = true; },
         [](const std::vector<uint8_t>& r) {
             EXPECT_EQ(Word(r, 0), simcard::kRecordMark);
             EXPECT_EQ(Word(r, 4), 0x24020000u);
         }},
        {"cut short", [](SimPrinterState& s) { s.cardRecordFaults.cutAfter = 100; },
         [](const std::vector<uint8_t>& r) { EXPECT_EQ(r.size(), 100u); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CSimPrinter printer;
        printer.UpdateState(c.apply);
        std::vector<uint8_t> record = ReadCard(printer, 0x07);
        if (std::string(c.name) != "cut short") {
            ASSERT_EQ(record.size(), simcard::kRecordSize);
        }
        c.check(record);
    }
}

TEST(SimCard, LongTrackStaysInsideItsArea) {
    simcard::SimTrack stripe;
    stripe.data = std::string(400, '7');
    EXPECT_EQ(simcard::EncodeTrack(2, stripe).size(), simcard::kAreaSize);
    std::array<simcard::SimTrack, 3> card{stripe, stripe, stripe};
    std::vector<uint8_t> record = simcard::BuildRecord(card, 0x07, {});
    ASSERT_EQ(record.size(), simcard::kRecordSize);
    EXPECT_EQ(Word(record, 20), 172u);
}

}  // namespace
