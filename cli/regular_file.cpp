#include "cli/regular_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#ifdef _WIN32
#include <filesystem>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* kNotRegular = "not a regular file";

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, std::string& error) {
#ifdef _WIN32
    std::error_code statusError;
    const std::filesystem::file_status status = std::filesystem::status(path, statusError);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        error = kNotRegular;
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "read error";
        return std::nullopt;
    }
    return text;
#else
    // The check runs on what was opened, not on the name.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        error = kNotRegular;
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got == 0) break;
        if (got < 0) {
            if (errno == EINTR) continue;
            error = std::strerror(errno);
            ::close(descriptor);
            return std::nullopt;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(descriptor);
    return text;
#endif
}
