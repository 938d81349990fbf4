#include "protocol/card_record.h"

#include <algorithm>

#include "protocol/command_table.h"
#include "seams/text_scan.h"

namespace cardread {
namespace {

constexpr size_t kMarkOffset = 0;
constexpr size_t kLengthOffset = 4;
constexpr size_t kStatusOffset = 8;
constexpr size_t kTrackLengthOffset = 20;

constexpr uint8_t kSixBitMask = 0x3F;
constexpr uint8_t kFourBitMask = 0x0F;
constexpr char kEndSentinel = '?';

// Saturation point of the version reading, far above any firmware number.
constexpr int64_t kVersionLimit = int64_t{1} << 40;

struct FirmwareGate {
    uint32_t family;
    int64_t minimumHundredths;
    const char* message;
};

// Firmware before these versions does not know the card-read request.
constexpr FirmwareGate kFirmwareGates[] = {
    {family::kA, 401, "This function requires printer  \nfirmware version >=  v4.01  \n"},
    {family::kE, 302, "This function requires printer  \nfirmware version >=  v3.02  \n"},
    {family::kH, 202, "This function requires printer  \nfirmware version >=  v2.02  \n"},
};

uint32_t Word(const std::array<uint8_t, kRecordSize>& record, size_t offset) {
    return (uint32_t{record[offset]} << 24) | (uint32_t{record[offset + 1]} << 16) |
           (uint32_t{record[offset + 2]} << 8) | uint32_t{record[offset + 3]};
}

size_t TrackAreaOffset(int track) {
    return kHeaderSize + kTrackAreaSize * static_cast<size_t>(track - 1);
}

char DecodeCharacter(int track, uint8_t code) {
    if (track == 1) return static_cast<char>((code & kSixBitMask) + 0x20);
    return static_cast<char>('0' + (code & kFourBitMask));
}

std::string FailedText(int track) { return "Track" + std::to_string(track) + " FAILED"; }

TrackView JudgeTrack(const std::array<uint8_t, kRecordSize>& record, size_t received, int track,
                     bool selected) {
    const size_t index = static_cast<size_t>(track - 1);
    const uint32_t status = Word(record, kStatusOffset + 4 * index);
    const auto length = static_cast<int32_t>(Word(record, kTrackLengthOffset + 4 * index));
    // The length word is the printer's claim; decoding never leaves the
    // track's own area, nor reads bytes that did not arrive.
    const size_t claimed = static_cast<size_t>(std::clamp<int64_t>(length, 0, kTrackAreaSize));

    TrackView view;
    if (status == 0) {
        if (!selected) return view;
        view.text = claimed > 0 ? FailedText(track) : kNoDataText;
        view.led = TrackLed::Fail;
        return view;
    }

    const size_t area = TrackAreaOffset(track);
    const size_t arrived = received > area ? std::min(received - area, kTrackAreaSize) : 0;
    const size_t usable = std::min(claimed, arrived);
    for (size_t i = 0; i < usable; ++i) {
        const char c = DecodeCharacter(track, record[area + i]);
        view.text.push_back(c);
        if (c == kEndSentinel) {
            view.led = TrackLed::Pass;
            return view;
        }
    }
    if (view.text.empty()) view.text = kNoDataText;
    view.led = TrackLed::Fail;
    return view;
}

}  // namespace

CardReadView DecodeCardRecord(const std::array<uint8_t, kRecordSize>& record, size_t received,
                              uint8_t selection) {
    received = std::min(received, kRecordSize);
    CardReadView view;
    // A header cut short is zero-padded, and padding can complete a mark
    // whose first bytes arrived; such a record is not one the printer sent.
    if (received < kHeaderSize || Word(record, kMarkOffset) != kRecordMark) {
        view.verdict = RecordVerdict::InvalidData;
        for (int track = 1; track <= kTrackCount; ++track) {
            if (selection & TrackBit(track)) {
                view.tracks[static_cast<size_t>(track - 1)].text = kInvalidDataText;
            }
        }
        return view;
    }
    if (Word(record, kLengthOffset) != kRecordSize) {
        view.verdict = RecordVerdict::WrongLength;
        return view;
    }
    // Every track the printer reports as read is shown, asked for or not.
    for (int track = 1; track <= kTrackCount; ++track) {
        view.tracks[static_cast<size_t>(track - 1)] =
            JudgeTrack(record, received, track, (selection & TrackBit(track)) != 0);
    }
    return view;
}

int64_t VersionHundredths(std::string_view version) {
    size_t i = 0;
    auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    while (i < version.size() && isLetter(version[i])) ++i;
    while (i < version.size() && textscan::IsBlank(version[i])) ++i;
    bool negative = false;
    if (i < version.size() && (version[i] == '+' || version[i] == '-')) {
        negative = version[i] == '-';
        ++i;
    }
    int64_t whole = 0;
    while (i < version.size() && textscan::IsDigit(version[i])) {
        whole = std::min(whole * 10 + (version[i] - '0'), kVersionLimit);
        ++i;
    }
    int64_t fraction = 0;
    if (i < version.size() && version[i] == '.') {
        ++i;
        for (int place = 0; place < 2; ++place) {
            fraction *= 10;
            if (i < version.size() && textscan::IsDigit(version[i])) fraction += version[i++] - '0';
        }
    }
    const int64_t hundredths = whole * 100 + fraction;
    return negative ? -hundredths : hundredths;
}

std::optional<std::string> FirmwareGateMessage(uint32_t family,
                                               const std::optional<std::string>& version) {
    if (!version) return std::nullopt;
    for (const FirmwareGate& gate : kFirmwareGates) {
        if (gate.family != family) continue;
        if (VersionHundredths(*version) < gate.minimumHundredths) return std::string(gate.message);
        return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace cardread
