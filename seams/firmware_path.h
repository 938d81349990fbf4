#pragma once

#include <memory>
#include <optional>
#include <string>

#include "seams/registry.h"

// The printer firmware path of the last upgrade whose checksum matched,
// kept between runs as the value "Path" of organisation "Corvane Ltd",
// application "Tessaly": machine-wide in the Windows registry
// (HKEY_LOCAL_MACHINE\SOFTWARE\Corvane Ltd\Tessaly), in the user's own
// configuration file elsewhere (~/.config/Corvane Ltd/Tessaly.conf, the
// file the window's settings use). Paths are the file system's own bytes.
class IFirmwarePathStore {
public:
    virtual ~IFirmwarePathStore() = default;
    // The stored path; no value when there is none, it is not a text, or the
    // store cannot be read.
    virtual std::optional<std::string> Read() = 0;
    // False when the path could not be stored.
    virtual bool Write(const std::string& path) = 0;
};

namespace firmware_path {

inline constexpr const char* kValueName = "Path";
inline constexpr const char* kRegistryKey = "SOFTWARE\\Corvane Ltd\\Tessaly";
// The registry value is read into a buffer of this many bytes.
inline constexpr size_t kMaxRegistryBytes = 1024;

// The stored path; on a first run (nothing readable stored) the platform's
// default is written for the next run, and this run gets the empty path.
std::string LoadOrSeed(IFirmwarePathStore& store, const std::string& defaultPath);

}  // namespace firmware_path

// The registry value.
class CRegistryFirmwarePathStore : public IFirmwarePathStore {
public:
    explicit CRegistryFirmwarePathStore(std::shared_ptr<IRegistry> registry)
        : m_registry(std::move(registry)) {}
    std::optional<std::string> Read() override;
    bool Write(const std::string& path) override;

private:
    std::shared_ptr<IRegistry> m_registry;
};

// The settings file, in the INI form the window's settings read and write:
// key "Path" of section [General], the value escaped and quoted as they
// write it. Other keys and sections of the file are kept.
class CIniFirmwarePathStore : public IFirmwarePathStore {
public:
    explicit CIniFirmwarePathStore(std::string filePath) : m_filePath(std::move(filePath)) {}
    std::optional<std::string> Read() override;
    // Writes a new file beside the old one and puts it in its place, so a
    // failure leaves the old file whole.
    bool Write(const std::string& path) override;

    const std::string& FilePath() const { return m_filePath; }

private:
    std::string m_filePath;
};

// The value as the settings file holds it, and back: no value for a line
// that holds a list or anything but a text.
std::string EscapeIniText(const std::string& text);
std::optional<std::string> UnescapeIniText(const std::string& stored);

// The machine's store, and what a first run writes: C:\coldfire.cfa on
// Windows, coldfire.cfa in the user's home elsewhere.
std::unique_ptr<IFirmwarePathStore> MakeSystemFirmwarePathStore();
std::string DefaultFirmwarePath();
