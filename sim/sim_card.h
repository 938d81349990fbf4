#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/card_record.h"

// The magnetic stripe of the card in the simulated printer and the card-read
// record the printer sends back for it, in the layout cardread:: reads.
// Track 1 bytes carry the ISO/IEC 7811 six-bit code (character - 0x20) with
// odd parity in bit 6; tracks 2 and 3 the four-bit code (character - '0')
// with odd parity in bit 4. Each read track holds start sentinel, data, end
// sentinel and the longitudinal check character, as a reader delivers them.

namespace simcard {

using cardread::kHeaderSize;
using cardread::kRecordMark;
using cardread::kRecordSize;
inline constexpr size_t kAreaSize = cardread::kTrackAreaSize;

// The track as it sits on the stripe: data characters only, sentinels are
// added by the encoder.
struct SimTrack {
    std::string data;
    // The reader reports the track as failed (status 0) yet delivers its bytes.
    bool failed = false;
    // The stripe lacks the end sentinel (damaged or badly written card).
    bool omitEndSentinel = false;
};

// Faults of the record as a whole.
struct SimRecordFaults {
    bool wrongMark = false;    // mark sent little-endian
    bool wrongLength = false;  // length word sent little-endian
    // Only this many bytes of the record are sent.
    std::optional<size_t> cutAfter;
};

// One character's code with its odd parity bit (track 1, 2 or 3).
uint8_t EncodeCharacter(int track, char character);
// The stripe's bytes for a track: start sentinel, data, end sentinel
// (unless omitted), check character; at most kAreaSize bytes.
std::vector<uint8_t> EncodeTrack(int track, const SimTrack& stripe);

// The record for a read of the tracks in `selection` (bit 0 = track 1).
std::vector<uint8_t> BuildRecord(const std::array<SimTrack, 3>& card, uint8_t selection,
                                 const SimRecordFaults& faults);

}  // namespace simcard
