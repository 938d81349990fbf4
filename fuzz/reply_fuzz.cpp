// Replies to status and numbered requests: any bytes, any length, zero bytes
// included, as the printer or a broken link could deliver them. Checks the
// value the protocol object hands back against the reply rules: text up to
// the first zero byte within the 1024-byte area, the value after the first
// occurrence of the name up to the next comma, "ERR" looked for after "STA",
// "TCQ" reduced to its low 12 bits; the family from the first letter after
// "VRS".
//
// Input: command byte, flags byte, length of the detection reply (2 bytes),
// the detection reply, the request's reply (the rest).

#include <charconv>
#include <cstring>

#include "fuzz/fuzz_support.h"
#include "links/character_interface.h"
#include "protocol/command_table.h"
#include "protocol/message_if.h"
#include "seams/text_scan.h"

namespace {

constexpr size_t kArea = CMessageIF::kAreaSize;

// Hands out one queued reply per Read, cut to the capacity; counts writes.
class ReplyLink : public CCharacterInterface {
public:
    std::vector<std::string> replies;
    size_t next = 0;
    int writes = 0;
    bool failWrites = false;

    int Open() override { return 1; }
    void Close() override {}
    int Write(const uint8_t*, int length) override {
        ++writes;
        return failWrites ? 0 : length;
    }
    int Read(uint8_t* buffer, int capacity, int) override {
        FUZZ_CHECK(capacity == static_cast<int>(kArea));
        if (next >= replies.size()) return -1;
        const std::string& reply = replies[next++];
        if (reply.empty()) return 0;
        const size_t n = std::min(reply.size(), static_cast<size_t>(capacity));
        std::memcpy(buffer, reply.data(), n);
        return static_cast<int>(n);
    }
};

// The reply as the protocol object sees it: the first 1024 bytes, up to the
// first zero byte.
std::string AsText(const std::string& reply) {
    std::string text = reply.substr(0, kArea);
    return text.substr(0, text.find('\0'));
}

std::optional<std::string> ExpectedValue(int command, const std::string& text) {
    if (text.empty()) return std::nullopt;
    const std::string name =
        command == cmd::ERR ? "STA" : std::string(kCommandTable[command].mnemonic);
    const size_t at = text.find(name);
    if (at == std::string::npos) return std::nullopt;
    const size_t start = at + name.size();
    const size_t comma = text.find(',', start);
    return text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
}

bool IsFamilyWord(uint32_t word) {
    for (uint32_t w : {family::kOther, family::kA, family::kV, family::kE, family::kH, family::kJ,
                       family::kQ, family::kU}) {
        if (word == w) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int command = in.Byte() % cmd::COUNT;
    const uint8_t flags = in.Byte();
    const bool numbered = flags & 1;
    const bool failWrite = (flags & 0x0E) == 0x0E;  // one input in eight
    const auto number = static_cast<int8_t>(in.Byte());
    const std::string detection = in.Bytes(in.Word() % 2048);
    const std::string reply = in.Rest();

    FakeHost host{MsgResult::Cancel};
    CMessageIF msg(host);
    ReplyLink* link = nullptr;
    msg.SetLinkFactory([&](int, const std::string&) {
        auto made = std::make_unique<ReplyLink>();
        made->replies = {detection, reply};
        link = made.get();
        return made;
    });
    // Connecting detects the family from the first reply.
    FUZZ_CHECK(msg.SelectPort("USB") == 1);
    FUZZ_CHECK(link->writes == 1);

    const uint32_t familyWord = msg.GetPrinterFamily();
    FUZZ_CHECK(IsFamilyWord(familyWord));
    const std::optional<std::string> version = ExpectedValue(cmd::VRS, AsText(detection));
    FUZZ_CHECK(familyWord == (version ? family::FromVersion(*version) : family::kV));

    link->failWrites = failWrite;
    const bool sent = (kCommandTable[command].familyMask & familyWord) != 0;
    const std::optional<std::string> expected =
        sent && !failWrite ? ExpectedValue(command, AsText(reply)) : std::nullopt;

    if (numbered) {
        const std::string got = msg.RequestNumbered(command, number);
        FUZZ_CHECK(got == (sent && !failWrite ? AsText(reply) : std::string()));
        FUZZ_CHECK(got.size() <= kArea);
    } else {
        const std::optional<std::string> got = msg.RequestStatus(command);
        if (command == cmd::TCQ && expected) {
            FUZZ_CHECK(got.has_value());
            // Counters run past 32 bits: the reduction starts from the whole
            // 64-bit reading, not from a value clamped to int32.
            const auto raw = static_cast<uint64_t>(textscan::LeadingInteger64(*expected));
            FUZZ_CHECK(*got == std::to_string(raw & 0xFFF));
            unsigned parsed = 0;
            auto [end, error] = std::from_chars(got->data(), got->data() + got->size(), parsed);
            FUZZ_CHECK(error == std::errc{} && end == got->data() + got->size() && parsed <= 4095);
        } else {
            FUZZ_CHECK(got == expected);
        }
        if (got) FUZZ_CHECK(got->find(',') == std::string::npos && got->size() < kArea);
    }
    FUZZ_CHECK(link->writes == (sent ? 2 : 1));
    // A garbled reply is no reason for a message: it only yields no value.
    FUZZ_CHECK(host.boxes.empty());

    // The reply straight into the parser, zero bytes and all, past the area.
    const std::optional<std::string> direct = msg.ParseReply(command, reply);
    if (direct)
        FUZZ_CHECK(direct->find(',') == std::string::npos && direct->size() <= reply.size());
    return 0;
}
