#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// An open, readable file for the transfers: its length, a rewind, and reads.
// The caller opens and closes it.
class CSourceFile {
public:
    virtual ~CSourceFile() = default;
    virtual int64_t Length() = 0;
    virtual bool SeekToStart() = 0;
    // Returns the count read; 0 at the end of the file, negative on error.
    virtual int64_t Read(uint8_t* buffer, int64_t count) = 0;
    virtual bool Close() = 0;
};

// A file on disk, read through stdio's buffer.
class CDiskFile : public CSourceFile {
public:
    // No object when the file cannot be opened for reading.
    static std::unique_ptr<CDiskFile> Open(const std::string& path);
    static constexpr size_t kReadBufferSize = 64 * 1024;
    ~CDiskFile() override;

    int64_t Length() override;
    bool SeekToStart() override;
    int64_t Read(uint8_t* buffer, int64_t count) override;
    bool Close() override;

private:
    explicit CDiskFile(std::FILE* file) : m_file(file) {}
    std::FILE* m_file;
};

// Bytes held in memory, for tests and generated content.
class CMemoryFile : public CSourceFile {
public:
    explicit CMemoryFile(std::string bytes) : m_bytes(std::move(bytes)) {}
    int64_t Length() override { return static_cast<int64_t>(m_bytes.size()); }
    bool SeekToStart() override {
        m_pos = 0;
        return true;
    }
    int64_t Read(uint8_t* buffer, int64_t count) override;
    bool Close() override { return true; }

    // Makes reads stop short after `limit` bytes in all, as a file that
    // shrank or a failing disk would.
    void SetReadLimit(int64_t limit) { m_limit = limit; }

private:
    std::string m_bytes;
    size_t m_pos = 0;
    int64_t m_limit = -1;
};
