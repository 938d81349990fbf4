#include "sim/sim_card.h"

#include <algorithm>
#include <bit>

namespace simcard {
namespace {

constexpr uint8_t kTrack1DataMask = 0x3F;
constexpr uint8_t kTrack1ParityBit = 0x40;
constexpr uint8_t kTrack23DataMask = 0x0F;
constexpr uint8_t kTrack23ParityBit = 0x10;

// Odd parity: the parity bit makes the count of ones odd.
uint8_t WithParity(uint8_t code, uint8_t parityBit) {
    return std::popcount(code) % 2 == 0 ? static_cast<uint8_t>(code | parityBit) : code;
}

bool IsAlpha(int track) { return track == 1; }

void PutWord(std::vector<uint8_t>& record, size_t offset, uint32_t value) {
    record[offset] = static_cast<uint8_t>(value >> 24);
    record[offset + 1] = static_cast<uint8_t>(value >> 16);
    record[offset + 2] = static_cast<uint8_t>(value >> 8);
    record[offset + 3] = static_cast<uint8_t>(value);
}

uint32_t ByteSwapped(uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

}  // namespace

uint8_t EncodeCharacter(int track, char character) {
    auto c = static_cast<uint8_t>(character);
    if (IsAlpha(track)) {
        return WithParity(static_cast<uint8_t>((c - 0x20) & kTrack1DataMask), kTrack1ParityBit);
    }
    return WithParity(static_cast<uint8_t>((c - '0') & kTrack23DataMask), kTrack23ParityBit);
}

std::vector<uint8_t> EncodeTrack(int track, const SimTrack& stripe) {
    const uint8_t dataMask = IsAlpha(track) ? kTrack1DataMask : kTrack23DataMask;
    const uint8_t parityBit = IsAlpha(track) ? kTrack1ParityBit : kTrack23ParityBit;
    std::string text(1, IsAlpha(track) ? '%' : ';');
    text += stripe.data;
    if (!stripe.omitEndSentinel) text += '?';
    // Leave room for the check character.
    if (text.size() > kAreaSize - 1) text.resize(kAreaSize - 1);

    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() + 1);
    uint8_t check = 0;
    for (char c : text) {
        uint8_t code = EncodeCharacter(track, c);
        check ^= static_cast<uint8_t>(code & dataMask);
        bytes.push_back(code);
    }
    // The check character makes every data bit column even across the
    // track; its own parity bit is odd like any character's.
    bytes.push_back(WithParity(check, parityBit));
    return bytes;
}

std::vector<uint8_t> BuildRecord(const std::array<SimTrack, 3>& card, uint8_t selection,
                                 const SimRecordFaults& faults) {
    std::vector<uint8_t> record(kRecordSize, 0);
    PutWord(record, 0, faults.wrongMark ? ByteSwapped(kRecordMark) : kRecordMark);
    PutWord(record, 4,
            faults.wrongLength ? ByteSwapped(static_cast<uint32_t>(kRecordSize))
                               : static_cast<uint32_t>(kRecordSize));
    for (int i = 0; i < 3; ++i) {
        const SimTrack& stripe = card[static_cast<size_t>(i)];
        // A track that was not asked for, or a blank one, is not read.
        if ((selection & (1u << i)) == 0 || stripe.data.empty()) continue;
        std::vector<uint8_t> bytes = EncodeTrack(i + 1, stripe);
        PutWord(record, 8 + 4 * static_cast<size_t>(i), stripe.failed ? 0u : 1u);
        PutWord(record, 20 + 4 * static_cast<size_t>(i), static_cast<uint32_t>(bytes.size()));
        std::copy(bytes.begin(), bytes.end(),
                  record.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + kAreaSize * i));
    }
    if (faults.cutAfter && *faults.cutAfter < record.size()) record.resize(*faults.cutAfter);
    return record;
}

}  // namespace simcard
