#include <algorithm>
#include <chrono>
#include <new>

#include "protocol/message_if.h"

namespace {

constexpr const char* kSoftwareErrorText =
    "Software error: Exception raised when processing response.";

}  // namespace

// --- replies ----------------------------------------------------------------

std::optional<std::string> CMessageIF::ParseReply(int command, const std::string& reply) {
    return ParseReplyText(command, reply);
}

std::optional<std::string> CMessageIF::ParseReplyText(int command, std::string_view reply) {
    if (command < 0 || command >= cmd::COUNT) return std::nullopt;
    try {
        if (reply.empty()) return std::nullopt;
        // The error status comes back as "STA<value>", not under its own name.
        const std::string_view name = command == cmd::ERR ? "STA" : kCommandTable[command].mnemonic;
        // A printer answers with the name first: the search is for the
        // replies that carry something before it.
        const bool first =
            reply.size() >= name.size() && std::equal(name.begin(), name.end(), reply.begin());
        const size_t at = first ? 0 : reply.find(name);
        if (at == std::string_view::npos) return std::nullopt;
        const size_t start = at + name.size();
        const size_t comma = reply.find(',', start);
        const size_t end = comma == std::string_view::npos ? reply.size() : comma;
        // Built in place: a polling page asks for thousands of these.
        return std::optional<std::string>(std::in_place, reply.data() + start, end - start);
    } catch (const std::exception&) {
        m_host.Message(kSoftwareErrorText, MsgButtons::Ok, MsgIcon::Exclamation);
        return std::nullopt;
    }
}

int CMessageIF::ReadFixedReply(uint8_t* buffer) {
    if (!m_link || !buffer) return 0;
    using Clock = std::chrono::steady_clock;
    // An empty read is "nothing yet" on most links (the parallel port says 0
    // while the card is still in the reader): the record ends only once the
    // link's own receive wait passes without a byte, or the link has failed.
    const auto wait = std::chrono::milliseconds(std::max(m_link->ReceiveWaitMs(), 0));
    Clock::time_point lastProgress = Clock::now();
    int received = 0;
    while (received < kCardRecordSize) {
        const int room = kCardRecordSize - received;
        const int n =
            m_link->Read(buffer + received, room, static_cast<int>(m_family & family::kA));
        if (n > 0) {
            received += std::min(n, room);
            lastProgress = Clock::now();
            continue;
        }
        // The wait counts from the last byte: a record that comes in
        // pieces is read whole however long it takes in all.
        if (m_link->HasFailed() || m_host.CancelRequested() ||
            Clock::now() - lastProgress >= wait) {
            break;
        }
    }
    return received;
}
