#include "seams/file_save.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace filesave {
namespace {

#ifdef _WIN32
constexpr int kCreateFlags = _O_WRONLY | _O_CREAT | _O_BINARY;
constexpr int kNewFileMode = _S_IREAD | _S_IWRITE;
int OpenFile(const std::string& path, int flags) {
    return ::_open(path.c_str(), flags, kNewFileMode);
}
int WriteSome(int fd, const char* data, size_t count) {
    return ::_write(fd, data, static_cast<unsigned>(count));
}
bool Sync(int fd) { return ::_commit(fd) == 0; }
int CloseFile(int fd) { return ::_close(fd); }
constexpr int kExclusive = _O_EXCL;
constexpr int kTruncate = _O_TRUNC;
#else
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_CLOEXEC;
constexpr mode_t kNewFileMode = 0666;
int OpenFile(const std::string& path, int flags) {
    return ::open(path.c_str(), flags, kNewFileMode);
}
int WriteSome(int fd, const char* data, size_t count) {
    return static_cast<int>(::write(fd, data, count));
}
bool Sync(int fd) { return ::fsync(fd) == 0; }
int CloseFile(int fd) { return ::close(fd); }
constexpr int kExclusive = O_EXCL;
constexpr int kTruncate = O_TRUNC;
#endif

// Temporary names already tried by this process; a clash with another
// process's is caught by the exclusive create and tried again.
constexpr int kNameAttempts = 16;

std::string Reason(int error) { return std::generic_category().message(error); }

// Unbuffered, so a write that falls short shows here rather than in a flush
// nobody checks. 0 on success, otherwise the error.
int WriteAll(int fd, std::string_view bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const int written = WriteSome(fd, bytes.data() + done, bytes.size() - done);
        if (written <= 0) return written < 0 ? errno : ENOSPC;
        done += static_cast<size_t>(written);
    }
    return Sync(fd) ? 0 : errno;
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool HasOtherNames(const std::string& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink > 1;
#endif
}

std::optional<std::string> SaveInPlace(const std::string& path, std::string_view bytes) {
    const int fd = OpenFile(path, kCreateFlags | kTruncate);
    if (fd < 0) return Reason(errno);
    const int writeError = WriteAll(fd, bytes);
    const int closeError = CloseFile(fd) == 0 ? 0 : errno;
    if (writeError != 0) return Reason(writeError);
    if (closeError != 0) return Reason(closeError);
    return std::nullopt;
}

std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%06x%02x.tmp",
                  static_cast<unsigned>(random() & 0xFFFFFF), counter++ & 0xFF);
    return path + suffix;
}

// No value when the file took the new one's place, otherwise the reason.
std::optional<std::string> Replace(const std::string& from, const std::string& to) {
#ifdef _WIN32
    if (::MoveFileExA(from.c_str(), to.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
        return std::nullopt;
    }
    return std::system_category().message(static_cast<int>(::GetLastError()));
#else
    if (std::rename(from.c_str(), to.c_str()) == 0) return std::nullopt;
    return Reason(errno);
#endif
}

// Gives the new file the old one's permissions, so a save does not widen
// or narrow who may read the report.
void KeepPermissions(int fd, const std::string& path) {
#ifdef _WIN32
    (void)fd;
    (void)path;
#else
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        (void)::fchmod(fd, info.st_mode & 07777);
    }
#endif
}

}  // namespace

std::optional<std::string> SaveReplacing(const std::string& path, std::string_view bytes) {
    if (HasOtherNames(path)) return SaveInPlace(path, bytes);

    std::string temporary;
    int fd = -1;
    int openError = 0;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        temporary = TemporaryName(path);
        fd = OpenFile(temporary, kCreateFlags | kExclusive);
        openError = fd < 0 ? errno : 0;
        if (fd < 0 && openError != EEXIST) break;
    }
    if (fd < 0) {
        if (IsRegularFile(path)) return SaveInPlace(path, bytes);
        return Reason(openError);
    }
    KeepPermissions(fd, path);
    int writeError = WriteAll(fd, bytes);
    if (CloseFile(fd) != 0 && writeError == 0) writeError = errno;
    if (writeError != 0) {
        // A full disk would fail in place too, and cost the earlier file.
        std::remove(temporary.c_str());
        return Reason(writeError);
    }
    const std::optional<std::string> renameFailed = Replace(temporary, path);
    if (!renameFailed) return std::nullopt;
    std::remove(temporary.c_str());
    if (IsRegularFile(path)) return SaveInPlace(path, bytes);
    return renameFailed;
}

}  // namespace filesave
