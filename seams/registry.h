#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The part of the Windows registry the program reads and writes: text
// values of keys under HKEY_LOCAL_MACHINE, named by their path
// ("SOFTWARE\Corvane Ltd\Tessaly"). The Windows build reaches the real
// registry; tests script one.
class IRegistry {
public:
    virtual ~IRegistry() = default;

    // The text value `name` of the key; no value when the key cannot be
    // opened for reading, the value is missing, is not text, or does not fit
    // in `maxBytes` (its closing zero included).
    virtual std::optional<std::string> ReadText(const std::string& keyPath, const std::string& name,
                                                size_t maxBytes) = 0;
    // The names of the key's subkeys in the registry's index order, as far
    // as enumeration succeeds (a name that does not fit in `maxNameBytes`
    // ends it); no value when the key cannot be opened.
    virtual std::optional<std::vector<std::string>> SubkeyNames(const std::string& keyPath,
                                                                size_t maxNameBytes) = 0;
    // Creates the key if it is absent and sets the value as text; false when
    // either fails.
    virtual bool WriteText(const std::string& keyPath, const std::string& name,
                           const std::string& value) = 0;
};

// The machine's registry (Windows builds only).
std::shared_ptr<IRegistry> MakeSystemRegistry();
