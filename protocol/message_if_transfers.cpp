#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>

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
    // The length field holds a signed 32-bit number: a larger image would
    // announce a wrong length and be streamed for minutes in vain.
    if (length > kLargestTransfer) return std::nullopt;

    std::string header = frame::Preamble();
    header += "REQ,";
    header += kCommandTable[cmd::FRM].mnemonic;
    header += std::to_string(length);
    header.push_back(',');
    header.push_back(static_cast<char>(frame::kFS));
    if (m_link->Write(frame::Bytes(header), static_cast<int>(header.size())) !=
        static_cast<int>(header.size())) {
        return std::nullopt;
    }

    const bool bytewise = m_link->GetLinkKind() == kLinkParallel;
    int64_t sent = 0;
    int64_t lastReported = 0;
    int chunks = 0;
    bool written = true;
    m_host.ShowProgress(kFirmwareProgressText, 0, length);
    // The file is read in large blocks; the printer still gets it in 1 KiB
    // pieces, each with one write (one byte a write on the parallel port).
    // A file that yields less than its length promised ends the data where
    // it ends.
    fileread::InBlocks(file, length, [&](const uint8_t* block, int64_t count) {
        for (int64_t at = 0; at < count; at += kFirmwareChunk) {
            const uint8_t* piece = block + at;
            const int size = static_cast<int>(std::min<int64_t>(kFirmwareChunk, count - at));
            // A printer that stopped taking data will not take the rest
            // either: each further write would only wait out the link's
            // limit again.
            if (bytewise) {
                for (int i = 0; i < size && written; ++i)
                    written = m_link->Write(piece + i, 1) == 1;
            } else {
                written = m_link->Write(piece, size) == size;
            }
            if (!written) return false;
            sent += size;
            // Byte-wise every chunk takes a thousand handshakes; the block
            // links take a chunk at once, or wait (and idle) inside the write.
            if (bytewise || ++chunks % kChunksPerIdleTick == 0) m_idle.Tick();
            if (sent - lastReported >= kProgressStep || sent == length) {
                m_host.ShowProgress(kFirmwareProgressText, sent, length);
                lastReported = sent;
            }
        }
        return true;
    });
    m_host.EndProgress();
    if (!written) return std::nullopt;

    const uint8_t etx = frame::kETX;
    m_link->Write(&etx, 1);

    m_host.Pause(kFirmwareReplyPauseMs);
    std::optional<std::string> checksum =
        ParseReplyText(cmd::CHK, ReadReplyText(static_cast<int>(m_family & family::kV)));
    if (!checksum) return std::nullopt;
    // Stated signed or unsigned: the 32 bits are the sum either way.
    return static_cast<int32_t>(ToUnsigned32(*checksum));
}

bool CMessageIF::SendLaminatorFirmware(CSourceFile& file) {
    if (!m_link) return false;
    const int64_t length = std::max<int64_t>(file.Length(), 0);
    std::string head = "\x01,REQ,LAM_FRM" + std::to_string(length) + ",\x1c,";
    // A link write takes a 32-bit count: a frame beyond it cannot be sent
    // whole, and reserving it would take gigabytes for nothing.
    if (length > static_cast<int64_t>(INT_MAX) - static_cast<int64_t>(head.size()) - 1) {
        m_host.Message(kNoMemoryText, MsgButtons::Ok);
        return false;
    }
    const size_t size = head.size() + static_cast<size_t>(length) + 1;
    const std::unique_ptr<uint8_t[]> text = Reserve(size);
    if (!text) return false;
    std::memcpy(text.get(), head.data(), head.size());
    // Half a firmware is no firmware: a file that cannot be read whole (it
    // failed, or shrank since its length was taken) is not sent at all.
    const fileread::Whole read = fileread::Into(file, text.get() + head.size(), length);
    if (read.failed || read.bytes != length) return false;
    // The frame is text: it ends at the first zero byte, where the ETX goes.
    const size_t end = strnlen(reinterpret_cast<const char*>(text.get()), size - 1);
    text[end] = frame::kETX;
    const int total = static_cast<int>(end + 1);
    return m_link->Write(text.get(), total) == total && m_link->ConfirmWritten(kConfirmGraceMs);
}

CMessageIF::FileSendResult CMessageIF::SendFile(CSourceFile& file) {
    FileSendResult result;
    result.length = std::max<int64_t>(file.Length(), 0);
    // A link write takes a 32-bit count: a larger file cannot go in the one
    // write a print file takes.
    if (result.length > kLargestTransfer) {
        result.outcome = FileSend::TooLarge;
        return result;
    }
    const std::unique_ptr<uint8_t[]> content = Reserve(static_cast<size_t>(result.length));
    if (!content) {
        result.outcome = FileSend::NoMemory;
        return result;
    }
    // Part of a print job prints a spoilt card: a file that cannot be read
    // whole is not sent at all.
    const fileread::Whole read = fileread::Into(file, content.get(), result.length);
    if (read.failed || read.bytes != result.length) {
        result.outcome = FileSend::ReadFailed;
        return result;
    }
    if (result.length == 0) {
        result.outcome = FileSend::Sent;
        return result;
    }
    const int written = m_link ? m_link->Write(content.get(), static_cast<int>(result.length)) : 0;
    result.sent = std::max(written, 0);
    const bool taken = result.sent == result.length && m_link->ConfirmWritten(kConfirmGraceMs);
    result.outcome = taken ? FileSend::Sent : FileSend::Cut;
    return result;
}

std::unique_ptr<uint8_t[]> CMessageIF::Reserve(size_t size) {
    // A size the memory cannot hold is an outcome, not an exception.
    std::unique_ptr<uint8_t[]> area(new (std::nothrow) uint8_t[std::max<size_t>(size, 1)]);
    if (!area) m_host.Message(kNoMemoryText, MsgButtons::Ok);
    return area;
}

CMessageIF::EncodeSend CMessageIF::SendMagneticEncode(const std::string& track1,
                                                      const std::string& track2,
                                                      const std::string& track3,
                                                      bool highCoercivity) {
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
        return EncodeSend::Cancelled;
    }
    const int size = static_cast<int>(command.size());
    return WriteAll(frame::Bytes(command), size) && m_link->ConfirmWritten(kConfirmGraceMs)
               ? EncodeSend::Sent
               : EncodeSend::NotSent;
}
