#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The card-read record the printer sends for "MSV", what a read shows for
// each track, and the firmware versions below which a printer cannot read.
//
// Record layout, 548 bytes (header words big-endian, lengths signed):
//   0   mark 0x20510000          4   record length 548
//   8   status of tracks 1-3 (non-zero: the printer read the track)
//   20  data lengths of tracks 1-3
//   32  track 1 area, 204 track 2 area, 376 track 3 area, 172 bytes each.
// Track 1 holds one ISO/IEC 7811 six-bit code per byte (bits 0-5), tracks 2
// and 3 one four-bit code per byte (bits 0-3); parity and upper bits are
// ignored.
namespace cardread {

inline constexpr size_t kRecordSize = 548;
inline constexpr size_t kHeaderSize = 32;
inline constexpr size_t kTrackAreaSize = 172;
inline constexpr uint32_t kRecordMark = 0x20510000;
inline constexpr int kTrackCount = 3;

// The selection byte sent after "MSV": bit 0 track 1, bit 1 track 2, bit 2
// track 3.
inline constexpr uint8_t TrackBit(int track) { return static_cast<uint8_t>(1u << (track - 1)); }

// The indicator states of a track; the numbers are the LED button's states.
enum class TrackLed : unsigned { Off = 1, Pass = 2, Fail = 3 };

inline constexpr const char* kInvalidDataText = "ERROR: Invalid data received from printer";
inline constexpr const char* kNoDataText = "<no data found>";
inline constexpr const char* kFirmwareIncompatibleText = "ERROR! Firmware incompatibility   ";

struct TrackView {
    std::string text;
    TrackLed led = TrackLed::Off;
};

enum class RecordVerdict {
    Decoded,      // every track judged on its own
    InvalidData,  // wrong mark or no complete header: the selected tracks say so
    WrongLength,  // a record of another layout: kFirmwareIncompatibleText
};

struct CardReadView {
    RecordVerdict verdict = RecordVerdict::Decoded;
    std::array<TrackView, kTrackCount> tracks;
};

// Judges a record. `record` is zero wherever nothing arrived; `received` is
// how many bytes did arrive, so a record cut short never shows the zeros it
// was padded with as track data. `selection` is the byte sent with "MSV".
CardReadView DecodeCardRecord(const std::array<uint8_t, kRecordSize>& record, size_t received,
                              uint8_t selection);

// The number in a "VRS" value after its leading letters, in hundredths and
// truncated ("A4.01" gives 401, "H2.019" 201), read up to the first character
// that cannot continue it; no number gives 0. Whole hundredths compare
// exactly with the two-decimal thresholds, where floating point could put
// 4.01 a hair below 4.01.
int64_t VersionHundredths(std::string_view version);

// The message that refuses a read on firmware too old to answer "MSV", or
// none. A printer that sent no "VRS" value at all is not refused: a version
// it did not report is not evidence of old firmware, and a read that then
// fails shows its own error.
std::optional<std::string> FirmwareGateMessage(uint32_t family,
                                               const std::optional<std::string>& version);

}  // namespace cardread
