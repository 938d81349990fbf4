// Firmware images, laminator files, print files and the magnetic encode
// command on the wire, through a scripted link.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "protocol/message_if.h"
#include "support/fake_host.h"
#include "support/frames.h"
#include "support/scripted_link.h"

using ::testing::ElementsAre;

namespace {

const std::string kPre = std::string(9, '\x05') + "\x01";

std::string Image(size_t length) {
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<char>(i * 37 + 11);
    return bytes;
}

using Progress = std::pair<int64_t, int64_t>;

// A file that stops yielding bytes after `limit` of them. Should a caller
// keep reading regardless, it gets its bytes after a while, so a faulty
// loop shows up as a read count rather than a hung test.
class ShrunkFile : public CSourceFile {
public:
    ShrunkFile(int64_t length, int64_t limit) : m_length(length), m_limit(limit) {}
    int64_t Length() override { return m_length; }
    bool SeekToStart() override {
        m_pos = 0;
        return true;
    }
    int64_t Read(uint8_t* buffer, int64_t count) override {
        ++reads;
        const int64_t end = reads < kGiveUp ? m_limit : m_length;
        const int64_t n = std::max<int64_t>(0, std::min(count, end - m_pos));
        std::fill_n(buffer, n, uint8_t{'X'});
        m_pos += n;
        return n;
    }
    bool Close() override { return true; }
    int reads = 0;

private:
    static constexpr int kGiveUp = 1000;
    int64_t m_length;
    int64_t m_limit;
    int64_t m_pos = 0;
};

class Transfers : public ::testing::Test, protected ScriptedLinks {
protected:
    // Opens a scripted link on `port`; the printer's "VRS" answer sets the
    // family. The detection traffic is forgotten.
    void Connect(const std::string& port, const std::string& version = "E3.05") {
        prepare = [version](ScriptedLink& made) { made.QueueReply("VRS" + version + ","); };
        msg.SetLinkFactory(Factory());
        ASSERT_EQ(msg.SelectPort(port), 1);
        ForgetTraffic();
        host.pauses.clear();
    }

    FakeHost host;
    CMessageIF msg{host};
};

}  // namespace

TEST_F(Transfers, FirmwareFrameByteForByte) {
    struct Row {
        std::string version;
        int paced;
    };
    for (const Row& row : {Row{"E3.05", 0}, Row{"V1.10", 4}}) {
        SCOPED_TRACE(row.version);
        ASSERT_NO_FATAL_FAILURE(Connect("Ethernet", row.version));
        const std::string image("AB\0\xFF\x80z", 6);
        link->QueueReply("ACK,CHK" + std::to_string(ByteSum(image)) + ",");
        CMemoryFile file(image);

        EXPECT_EQ(msg.SendFirmwareImage(file), static_cast<int32_t>(ByteSum(image)));
        EXPECT_THAT(link->writes, ElementsAre(kPre + "REQ,FRM6,\x1c", image, "\x03"));
        // The reply is awaited half a second, then read once into 1024 bytes.
        EXPECT_THAT(host.pauses, ElementsAre(CMessageIF::kFirmwareReplyPauseMs));
        EXPECT_THAT(link->readCapacities, ElementsAre(1024));
        EXPECT_THAT(link->readPaced, ElementsAre(row.paced));
    }
}

TEST_F(Transfers, EmptyFirmwareImageIsHeaderAndEtxOnly) {
    ASSERT_NO_FATAL_FAILURE(Connect("USB"));
    link->QueueReply("CHK0,");
    CMemoryFile file("");
    EXPECT_EQ(msg.SendFirmwareImage(file), 0);
    EXPECT_THAT(link->writes, ElementsAre(kPre + "REQ,FRM0,\x1c", "\x03"));
}

TEST_F(Transfers, FirmwareChunksFollowTheLinkKind) {
    struct Row {
        std::string port;
        size_t length;
        std::vector<size_t> chunks;
    };
    // Past the file's read blocks the pieces stay 1 KiB, one write each.
    std::vector<size_t> large(146, 1024);
    large.push_back(496);
    const std::vector<Row> rows = {
        {"USB", 2500, {1024, 1024, 452}},
        {"Ethernet", 2500, {1024, 1024, 452}},
        {"LPT1:", 2500, std::vector<size_t>(2500, 1)},
        {"Ethernet", 150000, large},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port + " " + std::to_string(row.length));
        const std::string image = Image(row.length);
        ASSERT_NO_FATAL_FAILURE(Connect(row.port));
        link->QueueReply("CHK" + std::to_string(ByteSum(image)) + ",");
        host.progress.clear();
        CMemoryFile file(image);
        EXPECT_EQ(msg.SendFirmwareImage(file), static_cast<int32_t>(ByteSum(image)));

        ASSERT_EQ(link->writes.size(), row.chunks.size() + 2);
        EXPECT_EQ(link->writes.front(), kPre + "REQ,FRM" + std::to_string(row.length) + ",\x1c");
        std::string data;
        for (size_t i = 0; i < row.chunks.size(); ++i) {
            ASSERT_EQ(link->writes[i + 1].size(), row.chunks[i]) << "write " << i + 1;
            data += link->writes[i + 1];
        }
        EXPECT_EQ(data, image);
        EXPECT_EQ(link->writes.back(), "\x03");
        // The operator sees the transfer start and finish.
        ASSERT_FALSE(host.progress.empty());
        const auto length = static_cast<int64_t>(row.length);
        EXPECT_EQ(host.progress.front(), Progress(0, length));
        EXPECT_EQ(host.progress.back(), Progress(length, length));
    }
    EXPECT_EQ(host.progressEnds, 4);
}

TEST_F(Transfers, FirmwareFileShorterThanItsLengthEndsTheData) {
    ASSERT_NO_FATAL_FAILURE(Connect("Ethernet"));
    link->QueueReply("CHK1500,");
    ShrunkFile file(2500, 1500);
    msg.SendFirmwareImage(file);

    EXPECT_LE(file.reads, 3);
    ASSERT_EQ(link->writes.size(), 4u);
    EXPECT_EQ(link->writes[0], kPre + "REQ,FRM2500,\x1c");
    EXPECT_EQ(link->writes[1].size(), 1024u);
    EXPECT_EQ(link->writes[2].size(), 476u);
    EXPECT_EQ(link->writes[3], "\x03");
    EXPECT_EQ(host.progressEnds, 1);
}

TEST_F(Transfers, FirmwareWithoutAChecksumHasNoValue) {
    ASSERT_NO_FATAL_FAILURE(Connect("Ethernet"));
    CMemoryFile file(Image(10));

    // Header refused: no data, no reply awaited.
    link->writeResults = {0};
    EXPECT_EQ(msg.SendFirmwareImage(file), std::nullopt);
    EXPECT_TRUE(link->writes.empty());
    EXPECT_TRUE(link->readCapacities.empty());
    // A length the signed 32-bit field cannot hold: nothing at all.
    ShrunkFile huge(int64_t{1} << 31, 0);
    EXPECT_EQ(msg.SendFirmwareImage(huge), std::nullopt);
    EXPECT_TRUE(link->writes.empty());
    EXPECT_EQ(huge.reads, 0);

    // An answer without "CHK", and no answer at all: an empty image sums to
    // 0, so neither may read as a checksum of 0.
    CMemoryFile empty("");
    link->QueueReply("ACK,");
    EXPECT_EQ(msg.SendFirmwareImage(empty), std::nullopt);
    link->QueueNothing();
    EXPECT_EQ(msg.SendFirmwareImage(empty), std::nullopt);

    // The printer states its sum signed or unsigned, both modulo 2^32;
    // "CHK" may come anywhere in the reply.
    link->QueueReply("ACK,CHK-2147483000,");
    EXPECT_EQ(msg.SendFirmwareImage(file), -2147483000);
    link->QueueReply("ACK,CHK2147484296,");
    EXPECT_EQ(msg.SendFirmwareImage(file), -2147483000);
}

TEST_F(Transfers, LaminatorFrameIsCutAtTheFirstZeroByte) {
    struct Row {
        std::string file;
        std::string wire;
    };
    const std::vector<Row> rows = {
        {":1000\r\n", "\x01,REQ,LAM_FRM7,\x1c,:1000\r\n\x03"},
        {std::string("AB\0CD", 5), "\x01,REQ,LAM_FRM5,\x1c,AB\x03"},
        {"", "\x01,REQ,LAM_FRM0,\x1c,\x03"},
    };
    ASSERT_NO_FATAL_FAILURE(Connect("USB"));
    for (const Row& row : rows) {
        link->writes.clear();
        CMemoryFile file(row.file);
        EXPECT_TRUE(msg.SendLaminatorFirmware(file));
        EXPECT_THAT(link->writes, ElementsAre(row.wire));
    }
    // The laminator never answers: nothing is read, nothing awaited.
    EXPECT_TRUE(link->readCapacities.empty());
    EXPECT_TRUE(host.pauses.empty());
    EXPECT_TRUE(host.boxes.empty());

    // Beyond a link write's 32-bit count the frame cannot go whole: refused
    // before gigabytes are reserved or a byte is read.
    link->writes.clear();
    ShrunkFile huge((int64_t{1} << 32) + 5, 0);
    EXPECT_FALSE(msg.SendLaminatorFirmware(huge));
    EXPECT_EQ(huge.reads, 0);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, "Insufficient system memory");
    // A frame the link refused was not sent either.
    link->writeResults = {3};
    CMemoryFile file(":00\r\n");
    EXPECT_FALSE(msg.SendLaminatorFirmware(file));
    EXPECT_EQ(link->writes.size(), 1u);
    // Half a firmware is none: a file that shrank or failed while it was
    // read sends nothing.
    for (const bool fails : {false, true}) {
        link->writes.clear();
        CMemoryFile cut(":1000\r\n");
        cut.SetReadLimit(3, fails);
        EXPECT_FALSE(msg.SendLaminatorFirmware(cut));
        EXPECT_TRUE(link->writes.empty());
    }
}

TEST_F(Transfers, PrintFileGoesOutUnchangedInOneWriteOrSaysHowFarItGot) {
    using Send = CMessageIF::FileSend;
    ASSERT_NO_FATAL_FAILURE(Connect("LPT2:"));
    const std::string print = std::string("\x1b%-12345X@PJL\0\xFF\r\n", 17) + Image(3000);
    struct Row {
        int64_t readLimit;  // -1: the whole file
        bool readFails;
        int linkTakes;  // -1: all
        Send outcome;
        int64_t sent;
    };
    // A file that cannot be read whole is not sent: it would print a
    // spoilt card.
    for (const Row& row :
         {Row{-1, false, -1, Send::Sent, 3017}, Row{-1, false, 1000, Send::Cut, 1000},
          Row{-1, false, 0, Send::Cut, 0}, Row{60, false, -1, Send::ReadFailed, 0},
          Row{60, true, -1, Send::ReadFailed, 0}}) {
        SCOPED_TRACE(row.sent);
        link->writes.clear();
        link->writeResults = {row.linkTakes};
        CMemoryFile file(print);
        file.SetReadLimit(row.readLimit, row.readFails);
        const CMessageIF::FileSendResult result = msg.SendFile(file);
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_EQ(result.sent, row.sent);
        EXPECT_EQ(result.length, 3017);
        const bool written = row.outcome != Send::ReadFailed && row.linkTakes != 0;
        EXPECT_EQ(link->writes, written
                                    ? std::vector{print.substr(0, static_cast<size_t>(row.sent))}
                                    : std::vector<std::string>{});
    }
    EXPECT_TRUE(link->readCapacities.empty());

    // 2 GiB cannot go in one write: refused before a byte is read, without
    // claiming the memory ran out.
    ShrunkFile huge(int64_t{1} << 31, 0);
    EXPECT_EQ(msg.SendFile(huge).outcome, Send::TooLarge);
    EXPECT_EQ(huge.reads, 0);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Transfers, MagneticEncodeStartTexts) {
    struct Row {
        std::string version;
        std::string model;  // the "MDL" answer; empty: no answer
        bool high;
        std::string start;
        bool asksModel;
    };
    const std::vector<Row> rows = {
        {"E3.05", "10", true, "\x01NOC1,MGVON,VER5,COEH", true},
        {"E3.05", "7", true, "\x01NOC0,BBB,MGVON,VER5,COEH", true},
        {"E3.05", "10", false, "\x01NOC1,MGVON,VER5,COEL", true},
        {"E3.05", "7", false, "\x01NOC0,BBB,MGVON,VER5,COEL", true},
        {"E3.05", "", false, "\x01NOC0,BBB,MGVON,VER5,COEL", true},
        // "MDL" is never asked of a V printer, so it counts as not model 10.
        {"V1.10", "10", true, "\x01NOC0,BBB,MGVON,VER5,COEH", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.version + " model " + row.model + (row.high ? " high" : " low"));
        ASSERT_NO_FATAL_FAILURE(Connect("Ethernet", row.version));
        if (!row.model.empty()) link->QueueReply("MDL" + row.model + ",");
        msg.SendMagneticEncode("", "T2", "", row.high);

        const std::string command = row.start + ",MAG2,T2\x1c\x03";
        if (row.asksModel) {
            EXPECT_THAT(link->writes, ElementsAre(kPre + "REQ,STA,MDL,\x1c\x03", command));
        } else {
            EXPECT_THAT(link->writes, ElementsAre(command));
        }
    }
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(Transfers, MagneticEncodeTracksAndTheEmptyQuestion) {
    ASSERT_NO_FATAL_FAILURE(Connect("Ethernet"));
    const std::string start = "\x01NOC1,MGVON,VER5,COEL";
    const std::string question = "WARNING! No magnetic data found!   \n\nPress OK to send anyway.";

    link->QueueReply("MDL10,");
    EXPECT_EQ(msg.SendMagneticEncode("%A^B?", "", ";3=4?", false), CMessageIF::EncodeSend::Sent);
    ASSERT_EQ(link->writes.size(), 2u);
    EXPECT_EQ(link->writes[1], start + ",MAG1,%A^B?,MAG3,;3=4?\x1c\x03");
    // A printer that took part of the command, or none: not sent.
    for (int took : {5, 0}) {
        link->QueueReply("MDL10,");
        link->writeResults = {-1, took};
        EXPECT_EQ(msg.SendMagneticEncode("%A", "", "", false), CMessageIF::EncodeSend::NotSent);
    }

    // All tracks empty, OK: the start text alone, closed by FS ETX.
    link->writes.clear();
    link->QueueReply("MDL10,");
    host.boxAnswers = {MsgResult::Ok};
    msg.SendMagneticEncode("", "", "", false);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].text, question);
    EXPECT_EQ(host.boxes[0].buttons, MsgButtons::OkCancel);
    ASSERT_EQ(link->writes.size(), 2u);
    EXPECT_EQ(link->writes[1], start + "\x1c\x03");

    // Cancel: only the model request went out.
    link->writes.clear();
    link->QueueReply("MDL10,");
    host.boxAnswers = {MsgResult::Cancel};
    EXPECT_EQ(msg.SendMagneticEncode("", "", "", false), CMessageIF::EncodeSend::Cancelled);
    EXPECT_EQ(host.boxes.size(), 2u);
    EXPECT_THAT(link->writes, ElementsAre(kPre + "REQ,STA,MDL,\x1c\x03"));
}

namespace {

// A file read whole into an area of its length: one that shrank ends early,
// one that grew is read no further than the area.
TEST(FileRead, EndsWhereTheFileEndsAndNeverBeyondItsLength) {
    struct Row {
        int64_t length;  // as taken before the reads
        int64_t yields;  // what the file has by the time it is read
        int64_t read;
    };
    for (const Row& row : {Row{3000, 1000, 1000}, Row{1000, 3000, 1000},
                           Row{200000, 200000, 200000}, Row{0, 10, 0}}) {
        ShrunkFile file(row.length, row.yields);
        std::vector<uint8_t> area(static_cast<size_t>(row.length));
        const fileread::Whole whole = fileread::Into(file, area.data(), row.length);
        EXPECT_EQ(whole.bytes, row.read) << row.length << " " << row.yields;
        EXPECT_FALSE(whole.failed);
    }
}

TEST(DiskFile, OpensFilesButNotFoldersOrMissingPaths) {
    namespace fs = std::filesystem;
    const fs::path folderPath = fs::temp_directory_path() / "tessaly-diskfile";
    fs::create_directories(folderPath);
    const std::string folder = folderPath.string();
    const std::string path = (folderPath / "card.prn").string();
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("ABC", f);
        std::fclose(f);
    }
    auto file = CDiskFile::Open(path);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Length(), 3);
    uint8_t bytes[8] = {};
    EXPECT_EQ(file->Read(bytes, 8), 3);
    EXPECT_TRUE(file->Close());

    std::string why;
    EXPECT_EQ(CDiskFile::Open(folder, &why), nullptr);
    EXPECT_EQ(why, CDiskFile::kNotPlainFileText);
    EXPECT_EQ(CDiskFile::Open(path + ".missing", &why), nullptr);
    EXPECT_EQ(why, std::error_code(ENOENT, std::generic_category()).message());
    EXPECT_EQ(CDiskFile::Open(""), nullptr);
    fs::remove_all(folderPath);
}

}  // namespace
