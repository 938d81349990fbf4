#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "links/character_interface.h"

// The protocol trace a technician attaches to a support request: every frame
// written and every reply read, as it happens. Records are appended and
// flushed one by one, so a trace survives a crash of the program; one file
// may serve several links on several threads, each record written whole.
//
// A record:
//   2026-12-08 15:42:46.123 write Ethernet 24 bytes [10.0.0.5]
//     0000  05 05 05 05 05 05 05 05 05 01 52 45 51 2c 53 54  ..........REQ,ST
//     0010  41 2c 56 52 53 2c 1c 03                          A,VRS,..
// The bracketed printer label appears when the link was given one; a write
// the link did not take whole says how much it took. A run of one-byte
// writes (a transfer on the parallel port) is one record.
//
// What happened to the link is a one-line record of its own:
//   2026-12-08 15:42:46.100 connect Ethernet [10.0.0.5]: refused (10.0.0.5:9100)
//   2026-12-08 15:42:56.130 time-out Ethernet [10.0.0.5]: no reply within 10 s
class CTraceFile {
public:
    // No object when the file cannot be opened for appending, or is not a
    // regular file (a FIFO would hold the open, or every write, for ever);
    // `error` says why.
    static std::shared_ptr<CTraceFile> Open(const std::string& path, std::string& error);
    ~CTraceFile();

    CTraceFile(const CTraceFile&) = delete;
    CTraceFile& operator=(const CTraceFile&) = delete;

    enum class Direction { Write, Read };
    // `accepted` is what the link reported for a write (the count for a read).
    void Record(Direction direction, int linkKind, const std::string& printer, const uint8_t* bytes,
                int length, int accepted, int writes = 1);
    // `event`: "connect", "reconnect", "time-out", "hang-up".
    void RecordEvent(const std::string& event, int linkKind, const std::string& printer,
                     const std::string& detail);

    // One record's text, with its time already formatted.
    static std::string FormatRecord(const std::string& time, Direction direction, int linkKind,
                                    const std::string& printer, const uint8_t* bytes, int length,
                                    int accepted, int writes = 1);
    static std::string FormatEvent(const std::string& time, const std::string& event, int linkKind,
                                   const std::string& printer, const std::string& detail);
    // Local time to the millisecond: "2026-12-08 15:42:46.123".
    static std::string TimeNow();

    // Why the first record that could not be written whole failed (a full
    // disk); no value while every record went out. A trace with a hole is
    // no record of the run, so the program acts on it.
    std::optional<std::string> WriteFailure() const;

private:
    explicit CTraceFile(std::FILE* file) : m_file(file) {}
    void Append(const std::string& text);
    mutable std::mutex m_mutex;
    std::FILE* m_file;
    std::optional<std::string> m_failure;
};

// A link that passes everything to the link it wraps, byte for byte, and
// records what went either way, and each connect with its outcome. Reads
// that bring nothing are not recorded (a printer that takes its time would
// fill the trace with them), but a request left without a reply for the
// link's whole wait is.
class CTraceLink : public CCharacterInterface {
public:
    CTraceLink(std::unique_ptr<CCharacterInterface> inner, std::shared_ptr<CTraceFile> trace,
               int linkKind, std::string printer);
    ~CTraceLink() override;

    // A run longer than this is recorded in pieces, so a long transfer's
    // trace keeps up with it and a run held back costs little memory.
    static constexpr size_t kLongestRun = 64 * 1024;

    int Open() override;
    void Close() override;
    int Read(uint8_t* buffer, int capacity, int paced) override;
    int Write(const uint8_t* data, int length) override;
    int ReceiveWaitMs() const override { return m_inner->ReceiveWaitMs(); }
    bool HasFailed() const override { return m_inner->HasFailed(); }
    bool ConfirmWritten(int graceMs) override { return m_inner->ConfirmWritten(graceMs); }
    std::string Endpoint() const override { return m_inner->Endpoint(); }
    std::string OpenFailure() const override { return m_inner->OpenFailure(); }
    // The wrapped link does the waiting, so it is the one that idles.
    void SetIdleHost(IHostServices* host) override { m_inner->SetIdleHost(host); }

private:
    void EndRun();

    std::unique_ptr<CCharacterInterface> m_inner;
    std::shared_ptr<CTraceFile> m_trace;
    int m_linkKind;
    std::string m_printer;
    bool m_opened = false;
    // One-byte writes the link took, not yet recorded.
    std::string m_run;
    // The request awaiting its reply, for the time-out record.
    std::optional<std::chrono::steady_clock::time_point> m_awaiting;
};
