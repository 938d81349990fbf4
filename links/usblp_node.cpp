#include "links/usblp_node.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

constexpr const char* kNodeFolder = "/dev/usb/";
constexpr const char* kDriverClassFolder = "usbmisc";
constexpr const char* kDeviceIdFile = "ieee1284_id";
// The driver keeps at most this much of a device ID.
constexpr std::streamsize kMaxDeviceId = 1024;

}  // namespace

std::string UsbInterfaceName(int bus, const std::vector<int>& ports, int configuration,
                             int interfaceNumber) {
    std::string name = std::to_string(bus);
    for (size_t i = 0; i < ports.size(); ++i) {
        name += (i == 0 ? '-' : '.');
        name += std::to_string(ports[i]);
    }
    return name + ':' + std::to_string(configuration) + '.' + std::to_string(interfaceNumber);
}

std::vector<std::string> UsblpNodeNames(const std::string& interfaceName,
                                        const std::string& devicesRoot) {
    std::vector<std::string> names;
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::path(devicesRoot) / interfaceName / kDriverClassFolder;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("lp", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

int OpenAndCloseNode(const std::string& node) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno;
    ::close(fd);
    return 0;
}

UsblpNodeState ProbeUsblpNode(const std::string& interfaceName, const std::string& devicesRoot,
                              const UsblpNodeOpener& open) {
    const std::vector<std::string> names = UsblpNodeNames(interfaceName, devicesRoot);
    if (names.empty()) return UsblpNodeState::NotBound;
    UsblpNodeState state = UsblpNodeState::Free;
    for (const std::string& name : names) {
        const int error = open(kNodeFolder + name);
        if (error == EBUSY) return UsblpNodeState::Busy;
        // A node this user may not open could be printing as well as idle:
        // taking it for free would detach the driver from under a job.
        if (error != 0) state = UsblpNodeState::CannotTell;
    }
    return state;
}

std::optional<std::string> UsblpDeviceId(const std::string& interfaceName,
                                         const std::string& devicesRoot) {
    std::ifstream file(std::filesystem::path(devicesRoot) / interfaceName / kDeviceIdFile,
                       std::ios::binary);
    if (!file) return std::nullopt;
    std::string text(static_cast<size_t>(kMaxDeviceId), '\0');
    file.read(text.data(), kMaxDeviceId);
    text.resize(static_cast<size_t>(file.gcount()));
    // The driver ends the ID with a line feed of its own.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\0')) text.pop_back();
    if (text.empty()) return std::nullopt;
    return text;
}
