// The Windows build's own platform code, run under wine: the registry's
// print-queue walk on the machine's real registry.

#include <gtest/gtest.h>

#include <string>

#include "links/registry_print_queues.h"
#include "links/usb_backend.h"
#include "seams/registry.h"

namespace {

TEST(WindowsRegistry, TheWalkOnTheMachinesRegistry) {
    std::shared_ptr<IRegistry> registry = MakeSystemRegistry();
    const std::string path = MakeUsbDevicePath(kMakerUsbVendorId, 0x8801, "TESSALYTEST1");
    ASSERT_TRUE(
        registry->WriteText("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_3C7A&PID_8801\\TESSALYTEST1",
                            "parentIdPrefix", "6&7e57&0"));
    const std::string printers = CRegistryPrintQueues::kPrintersKey;
    ASSERT_TRUE(registry->WriteText(printers + "\\Tessaly Test Queue\\PnPData", "DeviceInstanceId",
                                    "USBPRINT\\VELMORACARD\\6&7E57&0&USB001"));
    EXPECT_EQ(CRegistryPrintQueues(registry).FindInstalledPrinterName(path), "Tessaly Test Queue");

    // Values too long for their buffer count as unreadable.
    const std::string key = "SOFTWARE\\Corvane Ltd\\Tessaly Tests";
    ASSERT_TRUE(registry->WriteText(key, "Long", std::string(300, 'x')));
    EXPECT_EQ(registry->ReadText(key, "Long", 256), std::nullopt);
    EXPECT_EQ(registry->ReadText(key, "Long", 1024), std::string(300, 'x'));
    EXPECT_EQ(registry->ReadText(key, "Missing", 256), std::nullopt);
    EXPECT_EQ(registry->SubkeyNames(key + "\\Missing", 256), std::nullopt);
}

}  // namespace
