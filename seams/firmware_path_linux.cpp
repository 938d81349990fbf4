#include <cstdlib>
#include <string>

#include "seams/firmware_path.h"

namespace {

std::string Home() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

// Where the window's settings keep the user's file.
std::string SettingsFile() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string folder =
        config != nullptr && *config == '/' ? std::string(config) : Home() + "/.config";
    return folder + "/Corvane Ltd/Tessaly.conf";
}

}  // namespace

std::unique_ptr<IFirmwarePathStore> MakeSystemFirmwarePathStore() {
    return std::make_unique<CIniFirmwarePathStore>(SettingsFile());
}

std::string DefaultFirmwarePath() { return Home() + "/coldfire.cfa"; }
