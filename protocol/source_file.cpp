#include "protocol/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using FileInfo = struct _stat64;
int OpenForReading(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }
int Describe(int fd, FileInfo& info) { return _fstat64(fd, &info); }
bool IsPlainFile(const FileInfo& info) { return (info.st_mode & _S_IFMT) == _S_IFREG; }
bool Rewind(int fd) { return _lseeki64(fd, 0, SEEK_SET) == 0; }
// A read takes an unsigned int count.
constexpr int64_t kLargestRead = INT_MAX;
long ReadSome(int fd, uint8_t* buffer, int64_t count) {
    return _read(fd, buffer, static_cast<unsigned>(std::min(count, kLargestRead)));
}
int CloseFile(int fd) { return _close(fd); }
#else
using FileInfo = struct stat;
int OpenForReading(const char* path) {
    // Without O_NONBLOCK a FIFO holds the open until a writer comes, which
    // may be never.
    return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}
int Describe(int fd, FileInfo& info) { return ::fstat(fd, &info); }
bool IsPlainFile(const FileInfo& info) { return S_ISREG(info.st_mode); }
bool Rewind(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0; }
constexpr int64_t kLargestRead = INT_MAX;
long ReadSome(int fd, uint8_t* buffer, int64_t count) {
    return static_cast<long>(
        ::read(fd, buffer, static_cast<size_t>(std::min(count, kLargestRead))));
}
int CloseFile(int fd) { return ::close(fd); }
#endif

std::string ErrorName(int error) {
    return std::error_code(error, std::generic_category()).message();
}

}  // namespace

std::unique_ptr<CDiskFile> CDiskFile::Open(const std::string& path, std::string* whyNot) {
    const auto refuse = [&](const std::string& why) -> std::unique_ptr<CDiskFile> {
        if (whyNot) *whyNot = why;
        return nullptr;
    };
    if (path.empty()) return refuse(ErrorName(ENOENT));
    const int fd = OpenForReading(path.c_str());
    if (fd < 0) {
        const int error = errno;
#ifdef _WIN32
        // Windows will not open a folder at all, and says so as a denied
        // access: name what it is instead.
        FileInfo info{};
        if (_stat64(path.c_str(), &info) == 0 && !IsPlainFile(info)) {
            return refuse(kNotPlainFileText);
        }
#endif
        return refuse(ErrorName(error));
    }
    // A folder, a FIFO or a device has no length to send, or an endless
    // one (/dev/zero would be summed for ever).
    FileInfo info{};
    if (Describe(fd, info) != 0 || !IsPlainFile(info)) {
        CloseFile(fd);
        return refuse(kNotPlainFileText);
    }
#ifndef _WIN32
    // Reads of a plain file wait for the disk as they should.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#endif
    return std::unique_ptr<CDiskFile>(new CDiskFile(fd));
}

CDiskFile::~CDiskFile() {
    if (m_fd >= 0) CloseFile(m_fd);
}

int64_t CDiskFile::Length() {
    FileInfo info{};
    if (m_fd < 0 || Describe(m_fd, info) != 0) return 0;
    return std::max<int64_t>(static_cast<int64_t>(info.st_size), 0);
}

bool CDiskFile::SeekToStart() { return m_fd >= 0 && Rewind(m_fd); }

int64_t CDiskFile::Read(uint8_t* buffer, int64_t count) {
    if (m_fd < 0 || count <= 0) return 0;
    for (;;) {
        const long n = ReadSome(m_fd, buffer, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        m_error = errno;
        return -1;
    }
}

bool CDiskFile::Close() {
    if (m_fd < 0) return true;
    const int r = CloseFile(m_fd);
    m_fd = -1;
    return r == 0;
}

std::string CDiskFile::ErrorText() const { return m_error ? ErrorName(m_error) : std::string(); }

int64_t CMemoryFile::Read(uint8_t* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_t end = m_bytes.size();
    if (m_limit >= 0) end = std::min(end, static_cast<size_t>(m_limit));
    if (m_pos >= end) {
        m_failed = m_failAtLimit && end < m_bytes.size();
        return m_failed ? -1 : 0;
    }
    size_t n = std::min(static_cast<size_t>(count), end - m_pos);
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += n;
    return static_cast<int64_t>(n);
}

std::string CMemoryFile::ErrorText() const { return m_failed ? ErrorName(EIO) : std::string(); }

namespace fileread {

namespace {

// Reads up to `count` bytes into `buffer`, reading on through short reads:
// less than `count` only at the end of the file or at a read error, which
// sets `failed`.
int64_t Fill(CSourceFile& file, uint8_t* buffer, int64_t count, bool& failed) {
    int64_t filled = 0;
    while (filled < count) {
        const int64_t got = file.Read(buffer + filled, count - filled);
        if (got < 0) failed = true;
        if (got <= 0) break;
        filled += got;
    }
    return filled;
}

// Each block lands in `area` at its place when there is one, else in one
// block reused throughout.
Whole Blocks(CSourceFile& file, int64_t limit, uint8_t* area,
             const std::function<bool(const uint8_t* block, int64_t count)>& take) {
    Whole whole;
    if (!file.SeekToStart()) {
        whole.failed = true;
        return whole;
    }
    std::unique_ptr<uint8_t[]> reused;
    if (!area) reused.reset(new uint8_t[kBlockSize]);
    while (limit < 0 || whole.bytes < limit) {
        const int64_t want = limit < 0 ? kBlockSize : std::min(kBlockSize, limit - whole.bytes);
        uint8_t* block = area ? area + whole.bytes : reused.get();
        const int64_t got = Fill(file, block, want, whole.failed);
        if (got > 0 && take && !take(block, got)) break;
        whole.bytes += got;
        if (got < want) break;
    }
    return whole;
}

}  // namespace

Whole InBlocks(CSourceFile& file, int64_t limit,
               const std::function<bool(const uint8_t* block, int64_t count)>& take) {
    return Blocks(file, limit, nullptr, take);
}

Whole Into(CSourceFile& file, uint8_t* area, int64_t length) {
    return Blocks(file, std::max<int64_t>(length, 0), area, {});
}

}  // namespace fileread
