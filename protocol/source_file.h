#pragma once

#include <cstdint>
#include <functional>
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
    // What the last failed read met, in words; empty when none failed.
    virtual std::string ErrorText() const { return {}; }
};

// A plain file on disk, read with the system's own reads straight into the
// caller's buffer.
class CDiskFile : public CSourceFile {
public:
    // No object when the path names nothing that can be read, or something
    // other than a plain file (a folder, a FIFO, a device such as /dev/zero):
    // `whyNot` then says which. A FIFO is opened without waiting for a
    // writer, so the refusal comes at once.
    static std::unique_ptr<CDiskFile> Open(const std::string& path, std::string* whyNot = nullptr);
    static constexpr const char* kNotPlainFileText = "not a regular file";
    ~CDiskFile() override;

    int64_t Length() override;
    bool SeekToStart() override;
    int64_t Read(uint8_t* buffer, int64_t count) override;
    bool Close() override;
    std::string ErrorText() const override;

private:
    explicit CDiskFile(int descriptor) : m_fd(descriptor) {}
    int m_fd;
    int m_error = 0;
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
    std::string ErrorText() const override;

    // Makes reads stop short after `limit` bytes in all, as a file that
    // shrank would, or fail there, as a failing disk would.
    void SetReadLimit(int64_t limit, bool fail = false) {
        m_limit = limit;
        m_failAtLimit = fail;
    }

private:
    std::string m_bytes;
    size_t m_pos = 0;
    int64_t m_limit = -1;
    bool m_failAtLimit = false;
    bool m_failed = false;
};

// The one loop that reads files for the transfers and the checksum.
namespace fileread {

// The size of the reads: large enough that a big image costs a few thousand
// system calls, small enough to stay in the cache while it is used.
inline constexpr int64_t kBlockSize = 64 * 1024;

struct Whole {
    int64_t bytes = 0;    // read and handed on
    bool failed = false;  // a read failed after `bytes`
};
// Reads the file from its start in kBlockSize blocks and hands each block on
// (only the last may be shorter); stops after `limit` bytes (-1: at the end
// of the file), at a read error, or when `take` returns false. A file that
// shrank or grew since its length was taken ends the reads where it ends or
// at `limit`: never beyond either.
Whole InBlocks(CSourceFile& file, int64_t limit,
               const std::function<bool(const uint8_t* block, int64_t count)>& take);
// The same reads straight into `area`, which holds `length` bytes: the whole
// file in memory without a copy from a block.
Whole Into(CSourceFile& file, uint8_t* area, int64_t length);

}  // namespace fileread
