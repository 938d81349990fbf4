#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What the simulated printer recognised in its input stream.
enum class SimFrameKind {
    Request,    // ENQ preamble, SOH, text, ",", FS, ETX
    Firmware,   // the "REQ,FRM<L>," header, L data bytes, ETX
    Laminator,  // SOH ",REQ,LAM_FRM<N>" "," FS "," text ETX
    MagEncode,  // SOH "NOC..." with ",MAG1,"/",MAG2,"/",MAG3," fields, FS ETX
    Raw,        // anything that is not a well-formed frame (a print file, junk)
};

const char* SimFrameKindName(SimFrameKind kind);

struct SimFrame {
    SimFrameKind kind = SimFrameKind::Raw;
    // The frame's bytes as received, the first kMaxRecordedBytes of them.
    std::string bytes;
    uint64_t totalBytes = 0;
    // "REQ,", "REQ,STA,", "REQ,MOD," or empty (numbered requests and the
    // transfers carry no prefix).
    std::string prefix;
    // The command word ("VRS", "DEF,RST", "QPR", "FRM", "LAM_FRM", "NOC").
    std::string mnemonic;
    // Whatever follows the mnemonic: the value of a modify request, the item
    // number, the length field of a transfer, the encode options and tracks.
    std::string parameter;
    // Transfers only: the payload (first kMaxRecordedBytes), its length and
    // its unsigned 32-bit byte sum.
    std::string data;
    uint64_t dataLength = 0;
    uint32_t dataSum = 0;

    bool operator==(const SimFrame&) const = default;
};

// Cuts a byte stream from the host into frames. Frames may arrive split at
// any byte or several at once; the output does not depend on how the stream
// was cut, apart from Raw stretches, which arrive in pieces marked as
// continuations (the printer joins them).
//
// Memory is bounded whatever arrives: a frame body longer than any request
// the host can build is dropped as Raw, and transfer payloads and raw
// stretches are recorded only up to kMaxRecordedBytes (counted beyond).
class CSimFrameParser {
public:
    static constexpr size_t kMaxBody = 2048;  // the host never frames 1024 or more
    static constexpr size_t kMaxRecordedBytes = 64 * 1024;

    struct Output {
        SimFrame frame;
        // A Raw piece that directly continues the previous Raw piece.
        bool continuation = false;
    };

    void Feed(const uint8_t* data, size_t length, std::vector<Output>& out);
    // Drops any partial frame: a new connection starts clean.
    void Reset();

    // The printer's command words, longest match wins ("DEF,RST" over "DEF").
    static const std::vector<std::string_view>& Vocabulary();
    // Splits "<mnemonic><parameter>" by the longest vocabulary word (or extra
    // word) that starts the text; without one, the leading capitals and
    // underscores are taken as the mnemonic.
    static void SplitMnemonic(std::string_view text, const std::vector<std::string>& extraWords,
                              std::string& mnemonic, std::string& parameter);

private:
    enum class State { Idle, Preamble, Body, FirmwareData, FirmwareEnd, LaminatorText };

    // Returns true when the byte must be looked at again in the new state.
    bool Step(uint8_t byte, std::vector<Output>& out);
    void AppendRaw(std::string_view bytes);
    void FlushRaw(std::vector<Output>& out);
    void Emit(SimFrame frame, std::vector<Output>& out);
    void AbortToRaw();
    void FinishBody(std::vector<Output>& out);
    std::string PreambleBytes() const;
    bool BodyTakesAnyByte() const;
    // A transfer header: `head`, decimal length digits, `tail`. Starts the
    // transfer's record; false when the body is no such header.
    bool StartTransfer(std::string_view head, std::string_view tail, SimFrameKind kind,
                       const char* mnemonic, uint64_t& length);
    // The ETX that ends a transfer: the record goes out, the parser is idle.
    void FinishTransfer(std::vector<Output>& out);
    bool StartFirmware();
    bool StartLaminator();
    void AddPayload(uint8_t byte);
    void AddPayload(const uint8_t* bytes, size_t count);

    State m_state = State::Idle;
    size_t m_enqCount = 0;
    std::string m_body;
    // Raw bytes not yet handed out, with the count of those beyond the cap.
    std::string m_raw;
    uint64_t m_rawTotal = 0;
    // The last thing handed out was Raw: the next Raw piece continues it.
    bool m_lastWasRaw = false;
    SimFrame m_transfer;
    uint64_t m_remaining = 0;
};
