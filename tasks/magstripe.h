#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/card_record.h"

class CMessageIF;
class IHostServices;

namespace magstripe {

inline constexpr std::array<int, cardread::kTrackCount> kTrackLimits = {76, 37, 104};
inline constexpr const char* kNoTracksText = "WARNING! No tracks selected!   \n";

// The characters a track may hold: none below the blank. The encode frame
// carries the tracks as they are, so a control character would reach the
// printer inside it, and 0x1C 0x03 there would end the frame early and make
// whatever follows a request of its own.
constexpr bool IsTrackCharacter(char c) { return static_cast<unsigned char>(c) >= 0x20; }
bool IsTrackText(std::string_view text);

// The tracks the operator ticked, each with its text; an unticked track is
// not sent, whatever text it has.
struct EncodeRequest {
    std::array<bool, cardread::kTrackCount> selected{};
    std::array<std::string, cardread::kTrackCount> text;
    bool highCoercivity = false;
};
enum class EncodeResult {
    NoTracks,   // none ticked (the operator is told); nothing sent
    Cancelled,  // no data and the operator cancelled; nothing sent
    NotSent,    // the command did not go out whole (the operator is told)
    Sent,
};
EncodeResult Encode(CMessageIF& msg, IHostServices& host, const EncodeRequest& request);
// The printer's own encoding self test. False when the request did not leave.
bool SelfTest(CMessageIF& msg);

enum class ReadOutcome { NoTracks, Refused, NotSent, Read };
struct ReadResult {
    ReadOutcome outcome = ReadOutcome::NoTracks;
    cardread::CardReadView view;
};
// Asks the printer to read the selected tracks (bit 0 track 1...) and
// judges the record; the operator is told of every refusal.
ReadResult ReadCard(CMessageIF& msg, IHostServices& host, uint8_t selection);
bool Eject(CMessageIF& msg);

}  // namespace magstripe
