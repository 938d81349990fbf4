#include "links/trace_link.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int kBytesPerLine = 16;

const char* KindName(int linkKind) {
    switch (linkKind) {
        case kLinkUsb:
            return "USB";
        case kLinkParallel:
            return "Parallel";
        case kLinkEthernet:
            return "Ethernet";
        default:
            return "Link";
    }
}

std::tm LocalTime(std::time_t seconds) {
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}

}  // namespace

std::shared_ptr<CTraceFile> CTraceFile::Open(const std::string& path, std::string& error) {
    constexpr const char* kNotRegular = "not a regular file";
#ifdef _WIN32
    // Opening a named pipe or a device does not wait here, but neither is a
    // file to keep.
    std::error_code statusError;
    const std::filesystem::file_status status = std::filesystem::status(path, statusError);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = kNotRegular;
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "ab");
#else
    // Without O_NONBLOCK the open of a FIFO waits for a reader that may
    // never come; the check runs on what was opened, not on the name.
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        error = errno == ENXIO ? kNotRegular : std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        error = kNotRegular;
        return nullptr;
    }
    ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = ::fdopen(descriptor, "ab");
    if (!file) ::close(descriptor);
#endif
    if (!file) {
        error = std::strerror(errno);
        return nullptr;
    }
    return std::shared_ptr<CTraceFile>(new CTraceFile(file));
}

CTraceFile::~CTraceFile() { std::fclose(m_file); }

std::string CTraceFile::TimeNow() {
    using namespace std::chrono;
    const system_clock::time_point now = system_clock::now();
    const std::tm local = LocalTime(system_clock::to_time_t(now));
    const long long millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03lld", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  millis);
    return text;
}

std::string CTraceFile::FormatEvent(const std::string& time, const std::string& event, int linkKind,
                                    const std::string& printer, const std::string& detail) {
    std::string record = time + " " + event + " " + KindName(linkKind);
    if (!printer.empty()) record += " [" + printer + "]";
    return record + ": " + detail + "\n";
}

std::string CTraceFile::FormatRecord(const std::string& time, Direction direction, int linkKind,
                                     const std::string& printer, const uint8_t* bytes, int length,
                                     int accepted, int writes) {
    std::string record = time;
    record += direction == Direction::Write ? " write " : " read ";
    record += KindName(linkKind);
    record += ' ';
    record += std::to_string(length);
    record += length == 1 ? " byte" : " bytes";
    if (!printer.empty()) record += " [" + printer + "]";
    if (direction == Direction::Write && accepted != length) {
        record += accepted <= 0 ? " (the link took none)"
                                : " (the link took " + std::to_string(accepted) + ")";
    }
    if (writes > 1) record += " (" + std::to_string(writes) + " one-byte writes)";
    record += '\n';
    char cell[16];
    for (int line = 0; line < length; line += kBytesPerLine) {
        std::snprintf(cell, sizeof cell, "  %04x ", line);
        record += cell;
        std::string text;
        for (int i = line; i < line + kBytesPerLine; ++i) {
            if (i < length) {
                std::snprintf(cell, sizeof cell, " %02x", bytes[i]);
                record += cell;
                text += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
            } else {
                record += "   ";
            }
        }
        record += "  ";
        record += text;
        record += '\n';
    }
    return record;
}

void CTraceFile::Record(Direction direction, int linkKind, const std::string& printer,
                        const uint8_t* bytes, int length, int accepted, int writes) {
    Append(FormatRecord(TimeNow(), direction, linkKind, printer, bytes, length, accepted, writes));
}

void CTraceFile::RecordEvent(const std::string& event, int linkKind, const std::string& printer,
                             const std::string& detail) {
    Append(FormatEvent(TimeNow(), event, linkKind, printer, detail));
}

void CTraceFile::Append(const std::string& record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    errno = 0;
    const bool whole = std::fwrite(record.data(), 1, record.size(), m_file) == record.size();
    if ((std::fflush(m_file) != 0 || !whole) && !m_failure) {
        m_failure = errno != 0 ? std::strerror(errno) : "a record could not be written";
    }
}

std::optional<std::string> CTraceFile::WriteFailure() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failure;
}

CTraceLink::CTraceLink(std::unique_ptr<CCharacterInterface> inner,
                       std::shared_ptr<CTraceFile> trace, int linkKind, std::string printer)
    : m_inner(std::move(inner)),
      m_trace(std::move(trace)),
      m_linkKind(linkKind),
      m_printer(std::move(printer)) {
    // The protocol object sets the kind on the link it holds, this one; the
    // wrapped link is told the same.
    m_inner->SetLinkKind(linkKind);
}

CTraceLink::~CTraceLink() { EndRun(); }

void CTraceLink::EndRun() {
    if (m_run.empty()) return;
    const int length = static_cast<int>(m_run.size());
    m_trace->Record(CTraceFile::Direction::Write, m_linkKind, m_printer,
                    reinterpret_cast<const uint8_t*>(m_run.data()), length, length, length);
    m_run.clear();
}

int CTraceLink::Open() {
    EndRun();
    const int opened = m_inner->Open();
    std::string detail = opened ? "connected" : "failed";
    if (!opened && !m_inner->OpenFailure().empty()) detail += ": " + m_inner->OpenFailure();
    if (!m_inner->Endpoint().empty()) detail += " (" + m_inner->Endpoint() + ")";
    m_trace->RecordEvent(m_opened ? "reconnect" : "connect", m_linkKind, m_printer, detail);
    m_opened = true;
    m_awaiting.reset();
    return opened;
}

void CTraceLink::Close() {
    EndRun();
    m_inner->Close();
}

int CTraceLink::Write(const uint8_t* data, int length) {
    const int accepted = m_inner->Write(data, length);
    if (length <= 0) return accepted;
    m_awaiting = std::chrono::steady_clock::now();
    // A per-byte record would make the trace of a parallel-port upgrade a
    // hundred times the image and slow the transfer down several times.
    if (length == 1 && accepted == 1) {
        m_run.push_back(static_cast<char>(data[0]));
        if (m_run.size() >= kLongestRun) EndRun();
        return accepted;
    }
    EndRun();
    m_trace->Record(CTraceFile::Direction::Write, m_linkKind, m_printer, data, length, accepted);
    return accepted;
}

int CTraceLink::Read(uint8_t* buffer, int capacity, int paced) {
    EndRun();
    const int received = m_inner->Read(buffer, capacity, paced);
    if (received > 0) {
        m_awaiting.reset();
        m_trace->Record(CTraceFile::Direction::Read, m_linkKind, m_printer, buffer,
                        std::min(received, capacity), received);
        return received;
    }
    if (!m_awaiting) return received;
    if (m_inner->HasFailed()) {
        m_awaiting.reset();
        m_trace->RecordEvent("hang-up", m_linkKind, m_printer,
                             "the link failed or the printer closed the connection");
        return received;
    }
    const int waitMs = m_inner->ReceiveWaitMs();
    if (std::chrono::steady_clock::now() - *m_awaiting >= std::chrono::milliseconds(waitMs)) {
        // Once a request: the caller may read on.
        m_awaiting.reset();
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, waitMs % 1000 == 0 ? "%.0f s" : "%.1f s",
                      waitMs / 1000.0);
        m_trace->RecordEvent("time-out", m_linkKind, m_printer,
                             std::string("no reply within ") + seconds);
    }
    return received;
}
