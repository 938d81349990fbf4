#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "links/character_interface.h"
#include "links/link_factory.h"
#include "protocol/card_record.h"
#include "protocol/command_table.h"
#include "protocol/main_sheet_if.h"
#include "protocol/source_file.h"
#include "protocol/text_window.h"
#include "seams/host_services.h"
#include "seams/text_scan.h"

// The program's one protocol object. Pages name commands by index and call a
// request form; it frames the request, applies the family gate, writes it
// through the current link and, for the reading forms, hands back the reply.
//
// Texts are 8-bit strings. Reading forms return owned values: "no value" is
// std::nullopt, distinct from the empty text.
class CMessageIF {
public:
    static constexpr int kAreaSize = 1024;  // frame and reply limit
    static constexpr int kCardRecordSize = static_cast<int>(cardread::kRecordSize);
    static constexpr int kRetryPauseMs = 2000;
    static constexpr int kModifyPauseMs = 2200;
    static constexpr int kShortPauseMs = 200;
    // How long a write the printer answers nothing to is given for a reset
    // to come back before it counts as taken (see ConfirmWritten).
    static constexpr int kConfirmGraceMs = 200;
    static constexpr int kFirmwareReplyPauseMs = 500;
    static constexpr int kFirmwareChunk = 1024;
    static constexpr const char* kConnectFailedText =
        "Could not connect to the Printer. \nEnsure cable is connected and printer is switched on.";

    // Without a link factory every port fails to open; the application hands
    // in the one for the real or the simulated printer.
    explicit CMessageIF(IHostServices& host, LinkFactory links = {});
    virtual ~CMessageIF();

    CMessageIF(const CMessageIF&) = delete;
    CMessageIF& operator=(const CMessageIF&) = delete;

    // --- wiring -----------------------------------------------------------
    void SetMainSheet(IMainSheet* sheet) { m_mainSheet = sheet; }
    // Replaces how SelectPort creates links.
    void SetLinkFactory(LinkFactory factory) { m_linkFactory = std::move(factory); }
    // What the connection doctor finds for the port, shown as the details
    // of the box that asks to retry a failed connect; none: the box alone.
    using ConnectDiagnosis = std::function<std::string(int kind, const std::string& portName)>;
    void SetConnectDiagnosis(ConnectDiagnosis diagnosis) { m_diagnosis = std::move(diagnosis); }
    // The link kind a port name maps to: "USB" 0, "Ethernet" 2, anything else 1.
    static int LinkKindForPort(const std::string& portName);

    // --- connection -------------------------------------------------------
    int SelectPort(const std::string& portName);
    int ConnectPrinter();
    void DetectPrinterFamily();
    uint32_t GetPrinterFamily() const { return m_family; }
    // The kind of the current link (kLinkUsb...); no value while there is none.
    std::optional<int> CurrentLinkKind() const;

    // --- request forms ----------------------------------------------------
    std::string RequestNumbered(int command, int8_t number);
    // As above; `answered` tells whether the frame went out and the printer
    // sent anything back at all. A request the family gate held back, one the
    // link refused and one the printer let pass in silence all read as the
    // empty text, just like an empty reply; a caller looping over items needs
    // to tell them apart to stop.
    std::string RequestNumbered(int command, int8_t number, bool& answered);
    std::optional<std::string> RequestStatus(int command);
    // True when the frame went out (then after its pause).
    bool SendModify(int command, const std::string& text);
    bool SendCommandAndWait(int command, const std::string& text);
    // True when the frame went out. A caller that goes on to pause, read or
    // claim success must not do so for a command the printer never saw.
    bool SendCommand(int command, const std::optional<std::string>& text = std::nullopt);
    // The text as typed, then `pauseMs`; true as SendCommand.
    bool SendCommandText(const std::optional<std::string>& text, int pauseMs = 0);
    void ShowStatus(int command, CTextWindow& window);
    void SendModifyFromControl(int command, const CTextWindow& window);

    // --- replies ----------------------------------------------------------
    std::optional<std::string> ParseReply(int command, const std::string& reply);
    // Fills the caller's kCardRecordSize-byte buffer, reading on through empty reads; stops
    // early (keeping what arrived) once nothing has come for the link's
    // receive wait, or the link has failed. Returns the number of bytes
    // received.
    int ReadFixedReply(uint8_t* buffer);

    // --- transfers --------------------------------------------------------
    // The number the printer reports after "CHK" for the image; no value when
    // the header or a piece of the image could not be written, or the reply
    // carried no "CHK" field.
    // (A plain 0 for those would pass for the checksum of an empty or
    // all-zero image.)
    std::optional<int32_t> SendFirmwareImage(CSourceFile& file);
    // True when the whole frame went out.
    bool SendLaminatorFirmware(CSourceFile& file);

    // The largest file a transfer carries: the firmware frame's length field
    // is a signed 32-bit number, and a print file goes in one link write,
    // whose count is one too.
    static constexpr int64_t kLargestTransfer = INT32_MAX;
    enum class FileSend {
        Sent,        // every byte went out
        TooLarge,    // beyond kLargestTransfer: refused before a byte was read
        NoMemory,    // the content could not be held (the operator is told)
        ReadFailed,  // the file gave fewer bytes than its length: nothing sent
        Cut,         // the link took only `sent` bytes
    };
    struct FileSendResult {
        FileSend outcome = FileSend::Cut;
        int64_t sent = 0;
        int64_t length = 0;
    };
    FileSendResult SendFile(CSourceFile& file);

    enum class EncodeSend { Cancelled, NotSent, Sent };
    // Sent only when the whole command went out.
    EncodeSend SendMagneticEncode(const std::string& track1, const std::string& track2,
                                  const std::string& track3, bool highCoercivity);

private:
    enum class Prefix { None, Req, Status, Modify };
    // The preamble and the prefix's text.
    static std::string_view FrameHead(Prefix prefix);

    // Frames and writes one request. Returns false when nothing went out:
    // too long, gated off by the family, or the link refused it.
    // `writeFailed` tells the last case apart.
    bool SendFrame(Prefix prefix, std::string_view mnemonic, std::string_view parameter, bool gated,
                   uint32_t mask, bool& writeFailed);
    // The status request of a valid command index, from frames built once;
    // false when the family gate held it back or the link refused it.
    bool SendStatusFrame(int command);
    // The sending forms: on a failed write, reconnect; otherwise pause.
    // True when the frame went out.
    bool SendAndPause(Prefix prefix, int command, std::string_view parameter, int pauseMs);
    // After a frame went out: the pause, then the link's word that the
    // printer took it; a frame it did not take reconnects.
    bool PauseAndConfirm(int pauseMs);
    // One read into a fresh reply area; the reply as text up to its first
    // zero, in the reply area itself, valid until the next read.
    std::string_view ReadReplyText(int paced);
    std::optional<std::string> ParseReplyText(int command, std::string_view reply);
    bool WriteAll(const uint8_t* data, int length);
    // Sizes a transfer's area; the operator is told when the memory is not
    // there.
    std::unique_ptr<uint8_t[]> Reserve(size_t size);

    IHostServices& m_host;
    // Paces the idle calls of the transfers, whose chunks may each go out at
    // once yet add up to seconds.
    CIdlePacer m_idle{&m_host};
    std::unique_ptr<CCharacterInterface> m_link;
    IMainSheet* m_mainSheet = nullptr;
    uint32_t m_family = family::kV;
    LinkFactory m_linkFactory;
    bool m_connecting = false;
    ConnectDiagnosis m_diagnosis;
    std::string m_portName;
    // The reply area of the reading forms; its first m_replyUsed bytes hold
    // the last reply, what lies beyond them is never read.
    std::array<uint8_t, kAreaSize> m_replyArea{};
    size_t m_replyUsed = 0;

public:
    // Decimal reading used throughout: leading white space, an optional sign,
    // digits up to the first other character; no digits give 0; values beyond
    // the signed 32-bit range saturate.
    static int32_t ToInteger(const std::string& text) { return textscan::LeadingInteger(text); }
    // The same reading, modulo 2^32: a printer may state a 32-bit value
    // (a checksum, a counter) signed or unsigned.
    static uint32_t ToUnsigned32(const std::string& text) {
        return static_cast<uint32_t>(static_cast<uint64_t>(textscan::LeadingInteger64(text)));
    }
};
