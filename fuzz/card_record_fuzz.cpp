// The 548-byte card-read record as the printer (or a broken link) could
// deliver it, cut short anywhere, and the version texts that gate a read.
// Decoding stays inside the record and the bytes that arrived; a record the
// simulated printer encodes from any track texts reads back as written.
//
// Input: a mode byte, selection byte, received count (2 bytes); then either
// the record's bytes (mode even) or three track texts and fault flags for
// the encoder (mode odd); the rest is a version text.

#include <cstring>

#include "fuzz/fuzz_support.h"
#include "protocol/card_record.h"
#include "protocol/command_table.h"
#include "sim/sim_card.h"

namespace {

using cardread::TrackLed;

constexpr size_t kRecord = cardread::kRecordSize;

bool IsTrackCharacter(int track, char c) {
    const auto byte = static_cast<unsigned char>(c);
    return track == 1 ? byte >= 0x20 && byte <= 0x5F : byte >= '0' && byte <= '?';
}

void CheckView(const cardread::CardReadView& view) {
    for (int track = 1; track <= cardread::kTrackCount; ++track) {
        const cardread::TrackView& t = view.tracks[static_cast<size_t>(track - 1)];
        FUZZ_CHECK(t.led == TrackLed::Off || t.led == TrackLed::Pass || t.led == TrackLed::Fail);
        if (view.verdict != cardread::RecordVerdict::Decoded) {
            FUZZ_CHECK(t.led == TrackLed::Off);
            continue;
        }
        if (t.led == TrackLed::Pass) {
            // Passed: decoded characters ending at the first end sentinel.
            FUZZ_CHECK(!t.text.empty() && t.text.size() <= cardread::kTrackAreaSize);
            FUZZ_CHECK(t.text.find('?') == t.text.size() - 1);
            for (char c : t.text) FUZZ_CHECK(IsTrackCharacter(track, c));
        } else if (t.led == TrackLed::Fail && t.text != cardread::kNoDataText &&
                   t.text != "Track" + std::to_string(track) + " FAILED") {
            FUZZ_CHECK(t.text.size() <= cardread::kTrackAreaSize);
            FUZZ_CHECK(t.text.find('?') == std::string::npos);
            for (char c : t.text) FUZZ_CHECK(IsTrackCharacter(track, c));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    const uint8_t selection = in.Byte() & 0x07;
    const size_t received = in.Word() % (kRecord + 64);
    std::array<uint8_t, kRecord> record{};

    if ((mode & 1) == 0) {
        const std::string bytes = in.Bytes(kRecord);
        std::memcpy(record.data(), bytes.data(), bytes.size());
        const cardread::CardReadView view = cardread::DecodeCardRecord(record, received, selection);
        CheckView(view);
    } else {
        // The simulated printer encodes a card; the decoder reads it back.
        std::array<simcard::SimTrack, 3> card;
        for (simcard::SimTrack& track : card) {
            const uint8_t flags = in.Byte();
            track.data = in.Bytes(in.Range(0, 180));
            track.failed = flags & 1;
            track.omitEndSentinel = flags & 2;
        }
        simcard::SimRecordFaults faults;
        if (mode & 2) faults.cutAfter = received;
        const std::vector<uint8_t> built = simcard::BuildRecord(card, selection, faults);
        FUZZ_CHECK(built.size() <= kRecord);
        std::memcpy(record.data(), built.data(), built.size());
        const cardread::CardReadView view =
            cardread::DecodeCardRecord(record, built.size(), selection);
        CheckView(view);
        if (built.size() == kRecord) FUZZ_CHECK(view.verdict == cardread::RecordVerdict::Decoded);
        for (int i = 0; i < 3 && built.size() == kRecord; ++i) {
            const simcard::SimTrack& track = card[static_cast<size_t>(i)];
            const cardread::TrackView& got = view.tracks[static_cast<size_t>(i)];
            const bool read = (selection & (1u << i)) != 0 && !track.data.empty();
            if (!read) {
                FUZZ_CHECK(got.led == TrackLed::Off || (selection & (1u << i)));
                continue;
            }
            bool plain = !track.failed && !track.omitEndSentinel && track.data.size() <= 168;
            for (char c : track.data) plain = plain && IsTrackCharacter(i + 1, c) && c != '?';
            // Sentinels excepted, characters the track can hold come back as
            // they were written.
            if (plain) {
                const std::string start = i == 0 ? "%" : ";";
                FUZZ_CHECK(got.led == TrackLed::Pass);
                FUZZ_CHECK(got.text == start + track.data + "?");
            }
        }
    }

    const std::string version = in.Rest();
    const int64_t hundredths = cardread::VersionHundredths(version);
    (void)hundredths;
    for (uint32_t familyWord : {family::kA, family::kE, family::kH, family::kV}) {
        const std::optional<std::string> gate = cardread::FirmwareGateMessage(familyWord, version);
        if (gate) FUZZ_CHECK(gate->find("firmware version") != std::string::npos);
    }
    return 0;
}
