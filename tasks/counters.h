#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

class CMessageIF;
class IHostServices;

namespace counters {

struct Counter {
    int command;
    const char* label;  // as the page labels it
    const char* key;    // stable name for machine-readable output
};
inline constexpr int kCount = 4;
extern const std::array<Counter, kCount> kCounters;
// The four counters in the page's order; no value where none came back.
std::array<std::optional<std::string>, kCount> Read(CMessageIF& msg);

inline constexpr const char* kNoCommandWarning = "WARNING! No command entered!   ";
inline constexpr int kCommandLimit = 63;
// Sends a typed command as it stands (cut to what the page's field holds)
// and gives the printer time to act on it. False when nothing went out.
bool SendQuickCommand(CMessageIF& msg, IHostServices& host, const std::string& text);

enum class PrintResult {
    Sent,        // every byte went out
    OpenFailed,  // no file, or not a plain file: nothing sent
    TooLarge,    // 2 GiB or more: refused before reading
    ReadFailed,  // the file could not be read whole (or held): nothing sent
    Cut,         // the printer took only part of it, or nothing
};
struct PrintReport {
    PrintResult result = PrintResult::OpenFailed;
    int64_t sent = 0;    // bytes that went out
    int64_t length = 0;  // the file's length
    std::string reason;  // why the file could not be opened
};
// Sends a print file unchanged and tells the operator of anything short of
// every byte going out; `shownPath` is the path as the operator sees it.
PrintReport SendPrintFile(CMessageIF& msg, IHostServices& host, const std::string& path,
                          const std::string& shownPath);

}  // namespace counters
