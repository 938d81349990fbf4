#include "seams/firmware_path.h"

std::unique_ptr<IFirmwarePathStore> MakeSystemFirmwarePathStore() {
    return std::make_unique<CRegistryFirmwarePathStore>(MakeSystemRegistry());
}

std::string DefaultFirmwarePath() { return "C:\\coldfire.cfa"; }
