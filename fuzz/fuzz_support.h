#pragma once

// Shared by the fuzz targets: a reader over the fuzzer's bytes, a check that
// stops the run with a message, and host services that never wait.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "seams/host_services.h"
#include "support/fake_host.h"

// A failed check is a finding: the fuzzer keeps the input that caused it.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                      \
        }                                                                                      \
    } while (0)

// Takes the fuzzer's bytes from the front; once they run out every value is 0
// or empty, so a target never reads past the input.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    size_t Remaining() const { return m_size - m_pos; }

    uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    bool Bool() { return (Byte() & 1) != 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    // A value in [low, high], from as few bytes as the span needs.
    int Range(int low, int high) {
        const unsigned span = static_cast<unsigned>(high - low) + 1;
        const unsigned raw = span <= 256 ? Byte() : Word();
        return low + static_cast<int>(raw % span);
    }
    std::string Bytes(size_t count) {
        count = std::min(count, Remaining());
        std::string out(reinterpret_cast<const char*>(m_data + m_pos), count);
        m_pos += count;
        return out;
    }
    std::string Rest() { return Bytes(Remaining()); }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};
