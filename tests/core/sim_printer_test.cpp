// The simulated printer: framing, replies, state, transfers and faults.

#include "sim/sim_printer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/sim_link.h"
#include "support/frames.h"

namespace {

// A request as the host frames it: nine ENQ, SOH, text, ",", FS, ETX.
std::string FirmwareFrame(const std::string& data) {
    return std::string(9, '\x05') + "\x01REQ,FRM" + std::to_string(data.size()) + ",\x1C" + data +
           '\x03';
}

void Send(CSimPrinter& printer, const std::string& bytes) {
    printer.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string TakeAll(CSimPrinter& printer) {
    std::string all;
    uint8_t buffer[4096];
    // Bounded: the printer never holds more than kMaxPendingReply.
    for (int i = 0; i < 1000000; ++i) {
        size_t n = printer.TakeReply(buffer, sizeof buffer);
        if (n == 0) break;
        all.append(reinterpret_cast<const char*>(buffer), n);
    }
    return all;
}

std::string Ask(CSimPrinter& printer, const std::string& text) {
    Send(printer, Framed(text));
    return TakeAll(printer);
}

std::vector<SimFrameKind> Kinds(const std::vector<SimFrame>& frames) {
    std::vector<SimFrameKind> kinds;
    for (const auto& f : frames) kinds.push_back(f.kind);
    return kinds;
}

// Every kind of frame, binary payloads holding the control bytes, a print
// file and a broken frame between them.
std::string MixedStream() {
    std::string stream;
    stream += Framed("REQ,STA,VRS");
    stream += std::string("PRINTDATA\x00\xFF\x1C", 12);
    stream += Framed("REQ,MOD,FDC77");
    stream += Framed("QPR-1");
    stream += FirmwareFrame(std::string("\x05\x01\x03\x1C\x00\xFF", 6));
    stream += std::string("\x01,REQ,LAM_FRM6,\x1C,:10000\x03", 24);
    stream += std::string("\x01NOC1,MGVON,VER5,COEL,MAG2,4321\x1C\x03");
    stream += Framed(std::string("REQ,MSV\x05", 8));
    stream += "\x01GARBAGE\x03";
    stream += Framed("REQ,STA,MSR");
    return stream;
}

TEST(SimPrinter, RecognisesEveryKindOfFrame) {
    CSimPrinter printer;
    Send(printer, MixedStream());
    std::vector<SimFrame> frames = printer.Frames();
    using K = SimFrameKind;
    ASSERT_EQ(Kinds(frames),
              (std::vector<K>{K::Request, K::Raw, K::Request, K::Request, K::Firmware, K::Laminator,
                              K::MagEncode, K::Request, K::Raw, K::Request}));
    EXPECT_EQ(frames[0].prefix, "REQ,STA,");
    EXPECT_EQ(frames[0].mnemonic, "VRS");
    EXPECT_EQ(frames[1].bytes, std::string("PRINTDATA\x00\xFF\x1C", 12));
    EXPECT_EQ(frames[2].prefix, "REQ,MOD,");
    EXPECT_EQ(frames[2].mnemonic, "FDC");
    EXPECT_EQ(frames[2].parameter, "77");
    EXPECT_EQ(frames[3].prefix, "");
    EXPECT_EQ(frames[3].mnemonic, "QPR");
    EXPECT_EQ(frames[3].parameter, "-1");
    EXPECT_EQ(frames[4].dataLength, 6u);
    EXPECT_EQ(frames[4].dataSum, 0x05u + 0x01 + 0x03 + 0x1C + 0x00 + 0xFF);
    EXPECT_EQ(frames[5].data, ":10000");
    EXPECT_EQ(frames[5].parameter, "6");
    EXPECT_EQ(frames[7].mnemonic, "MSV");
    EXPECT_EQ(frames[7].parameter, "\x05");
    EXPECT_EQ(frames[8].bytes, "\x01GARBAGE\x03");
    EXPECT_EQ(printer.GetState().card[1].data, "4321");
}

TEST(SimPrinter, FramesSplitAtAnyByteGiveTheSameResult) {
    const std::string stream = MixedStream();
    CSimPrinter whole;
    Send(whole, stream);
    const std::vector<SimFrame> expectedFrames = whole.Frames();
    const std::string expectedReplies = TakeAll(whole);
    ASSERT_FALSE(expectedReplies.empty());

    for (size_t cut = 1; cut < stream.size(); ++cut) {
        CSimPrinter printer;
        Send(printer, stream.substr(0, cut));
        Send(printer, stream.substr(cut));
        ASSERT_EQ(printer.Frames(), expectedFrames) << "cut at " << cut;
        ASSERT_EQ(TakeAll(printer), expectedReplies) << "cut at " << cut;
    }
    CSimPrinter trickle;
    for (char c : stream) Send(trickle, std::string(1, c));
    EXPECT_EQ(trickle.Frames(), expectedFrames);
    EXPECT_EQ(TakeAll(trickle), expectedReplies);
}

TEST(SimPrinter, AnswersRequests) {
    const auto items = SimPrinterState::DefaultQueryItems();
    struct Case {
        std::string request;
        std::string reply;
    } cases[] = {
        {"REQ,STA,VRS", "VRSE3.05,"},
        {"REQ,STA,MSR", "MSRE1234567,"},
        {"REQ,STA,PID", "PID6144,"},
        {"REQ,STA,TCQ", "TCQ5000,"},
        {"REQ,STA,IPA", "IPA-1062705614,"},
        {"REQ,STA,ERR", "STA0,"},  // the error state is reported under STA
        {"REQ,STA,XYZ", "NAK,"},
        {"QPR1", items[0]},
        {"QPR5", items[4]},
        {"QPR6", "END"},
        {"QPR0", "END"},
        {"QPR-1", "END"},
        {"SNR2", "@@@"},
        {"REQ,EJT", ""},
        {"REQ,MOD,FDC5", ""},
        {"REQ,UPG", ""},
    };
    for (const auto& c : cases) {
        CSimPrinter printer;
        EXPECT_EQ(Ask(printer, c.request), c.reply) << c.request;
    }
}

TEST(SimPrinter, ChangedValuesStick) {
    CSimPrinter printer;
    printer.SetValue("XYZW", "1");
    Ask(printer, "REQ,MOD,FDC77");
    Ask(printer, "REQ,MOD,IPA-1062705664");
    Ask(printer, "REQ,MOD,XYZW9");
    Ask(printer, "REQ,TST");  // a test card counts like any card
    EXPECT_EQ(Ask(printer, "REQ,STA,FDC"), "FDC77,");
    EXPECT_EQ(Ask(printer, "REQ,STA,IPA"), "IPA-1062705664,");
    EXPECT_EQ(Ask(printer, "REQ,STA,TCQ"), "TCQ5001,");
    EXPECT_EQ(printer.Value("XYZW"), "9");
}

TEST(SimPrinter, MipSetsTheFourValuesAndDefaultResetRestoresThem) {
    CSimPrinter printer;
    Ask(printer, "REQ,MOD,IPA167772161");
    Ask(printer, "REQ,MIP60:41:1000:5");
    EXPECT_EQ(printer.Value("FDC"), "60");
    EXPECT_EQ(printer.Value("FSP"), "41");
    EXPECT_EQ(printer.Value("FEP"), "1000");
    EXPECT_EQ(printer.Value("FPP"), "5");
    Ask(printer, "REQ,DEF,RST");
    EXPECT_EQ(printer.Value("FDC"), "50");
    EXPECT_EQ(printer.Value("FSP"), "40");
    EXPECT_EQ(printer.Value("FEP"), "1010");
    EXPECT_EQ(printer.Value("FPP"), "0");
    EXPECT_EQ(printer.Value("IPA"), "167772161");  // not part of the configuration
    ASSERT_EQ(printer.Frames().back().mnemonic, "DEF,RST");
}

TEST(SimPrinter, NumberedItemsEndWithEndUnlessThePrinterNeverSaysIt) {
    CSimPrinter printer;
    std::vector<std::string> replies;
    for (int n = 1; n < 50; ++n) {
        std::string reply = Ask(printer, "SNR" + std::to_string(n));
        if (reply == "END") break;
        replies.push_back(reply);
    }
    EXPECT_EQ(replies, SimPrinterState::DefaultSensorItems());

    printer.UpdateState([](SimPrinterState& s) { s.numberedTailReply = "@@@"; });
    for (int n = 1; n <= 127; ++n) EXPECT_NE(Ask(printer, "QPR" + std::to_string(n)), "END");
}

TEST(SimPrinter, FirmwareChecksum) {
    struct Case {
        std::string data;
        SimChecksumReply mode;
        std::string reply;
    } cases[] = {
        {"", SimChecksumReply::Correct, "CHK0,"},
        {"\xFF\xFF\xFF", SimChecksumReply::Correct, "CHK765,"},
        {std::string("\x03\x00\x05", 3), SimChecksumReply::Correct, "CHK8,"},
        {"\xFF\xFF\xFF", SimChecksumReply::Wrong, "CHK766,"},
        {"\xFF\xFF\xFF", SimChecksumReply::Omitted, "ACK,"},
    };
    for (const auto& c : cases) {
        CSimPrinter printer;
        printer.UpdateState([&](SimPrinterState& s) { s.checksumReply = c.mode; });
        Send(printer, FirmwareFrame(c.data));
        EXPECT_EQ(TakeAll(printer), c.reply) << c.data.size() << " bytes";
    }
}

TEST(SimPrinter, FirmwareSumBeyondTwoToThe31IsReportedSignedOrUnsigned) {
    const size_t length = 8421505;  // 255 * 8421505 = 2^31 + 127
    for (const auto& [reply, expected] :
         {std::pair{SimChecksumReply::Correct, "CHK-2147483521,"},
          std::pair{SimChecksumReply::Unsigned, "CHK2147483775,"}}) {
        SimPrinterState state;
        state.checksumReply = reply;
        CSimPrinter printer(state);
        std::string header =
            std::string(9, '\x05') + "\x01REQ,FRM" + std::to_string(length) + ",\x1C";
        Send(printer, header);
        const std::string chunk(64 * 1024, '\xFF');
        size_t sent = 0;
        while (sent < length) {
            size_t n = std::min(chunk.size(), length - sent);
            printer.Receive(reinterpret_cast<const uint8_t*>(chunk.data()), n);
            sent += n;
        }
        Send(printer, "\x03");
        EXPECT_EQ(TakeAll(printer), expected);
        auto frames = printer.Frames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].dataLength, length);
        EXPECT_EQ(frames[0].data.size(), CSimFrameParser::kMaxRecordedBytes);
    }
}

TEST(SimPrinter, InputStaysBoundedAndBrokenFramesResynchronise) {
    CSimPrinter printer;
    Send(printer, std::string(1 << 20, 'J'));
    Send(printer, "\x01" + std::string(5000, 'A'));  // a body that never ends
    Send(printer, "\x05\x05\x01REQ,STA,VR");         // cut off by the next preamble
    EXPECT_EQ(Ask(printer, "REQ,STA,VRS"), "VRSE3.05,");
    auto frames = printer.Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].kind, SimFrameKind::Raw);
    EXPECT_EQ(frames[0].totalBytes, (1u << 20) + 1 + 5000 + 13);
    EXPECT_EQ(frames[0].bytes.size(), CSimFrameParser::kMaxRecordedBytes);
    EXPECT_EQ(frames[1].mnemonic, "VRS");

    // A host that never reads: the queue stops growing.
    for (int i = 0; i < 600; ++i) Send(printer, Framed(std::string("REQ,MSV\x07", 8)));
    EXPECT_LE(printer.PendingReplyBytes(), CSimPrinter::kMaxPendingReply);
}

TEST(SimPrinter, NewConnectionDropsPartialInputAndUnreadReplies) {
    CSimPrinter printer;
    Send(printer, Framed("REQ,STA,MSR"));
    // An image cut off mid-way: without a clean start the next request
    // would be taken for image data.
    Send(printer, std::string(9, '\x05') +
                      "\x01REQ,FRM100,\x1C"
                      "0123456789");
    printer.StartConnection();
    EXPECT_EQ(printer.PendingReplyBytes(), 0u);
    EXPECT_EQ(Ask(printer, "REQ,STA,VRS"), "VRSE3.05,");
}

// --- faults, seen through the in-process link --------------------------

struct LinkFixture {
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CSimLink link{printer};

    int Write(const std::string& bytes) { return WriteText(link, bytes); }
    // One Read as the protocol object does it; the count and the bytes.
    std::pair<int, std::string> Read(int capacity = 1024) {
        std::vector<uint8_t> buffer(static_cast<size_t>(capacity), 0);
        int n = link.Read(buffer.data(), capacity, 0);
        std::string bytes;
        if (n > 0) bytes.assign(buffer.begin(), buffer.begin() + n);
        return {n, bytes};
    }
};

TEST(SimLink, ExchangesThroughThePrinter) {
    LinkFixture f;
    f.printer->UpdateState([](SimPrinterState& s) { s.absent = true; });
    EXPECT_EQ(f.link.Open(), 0);
    EXPECT_EQ(f.Read().first, -1);
    EXPECT_EQ(f.Write(Framed("REQ,STA,VRS")), 0);
    f.printer->UpdateState([](SimPrinterState& s) { s.absent = false; });
    ASSERT_EQ(f.link.Open(), 1);
    EXPECT_EQ(f.Write(Framed("REQ,STA,VRS")), 24);
    EXPECT_EQ(f.Read(4), (std::pair<int, std::string>{4, "VRSE"}));
    EXPECT_EQ(f.Read(), (std::pair<int, std::string>{5, "3.05,"}));
    EXPECT_EQ(f.Read().first, -1);  // nothing pending reads like a time-out
    f.link.Close();
    EXPECT_EQ(f.link.Opens(), 2);
    EXPECT_EQ(f.link.Closes(), 1);
}

TEST(SimLink, SilentPrinterRecordsButNeverAnswers) {
    LinkFixture f;
    f.printer->UpdateState([](SimPrinterState& s) { s.faults.silent = true; });
    ASSERT_EQ(f.link.Open(), 1);
    EXPECT_EQ(f.Write(Framed("REQ,STA,VRS")), 24);
    EXPECT_EQ(f.Read().first, -1);
    EXPECT_EQ(f.printer->Frames().size(), 1u);
}

TEST(SimLink, ClosingPrinterReadsAsClosedUntilReopened) {
    LinkFixture f;
    f.printer->UpdateState([](SimPrinterState& s) { s.faults.closeOnRequest = true; });
    ASSERT_EQ(f.link.Open(), 1);
    EXPECT_EQ(f.Write(Framed("REQ,STA,VRS")), 24);
    EXPECT_EQ(f.Read().first, 0);
    EXPECT_EQ(f.Write(Framed("REQ,STA,VRS")), 0);
    f.printer->UpdateState([](SimPrinterState& s) { s.faults.closeOnRequest = false; });
    ASSERT_EQ(f.link.Open(), 1);
    EXPECT_EQ(f.Write(Framed("REQ,STA,VRS")), 24);
    EXPECT_EQ(f.Read().second, "VRSE3.05,");
    EXPECT_EQ(f.printer->Connections(), 2);
}

TEST(SimLink, ReplyFaults) {
    {
        LinkFixture f;
        f.printer->UpdateState([](SimPrinterState& s) { s.faults.garbageReplies = true; });
        ASSERT_EQ(f.link.Open(), 1);
        f.Write(Framed("REQ,STA,VRS"));
        auto [n, bytes] = f.Read();
        ASSERT_GT(n, 0);
        EXPECT_NE(bytes.find('\0'), std::string::npos);
        EXPECT_EQ(bytes.find("VRS"), std::string::npos);
    }
    {
        LinkFixture f;
        f.printer->UpdateState([](SimPrinterState& s) { s.faults.oneBytePieces = true; });
        ASSERT_EQ(f.link.Open(), 1);
        f.Write(Framed("REQ,STA,VRS"));
        std::string joined;
        for (int i = 0; i < 100; ++i) {
            auto [n, bytes] = f.Read();
            if (n <= 0) break;
            EXPECT_EQ(n, 1);
            joined += bytes;
        }
        EXPECT_EQ(joined, "VRSE3.05,");
    }
    {
        LinkFixture f;
        f.printer->UpdateState([](SimPrinterState& s) { s.faults.longReplies = true; });
        ASSERT_EQ(f.link.Open(), 1);
        f.Write(Framed("REQ,STA,VRS"));
        EXPECT_GT(f.printer->PendingReplyBytes(), 1024u);
        auto [n, bytes] = f.Read();
        EXPECT_EQ(n, 1024);
        EXPECT_EQ(bytes.substr(0, 9), "VRSE3.05,");
    }
}

}  // namespace
