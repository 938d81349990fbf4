#include "protocol/source_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

std::unique_ptr<CDiskFile> CDiskFile::Open(const std::string& path) {
    if (path.empty()) return nullptr;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    // A folder opens for reading on Linux but yields no bytes: it is not a
    // file the operator can send.
    struct stat info {};
    if (fstat(fileno(f), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    // The transfers read in 1 KiB and 4 KiB pieces; a larger buffer turns
    // a firmware image into a few hundred system reads instead of thousands.
    std::setvbuf(f, nullptr, _IOFBF, kReadBufferSize);
    return std::unique_ptr<CDiskFile>(new CDiskFile(f));
}

CDiskFile::~CDiskFile() {
    if (m_file) std::fclose(m_file);
}

int64_t CDiskFile::Length() {
    if (!m_file) return 0;
    off_t here = ftello(m_file);
    if (fseeko(m_file, 0, SEEK_END) != 0) return 0;
    off_t end = ftello(m_file);
    fseeko(m_file, here, SEEK_SET);
    return end < 0 ? 0 : static_cast<int64_t>(end);
}

bool CDiskFile::SeekToStart() { return m_file && fseeko(m_file, 0, SEEK_SET) == 0; }

int64_t CDiskFile::Read(uint8_t* buffer, int64_t count) {
    if (!m_file || count <= 0) return 0;
    size_t n = std::fread(buffer, 1, static_cast<size_t>(count), m_file);
    if (n == 0 && std::ferror(m_file)) return -1;
    return static_cast<int64_t>(n);
}

bool CDiskFile::Close() {
    if (!m_file) return true;
    int r = std::fclose(m_file);
    m_file = nullptr;
    return r == 0;
}

int64_t CMemoryFile::Read(uint8_t* buffer, int64_t count) {
    if (count <= 0) return 0;
    size_t end = m_bytes.size();
    if (m_limit >= 0) end = std::min(end, static_cast<size_t>(m_limit));
    if (m_pos >= end) return 0;
    size_t n = std::min(static_cast<size_t>(count), end - m_pos);
    std::memcpy(buffer, m_bytes.data() + m_pos, n);
    m_pos += n;
    return static_cast<int64_t>(n);
}
