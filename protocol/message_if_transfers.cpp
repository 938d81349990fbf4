#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "protocol/frame_format.h"
#include "protocol/message_if.h"

namespace {

constexpr const char* kNoMemoryText = "Insufficient system memory";
constexpr const char* kNoMagDataText =
    "WARNING! No magnetic data found!   \n\nPress OK to send anyway.";
constexpr const char* kFirmwareProgressText = "Sending firmware to the printer";
// Progress is reported every 64 KiB: often enough to move the bar, rarely
// enough not to slow a large image.
constexpr int64_t kProgressStep = 64 * 1024;
// On the block links 8 KiB go out in well under a slice even at USB full
// speed; ticking more often only costs clock reads.
constexpr int kChunksPerIdleTick = 8;

}  // namespace

// --- transfers --------------------------------------------------------------

std::optional<int32_t> CMessageIF::SendFirmwareImage(CSourceFile& file) {
    if (!m_link) return std::nullopt;
    const int64_t length = std::max<int64_t>(file.Length(), 0);
    file.SeekToStart();
    const int32_t lengthField = static_cast<int32_t>(static_cast<uint32_t>(length));

    std::string header = frame::Preamble();
    header += "REQ,";
    header += kCommandTable[cmd::FRM].mnemonic;
    header += std::to_string(lengthField);
    header.push_back(',');
    header.push_back(static_cast<char>(frame::kFS));
    if (m_link->Write(frame::Bytes(header), static_cast<int>(header.size())) !=
        static_cast<int>(header.size())) {
        return std::nullopt;
    }

    const bool bytewise = m_link->GetLinkKind() == kLinkParallel;
    uint8_t chunk[kFirmwareChunk];
    int64_t sent = 0;
    int64_t lastReported = 0;
    int chunks = 0;
    m_host.ShowProgress(kFirmwareProgressText, 0, length);
    while (sent < length) {
        const int64_t want = std::min<int64_t>(kFirmwareChunk, length - sent);
        const int64_t got = file.Read(chunk, want);
        // A file that yields less than its length promised ends the data here
        // rather than spinning on empty reads.
        if (got <= 0) break;
        // A printer that stopped taking data will not take the rest either:
        // each further write would only wait out the link's limit again.
        bool written = true;
        if (bytewise) {
            for (int64_t i = 0; i < got && written; ++i) written = m_link->Write(chunk + i, 1) == 1;
        } else {
            written = m_link->Write(chunk, static_cast<int>(got)) == static_cast<int>(got);
        }
        if (!written) {
            m_host.EndProgress();
            return std::nullopt;
        }
        sent += got;
        // Byte-wise every chunk takes a thousand handshakes; the block links
        // take a chunk at once, or wait (and idle) inside the write.
        if (bytewise || ++chunks % kChunksPerIdleTick == 0) m_idle.Tick();
        if (sent - lastReported >= kProgressStep || sent == length) {
            m_host.ShowProgress(kFirmwareProgressText, sent, length);
            lastReported = sent;
        }
    }
    m_host.EndProgress();

    const uint8_t etx = frame::kETX;
    m_link->Write(&etx, 1);

    m_host.Pause(kFirmwareReplyPauseMs);
    std::optional<std::string> checksum =
        ParseReplyText(cmd::CHK, ReadReplyText(static_cast<int>(m_family & family::kV)));
    if (!checksum) return std::nullopt;
    return ToInteger(*checksum);
}

bool CMessageIF::SendLaminatorFirmware(CSourceFile& file) {
    if (!m_link) return false;
    const int64_t fileLength = std::max<int64_t>(file.Length(), 0);
    const uint32_t length = static_cast<uint32_t>(fileLength);
    std::string head = "\x01,REQ,LAM_FRM" + std::to_string(length) + ",\x1c,";
    std::vector<uint8_t> text;
    try {
        // A link write takes a 32-bit count: a frame beyond it cannot be
        // sent whole, and reserving it would take gigabytes for nothing.
        if (fileLength > static_cast<int64_t>(INT_MAX) - static_cast<int64_t>(head.size()) - 1) {
            throw std::bad_alloc();
        }
        text.assign(head.size() + static_cast<size_t>(length) + 64, 0);
    } catch (const std::bad_alloc&) {
        m_host.Message(kNoMemoryText, MsgButtons::Ok);
        return false;
    }
    std::memcpy(text.data(), head.data(), head.size());
    file.SeekToStart();
    size_t filled = head.size();
    size_t remaining = length;
    while (remaining > 0) {
        const int64_t got = file.Read(text.data() + filled, static_cast<int64_t>(remaining));
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
        remaining -= static_cast<size_t>(got);
    }
    // The frame is text: it ends at the first zero byte, where the ETX goes.
    const size_t end = strnlen(reinterpret_cast<const char*>(text.data()), text.size() - 1);
    text[end] = frame::kETX;
    const int total = static_cast<int>(end + 1);
    return m_link->Write(text.data(), total) == total;
}

void CMessageIF::SendFile(CSourceFile& file) {
    if (!m_link) return;
    const int64_t length = std::max<int64_t>(file.Length(), 0);
    std::vector<uint8_t> content;
    try {
        // A link write takes a 32-bit count: a larger file cannot be sent whole.
        if (length > INT_MAX) throw std::bad_alloc();
        content.assign(static_cast<size_t>(length), 0);
    } catch (const std::bad_alloc&) {
        m_host.Message(kNoMemoryText, MsgButtons::Ok);
        return;
    }
    file.SeekToStart();
    size_t filled = 0;
    while (filled < content.size()) {
        const int64_t got =
            file.Read(content.data() + filled, static_cast<int64_t>(content.size() - filled));
        if (got <= 0) break;
        filled += static_cast<size_t>(got);
    }
    // Only the bytes the file really gave: zero padding would print garbage.
    m_link->Write(content.data(), static_cast<int>(filled));
}

void CMessageIF::SendMagneticEncode(const std::string& track1, const std::string& track2,
                                    const std::string& track3, bool highCoercivity) {
    std::optional<std::string> model = RequestStatus(cmd::MDL);
    const bool model10 = model && ToInteger(*model) == 10;

    std::string command = "\x01";
    command += model10 ? "NOC1,MGVON,VER5," : "NOC0,BBB,MGVON,VER5,";
    command += highCoercivity ? "COEH" : "COEL";
    const std::string* tracks[] = {&track1, &track2, &track3};
    for (int i = 0; i < 3; ++i) {
        if (tracks[i]->empty()) continue;
        command += ",MAG" + std::to_string(i + 1) + ",";
        command += *tracks[i];
    }
    command.push_back(static_cast<char>(frame::kFS));
    command.push_back(static_cast<char>(frame::kETX));

    if (track1.empty() && track2.empty() && track3.empty() &&
        m_host.Message(kNoMagDataText, MsgButtons::OkCancel) == MsgResult::Cancel) {
        return;
    }
    if (m_link && command.size() <= static_cast<size_t>(INT_MAX)) {
        m_link->Write(frame::Bytes(command), static_cast<int>(command.size()));
    }
}
