// The registry through the Win32 registry calls, ANSI forms: key and value
// texts are the program's 8-bit texts.
#include <windows.h>

#include <vector>

#include "seams/registry.h"

namespace {

// Closes the key when the scope ends, whichever way.
class CKey {
public:
    CKey() = default;
    ~CKey() {
        if (m_key != nullptr) ::RegCloseKey(m_key);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;

    HKEY* Out() { return &m_key; }
    HKEY Get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

class CWindowsRegistry : public IRegistry {
public:
    std::optional<std::string> ReadText(const std::string& keyPath, const std::string& name,
                                        size_t maxBytes) override {
        CKey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Out()) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        std::vector<char> buffer(maxBytes + 1, '\0');
        DWORD type = 0;
        DWORD size = static_cast<DWORD>(maxBytes);
        if (::RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type,
                               reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
        // The stored text may or may not carry its closing zero; the extra
        // byte of the buffer ends it either way.
        std::string text(buffer.data(), size);
        const size_t end = text.find('\0');
        if (end != std::string::npos) text.resize(end);
        return text;
    }

    std::optional<std::vector<std::string>> SubkeyNames(const std::string& keyPath,
                                                        size_t maxNameBytes) override {
        CKey key;
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, key.Out()) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        std::vector<std::string> names;
        std::vector<char> name(maxNameBytes, '\0');
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(name.size());
            if (::RegEnumKeyExA(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr,
                                nullptr) != ERROR_SUCCESS) {
                break;
            }
            names.emplace_back(name.data(), length);
        }
        return names;
    }

    bool WriteText(const std::string& keyPath, const std::string& name,
                   const std::string& value) override {
        CKey key;
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr,
                              REG_OPTION_NON_VOLATILE,
                              KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY, nullptr,
                              key.Out(), nullptr) != ERROR_SUCCESS) {
            return false;
        }
        return ::RegSetValueExA(key.Get(), name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
};

}  // namespace

std::shared_ptr<IRegistry> MakeSystemRegistry() { return std::make_shared<CWindowsRegistry>(); }
