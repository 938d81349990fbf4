#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "seams/registry.h"

// A scripted registry. Key paths are matched without regard to case, as
// Windows does; subkeys are listed in the order they were first written.
class FakeRegistry : public IRegistry {
public:
    void Set(const std::string& keyPath, const std::string& name, const std::string& value) {
        AddKey(keyPath);
        m_values[Fold(keyPath)][name] = value;
    }
    // The key and every key above it.
    void AddKey(const std::string& keyPath) {
        for (size_t end = keyPath.find('\\'); end != std::string::npos;
             end = keyPath.find('\\', end + 1)) {
            AddOne(keyPath.substr(0, end));
        }
        AddOne(keyPath);
    }
    // The key exists but cannot be opened (no rights).
    void Lock(const std::string& keyPath) { m_locked.insert(Fold(keyPath)); }

    // Every ReadText, as "key path|value name".
    std::vector<std::string> reads;

    std::optional<std::string> ReadText(const std::string& keyPath, const std::string& name,
                                        size_t maxBytes) override {
        reads.push_back(keyPath + "|" + name);
        if (!Opens(keyPath)) return std::nullopt;
        const auto key = m_values.find(Fold(keyPath));
        if (key == m_values.end()) return std::nullopt;
        const auto value = key->second.find(name);
        if (value == key->second.end() || value->second.size() + 1 > maxBytes) return std::nullopt;
        return value->second;
    }

    std::optional<std::vector<std::string>> SubkeyNames(const std::string& keyPath,
                                                        size_t maxNameBytes) override {
        if (!Opens(keyPath)) return std::nullopt;
        const std::string prefix = Fold(keyPath) + "\\";
        std::vector<std::string> names;
        for (const std::string& key : m_order) {
            const std::string folded = Fold(key);
            if (folded.rfind(prefix, 0) != 0) continue;
            const std::string name = key.substr(prefix.size());
            if (name.find('\\') != std::string::npos) continue;
            // Enumeration stops at a name that does not fit.
            if (name.size() + 1 > maxNameBytes) break;
            names.push_back(name);
        }
        return names;
    }

    bool WriteText(const std::string& keyPath, const std::string& name,
                   const std::string& value) override {
        if (m_locked.count(Fold(keyPath)) != 0) return false;
        Set(keyPath, name, value);
        return true;
    }

private:
    static std::string Fold(std::string text) {
        for (char& c : text) {
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        }
        return text;
    }
    bool Opens(const std::string& keyPath) const {
        return m_keys.count(Fold(keyPath)) != 0 && m_locked.count(Fold(keyPath)) == 0;
    }
    void AddOne(const std::string& keyPath) {
        if (m_keys.insert(Fold(keyPath)).second) m_order.push_back(keyPath);
    }

    std::set<std::string> m_keys;
    std::set<std::string> m_locked;
    std::vector<std::string> m_order;
    std::map<std::string, std::map<std::string, std::string>> m_values;
};
