#include "seams/firmware_path.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <system_error>
#include <vector>

namespace firmware_path {

std::string LoadOrSeed(IFirmwarePathStore& store, const std::string& defaultPath) {
    if (std::optional<std::string> path = store.Read()) return *path;
    store.Write(defaultPath);
    return {};
}

}  // namespace firmware_path

std::optional<std::string> CRegistryFirmwarePathStore::Read() {
    if (!m_registry) return std::nullopt;
    return m_registry->ReadText(firmware_path::kRegistryKey, firmware_path::kValueName,
                                firmware_path::kMaxRegistryBytes);
}

bool CRegistryFirmwarePathStore::Write(const std::string& path) {
    return m_registry &&
           m_registry->WriteText(firmware_path::kRegistryKey, firmware_path::kValueName, path);
}

// --- the settings file -------------------------------------------------------------

namespace {

constexpr std::string_view kGeneralSection = "[General]";

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// An escaped character is a UTF-16 unit; the path's bytes are UTF-8.
void AppendUtf8(std::string& out, unsigned value) {
    value &= 0xFFFF;
    if (value < 0x80) {
        out += static_cast<char>(value);
    } else if (value < 0x800) {
        out += static_cast<char>(0xC0 | (value >> 6));
        out += static_cast<char>(0x80 | (value & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (value >> 12));
        out += static_cast<char>(0x80 | ((value >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (value & 0x3F));
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r')) text.remove_prefix(1);
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// The key of a "key=value" line, or no value for other lines.
std::optional<std::string_view> LineKey(std::string_view line) {
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    return TrimBlanks(line.substr(0, equals));
}

bool IsSectionLine(std::string_view line) {
    line = TrimBlanks(line);
    return !line.empty() && line.front() == '[';
}

std::vector<std::string> ReadLines(const std::string& filePath, bool& opened) {
    std::vector<std::string> lines;
    std::ifstream in(filePath, std::ios::binary);
    opened = static_cast<bool>(in);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Where the value sits: the line of "Path=" in the General section (keys
// before the first section belong to it too), else none.
std::optional<size_t> FindPathLine(const std::vector<std::string>& lines) {
    bool inGeneral = true;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (IsSectionLine(lines[i])) {
            inGeneral = TrimBlanks(lines[i]) == kGeneralSection;
            continue;
        }
        if (inGeneral && LineKey(lines[i]) == firmware_path::kValueName) return i;
    }
    return std::nullopt;
}

}  // namespace

std::string EscapeIniText(const std::string& text) {
    // A text that starts with '@' would be read back as a typed value.
    const std::string value = !text.empty() && text.front() == '@' ? "@" + text : text;
    std::string out;
    bool needsQuotes = false;
    // After a "\x.." escape a hex digit would continue it.
    bool escapeNextIfHexDigit = false;
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == ';' || c == ',' || c == '=') needsQuotes = true;
        if (escapeNextIfHexDigit && IsHexDigit(c)) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%x", byte);
            out += hex;
            continue;
        }
        escapeNextIfHexDigit = false;
        switch (c) {
            case '\0':
                out += "\\0";
                escapeNextIfHexDigit = true;
                break;
            case '\a':
                out += "\\a";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\v':
                out += "\\v";
                break;
            case '"':
            case '\\':
                out += '\\';
                out += c;
                break;
            default:
                if (byte <= 0x1F) {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%x", byte);
                    out += hex;
                    escapeNextIfHexDigit = true;
                } else {
                    out += c;
                }
        }
    }
    if (needsQuotes || (!out.empty() && (out.front() == ' ' || out.back() == ' '))) {
        out = '"' + out + '"';
    }
    return out;
}

std::optional<std::string> UnescapeIniText(const std::string& stored) {
    std::string out;
    bool inQuotes = false;
    bool quoted = false;
    // Trailing blanks outside quotes are dropped, back to here.
    size_t keepUpTo = 0;
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < stored.size() && IsBlank(stored[i])) ++i;
    };
    skipBlanks();
    while (i < stored.size()) {
        const char c = stored[i];
        if (c == '\\') {
            if (++i >= stored.size()) break;
            const char code = stored[i++];
            static constexpr std::string_view kFrom = "abfnrtv\"?'\\";
            static constexpr std::string_view kTo = "\a\b\f\n\r\t\v\"?'\\";
            if (const size_t at = kFrom.find(code); at != std::string_view::npos) {
                out += kTo[at];
            } else if (code == 'x' || (code >= '0' && code <= '7')) {
                const int base = code == 'x' ? 16 : 8;
                unsigned value = code == 'x' ? 0 : static_cast<unsigned>(code - '0');
                for (; i < stored.size(); ++i) {
                    const int digit = HexValue(stored[i]);
                    if (digit < 0 || digit >= base) break;
                    value = value * base + static_cast<unsigned>(digit);
                }
                AppendUtf8(out, value);
            }
            keepUpTo = out.size();
            continue;
        }
        if (c == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) skipBlanks();
            keepUpTo = out.size();
            continue;
        }
        // An unquoted comma makes the value a list, which is no path.
        if (c == ',' && !inQuotes) return std::nullopt;
        out += c;
        ++i;
        if (inQuotes || !IsBlank(c)) keepUpTo = out.size();
    }
    if (!quoted) out.resize(keepUpTo);
    // Typed values: "@@" stands for a text that starts with '@'.
    if (!out.empty() && out.front() == '@') {
        if (out.rfind("@@", 0) == 0) return out.substr(1);
        if (out.rfind("@String(", 0) == 0 && out.back() == ')')
            return out.substr(8, out.size() - 9);
        if (out.back() == ')') return std::nullopt;
    }
    return out;
}

std::optional<std::string> CIniFirmwarePathStore::Read() {
    bool opened = false;
    const std::vector<std::string> lines = ReadLines(m_filePath, opened);
    if (!opened) return std::nullopt;
    const std::optional<size_t> at = FindPathLine(lines);
    if (!at) return std::nullopt;
    const std::string& line = lines[*at];
    std::string value = line.substr(line.find('=') + 1);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return UnescapeIniText(value);
}

bool CIniFirmwarePathStore::Write(const std::string& path) {
    namespace fs = std::filesystem;
    bool opened = false;
    std::vector<std::string> lines = ReadLines(m_filePath, opened);
    const std::string entry = std::string(firmware_path::kValueName) + '=' + EscapeIniText(path);
    if (const std::optional<size_t> at = FindPathLine(lines)) {
        lines[*at] = entry;
    } else {
        size_t general = lines.size();
        for (size_t i = 0; i < lines.size(); ++i) {
            if (TrimBlanks(lines[i]) == kGeneralSection) general = i;
        }
        if (general < lines.size()) {
            lines.insert(lines.begin() + static_cast<long>(general) + 1, entry);
        } else {
            // The settings write the General section first.
            lines.insert(lines.begin(), {std::string(kGeneralSection), entry, ""});
            if (lines.back().empty()) lines.pop_back();
        }
    }

    std::error_code error;
    const fs::path target(m_filePath);
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), error);
    const fs::path temporary = target.string() + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines) out << line << '\n';
        out.flush();
        if (!out) {
            fs::remove(temporary, error);
            return false;
        }
    }
    fs::rename(temporary, target, error);
    if (error) fs::remove(temporary, error);
    return !error;
}
