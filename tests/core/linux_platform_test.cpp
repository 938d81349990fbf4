// The Linux build's own platform code: the kernel's USB printer driver as
// the USB backend sees it, and the parallel port through ppdev.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "links/ppdev_port.h"
#include "links/usblp_node.h"
#include "protocol/source_file.h"

namespace {

// The kernel printer driver's view of an interface, from its device folder
// (a stand-in tree here): node names, and the device ID it read.
TEST(UsblpNode, NamesAndDeviceIdComeFromTheInterfaceFolder) {
    EXPECT_EQ(UsbInterfaceName(3, {1, 4, 2}, 1, 0), "3-1.4.2:1.0");
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("usblp-test-" + std::to_string(::getpid()));
    fs::create_directories(root / "1-2:1.0" / "usbmisc" / "lp3");
    fs::create_directories(root / "1-2:1.0" / "usbmisc" / "lp1");
    fs::create_directories(root / "1-3:1.0");
    std::ofstream(root / "1-2:1.0" / "ieee1284_id") << "MFG:Velmora;SERN:DEV42;\n";
    EXPECT_EQ(UsblpNodeNames("1-2:1.0", root.string()), (std::vector<std::string>{"lp1", "lp3"}));
    EXPECT_EQ(UsblpDeviceId("1-2:1.0", root.string()), "MFG:Velmora;SERN:DEV42;");
    // Not bound to the driver: no node, no ID.
    EXPECT_TRUE(UsblpNodeNames("1-3:1.0", root.string()).empty());
    EXPECT_EQ(UsblpDeviceId("1-3:1.0", root.string()), std::nullopt);
    fs::remove_all(root);
}

// Who holds the printer, as the driver's node says. Only a refused second
// opener means busy; a node this user may not open (or that went away) may
// be printing all the same, so it is never taken for free.
TEST(UsblpNode, ProbeReadsTheNodesOpenFailure) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("usblp-probe-" + std::to_string(::getpid()));
    fs::create_directories(root / "1-2:1.0" / "usbmisc" / "lp0");
    fs::create_directories(root / "1-2:1.0" / "usbmisc" / "lp1");
    fs::create_directories(root / "1-3:1.0");
    struct Row {
        int lp0, lp1;
        UsblpNodeState state;
    };
    const Row rows[] = {
        {0, 0, UsblpNodeState::Free},
        {0, EBUSY, UsblpNodeState::Busy},
        {EACCES, 0, UsblpNodeState::CannotTell},
        {EACCES, EBUSY, UsblpNodeState::Busy},
        {ENODEV, 0, UsblpNodeState::CannotTell},
    };
    for (const Row& row : rows) {
        std::vector<std::string> opened;
        const auto open = [&](const std::string& node) {
            opened.push_back(node);
            return node == "/dev/usb/lp0" ? row.lp0 : row.lp1;
        };
        EXPECT_EQ(ProbeUsblpNode("1-2:1.0", root.string(), open), row.state)
            << row.lp0 << " " << row.lp1;
        EXPECT_EQ(opened.front(), "/dev/usb/lp0");
    }
    // Not bound: nothing to open.
    EXPECT_EQ(ProbeUsblpNode("1-3:1.0", root.string(), [](const std::string&) { return 0; }),
              UsblpNodeState::NotBound);
    fs::remove_all(root);
}

// The machine's parallel port.
TEST(PpdevPort, OpenFailsWithoutAClaimableParallelPortAndSaysWhy) {
    // The second: opens, but is no parallel port; the claim fails and nothing
    // is left open.
    const std::pair<const char*, const char*> rows[] = {
        {"/nonexistent/parport0", "modprobe -a parport_pc ppdev"},
        {"/dev/null", "could not be claimed"},
    };
    for (const auto& [device, why] : rows) {
        std::string said;
        EXPECT_EQ(CPpdevPort::Open(device, CPpdevPort::kPortsFolder, &said), nullptr) << device;
        EXPECT_NE(said.find(why), std::string::npos) << said;
    }
}

// Each port name opens its own port's node, not the first port's.
TEST(PpdevPort, PortNameChoosesTheNode) {
    const std::pair<const char*, std::optional<std::string>> rows[] = {
        {"LPT1:", "/dev/parport0"}, {"LPT2:", "/dev/parport1"}, {"LPT3:", "/dev/parport2"},
        {"LPT4:", "/dev/parport3"}, {"USB", std::nullopt},
    };
    for (const auto& [name, node] : rows) EXPECT_EQ(ParallelDevicePath(name), node) << name;
}

// Files the transfers are handed: a FIFO nobody writes to would hold the
// open for ever, and a device such as /dev/zero never ends.
TEST(DiskFile, FifosAndDevicesAreRefusedAtTheOpen) {
    const std::string fifo =
        (std::filesystem::temp_directory_path() / ("tessaly-fifo-" + std::to_string(::getpid())))
            .string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/zero")}) {
        std::string why;
        EXPECT_EQ(CDiskFile::Open(path, &why), nullptr) << path;
        EXPECT_EQ(why, CDiskFile::kNotPlainFileText) << path;
    }
    std::filesystem::remove(fifo);
}

// A port another driver holds is not claimed: the claim would wait for as
// long as that driver prints.
TEST(PpdevPort, PortHeldByAnotherDriverIsNotClaimed) {
    namespace fs = std::filesystem;
    const fs::path ports =
        fs::temp_directory_path() / ("parport-test-" + std::to_string(::getpid()));
    fs::create_directories(ports / "parport0" / "devices");
    std::ofstream(ports / "parport0" / "devices" / "active") << "none\n";
    EXPECT_EQ(ParallelPortHolder("/dev/parport0", ports.string()), std::nullopt);
    std::ofstream(ports / "parport0" / "devices" / "active") << "lp0\n";
    EXPECT_EQ(ParallelPortHolder("/dev/parport0", ports.string()), "lp0");
    EXPECT_EQ(ParallelPortHolder("/dev/parport1", ports.string()), std::nullopt);
    fs::remove_all(ports);
}

}  // namespace
