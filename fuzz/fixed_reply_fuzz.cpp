// The 548-byte card record read by ReadFixedReply from a link that returns
// arbitrary counts: pieces of any size, zero, negative error values, and
// counts larger than the room it was given. The loop must stay inside the
// caller's buffer, end after the first empty read, and keep every byte an
// honest link delivered, in order.
//
// Input: per Read, a mode byte and a size byte or two; the bytes delivered
// come from the rest of the input.

#include <cstring>

#include "fuzz/fuzz_support.h"
#include "links/character_interface.h"
#include "protocol/message_if.h"

namespace {

constexpr int kRecord = CMessageIF::kCardRecordSize;

class PieceLink : public CCharacterInterface {
public:
    explicit PieceLink(FuzzInput& in) : m_in(in) {}

    const uint8_t* base = nullptr;  // the caller's buffer
    int reads = 0;
    bool lied = false;      // a count beyond what was stored
    std::string delivered;  // every byte stored, in order
    bool ended = false;     // an empty read was returned

    int Open() override { return 1; }
    void Close() override {}
    int Write(const uint8_t*, int length) override { return length; }
    // No wait through empty reads: the first one ends the record.
    int ReceiveWaitMs() const override { return 0; }
    int Read(uint8_t* buffer, int capacity, int) override {
        ++reads;
        FUZZ_CHECK(capacity >= 1);
        // Never beyond the caller's buffer (once the record is being read).
        if (base != nullptr) FUZZ_CHECK(buffer >= base && buffer + capacity <= base + kRecord);
        // No read after the link said it had nothing.
        FUZZ_CHECK(!ended);
        const uint8_t mode = m_in.Byte();
        if (m_in.Remaining() == 0 || mode < 0x20) {
            ended = true;
            return mode & 1 ? 0 : -1 - m_in.Range(0, 10000);
        }
        const int want = m_in.Range(1, 2 * kRecord);
        const int stored = std::min({want, capacity, static_cast<int>(m_in.Remaining())});
        if (stored == 0) {
            ended = true;
            return 0;
        }
        const std::string bytes = m_in.Bytes(static_cast<size_t>(stored));
        std::memcpy(buffer, bytes.data(), bytes.size());
        delivered += bytes;
        if (mode >= 0xF0 && want > stored) {
            // A link that claims more than it stored (or than it was offered).
            lied = true;
            return want;
        }
        return stored;
    }

private:
    FuzzInput& m_in;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    FuzzHost host;
    CMessageIF msg(host);
    PieceLink* link = nullptr;
    msg.SetLinkFactory([&](int, const std::string&) {
        auto made = std::make_unique<PieceLink>(in);
        link = made.get();
        return made;
    });
    // Open and let detection take one read (its answer is what the input says).
    FUZZ_CHECK(msg.SelectPort("USB") == 1);
    link->reads = 0;
    link->delivered.clear();
    link->ended = false;

    // Exactly the record's size on the heap, so a write past it is caught.
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kRecord]);
    std::memset(buffer.get(), 0, kRecord);
    link->base = buffer.get();
    msg.ReadFixedReply(buffer.get());

    // Every read but the last added at least one byte.
    FUZZ_CHECK(link->reads <= kRecord + 1);
    if (!link->lied) {
        FUZZ_CHECK(link->delivered.size() <= static_cast<size_t>(kRecord));
        FUZZ_CHECK(std::memcmp(buffer.get(), link->delivered.data(), link->delivered.size()) == 0);
        // Short of a full record only when the link stopped delivering.
        if (link->delivered.size() < static_cast<size_t>(kRecord)) FUZZ_CHECK(link->ended);
    }
    FUZZ_CHECK(host.boxes.empty());
    return 0;
}
