#include "links/libusb_backend.h"

#include <libusb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <set>

#include "links/usb_device_id.h"
#include "links/usblp_node.h"

namespace {

// The printer class: subclass 1 "printer", protocol 2 "bidirectional", the
// one that has a read pipe for the printer's replies.
constexpr uint8_t kPrinterClass = LIBUSB_CLASS_PRINTER;
constexpr uint8_t kPrinterSubclass = 1;
constexpr uint8_t kBidirectionalProtocol = 2;
// USB hub chains are at most seven deep.
constexpr int kMaxPortDepth = 7;
// A string descriptor holds at most 126 UTF-16 characters.
constexpr int kSerialBufferSize = 256;
constexpr int kDefaultMaxPacket = 64;

struct PrinterInterface {
    int configuration = 0;  // bConfigurationValue of the active configuration
    int number = -1;
    int altSetting = 0;
    uint8_t outEndpoint = 0;
    uint8_t inEndpoint = 0;
    int inMaxPacket = kDefaultMaxPacket;
    int outMaxPacket = kDefaultMaxPacket;
};

// The first alternate setting of a bidirectional printer interface that has
// both a bulk OUT and a bulk IN endpoint.
bool FindPrinterInterface(libusb_device* device, PrinterInterface& found) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 || config == nullptr)
        return false;
    bool ok = false;
    for (int i = 0; i < config->bNumInterfaces && !ok; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting && !ok; ++a) {
            const libusb_interface_descriptor& alt = interface.altsetting[a];
            if (alt.bInterfaceClass != kPrinterClass ||
                alt.bInterfaceSubClass != kPrinterSubclass ||
                alt.bInterfaceProtocol != kBidirectionalProtocol) {
                continue;
            }
            PrinterInterface candidate;
            candidate.configuration = config->bConfigurationValue;
            candidate.number = alt.bInterfaceNumber;
            candidate.altSetting = alt.bAlternateSetting;
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& endpoint = alt.endpoint[e];
                if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) !=
                    LIBUSB_TRANSFER_TYPE_BULK) {
                    continue;
                }
                if ((endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN) {
                    if (candidate.inEndpoint == 0) {
                        candidate.inEndpoint = endpoint.bEndpointAddress;
                        const int packet = endpoint.wMaxPacketSize & 0x7FF;
                        candidate.inMaxPacket = packet > 0 ? packet : kDefaultMaxPacket;
                    }
                } else if (candidate.outEndpoint == 0) {
                    candidate.outEndpoint = endpoint.bEndpointAddress;
                    const int packet = endpoint.wMaxPacketSize & 0x7FF;
                    candidate.outMaxPacket = packet > 0 ? packet : kDefaultMaxPacket;
                }
            }
            if (candidate.inEndpoint != 0 && candidate.outEndpoint != 0) {
                found = candidate;
                ok = true;
            }
        }
    }
    libusb_free_config_descriptor(config);
    return ok;
}

// The printer class's GET_DEVICE_ID: a class request to the interface that
// reads the IEEE 1284 device ID.
constexpr uint8_t kGetDeviceIdRequestType = static_cast<uint8_t>(LIBUSB_ENDPOINT_IN) |
                                            static_cast<uint8_t>(LIBUSB_REQUEST_TYPE_CLASS) |
                                            static_cast<uint8_t>(LIBUSB_RECIPIENT_INTERFACE);
constexpr uint8_t kGetDeviceId = 0;
constexpr int kDeviceIdBufferSize = 1024;
// A printer answers a control request within milliseconds; one that does
// not holds up the listing, and with it the window, for this long.
constexpr unsigned int kDeviceIdTimeoutMs = 500;

// The kernel's name of a device's interface, for asking its printer driver.
std::string InterfaceName(libusb_device* device, int configuration, int interfaceNumber) {
    uint8_t portNumbers[kMaxPortDepth] = {};
    const int depth = libusb_get_port_numbers(device, portNumbers, kMaxPortDepth);
    return UsbInterfaceName(libusb_get_bus_number(device),
                            std::vector<int>(portNumbers, portNumbers + std::max(depth, 0)),
                            configuration, interfaceNumber);
}

// GET_DEVICE_ID names the configuration by its index, not its value.
int ConfigurationIndex(libusb_device* device, int configuration) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) return 0;
    for (uint8_t i = 0; i < descriptor.bNumConfigurations; ++i) {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_config_descriptor(device, i, &config) != 0 || config == nullptr) continue;
        const bool match = config->bConfigurationValue == configuration;
        libusb_free_config_descriptor(config);
        if (match) return i;
    }
    return 0;
}

// The printer's IEEE 1284 device ID; empty when it gives none. Where the
// kernel's printer driver holds the interface, the ID that driver read when
// it bound: asking the printer would mean taking the interface from it.
// Otherwise the interface is claimed just for the request, without taking
// it from any driver.
std::string ReadDeviceId(libusb_device* device, bool& denied) {
    PrinterInterface printer;
    if (!FindPrinterInterface(device, printer)) return {};
    // The driver's copy needs no access to the device at all.
    if (std::optional<std::string> bound =
            UsblpDeviceId(InterfaceName(device, printer.configuration, printer.number))) {
        return *bound;
    }
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    if (opened == LIBUSB_ERROR_ACCESS) denied = true;
    if (opened != 0) return {};
    std::string id;
    if (libusb_kernel_driver_active(handle, printer.number) == 1) {
        // Bound, yet the driver kept no ID: there is none to be had.
    } else if (libusb_claim_interface(handle, printer.number) == 0) {
        unsigned char reply[kDeviceIdBufferSize] = {};
        const int got = libusb_control_transfer(
            handle, kGetDeviceIdRequestType, kGetDeviceId,
            static_cast<uint16_t>(ConfigurationIndex(device, printer.configuration)),
            static_cast<uint16_t>(printer.number << 8 | printer.altSetting), reply, sizeof reply,
            kDeviceIdTimeoutMs);
        if (got > 0) id = DeviceIdFromReply(reply, got);
        libusb_release_interface(handle, printer.number);
    }
    libusb_close(handle);
    return id;
}

UsbIoResult ToResult(int status) {
    if (status == 0) return UsbIoResult::Done;
    if (status == LIBUSB_ERROR_TIMEOUT) return UsbIoResult::TimedOut;
    return UsbIoResult::Failed;
}

// libusb reads a time-out of 0 as "wait for ever".
unsigned int Timeout(int timeoutMs) { return static_cast<unsigned int>(std::max(1, timeoutMs)); }

// The most Linux takes in one bulk request. libusb splits a larger transfer
// into several, and when it times out and is cancelled, bytes of the later
// requests can reach the device without being counted, or be counted
// without reaching it (seen on a real kernel at full speed: a 1 MiB print
// lost kilobytes). Sent one request at a time, the count stays exact.
constexpr int kLargestBulkRequest = 16384;

}  // namespace

struct CLibusbBackend::Claim {
    std::shared_ptr<libusb_context> context;
    libusb_device_handle* handle = nullptr;
    PrinterInterface interface;

    Claim() = default;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    ~Claim() {
        // Releasing also re-attaches usblp (auto-detach was set).
        libusb_release_interface(handle, interface.number);
        libusb_close(handle);
    }
};

struct CLibusbBackend::Listed {
    UsbDeviceInfo info;
    libusb_device* device = nullptr;  // referenced
};

namespace {

class CLibusbPipe : public IUsbPipe {
public:
    CLibusbPipe(std::shared_ptr<CLibusbBackend::Claim> claim, UsbPipeKind kind)
        : m_claim(std::move(claim)), m_kind(kind) {}

    UsbIoResult BulkWrite(const uint8_t* data, int length, int timeoutMs,
                          int& transferred) override {
        transferred = 0;
        if (m_kind != UsbPipeKind::Write || data == nullptr || length <= 0) {
            return UsbIoResult::Failed;
        }
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = LIBUSB_SUCCESS;
        while (transferred < length) {
            const int piece = std::min(length - transferred, kLargestBulkRequest);
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            int moved = 0;
            // libusb takes a non-const buffer for both directions; OUT only reads it.
            status = libusb_bulk_transfer(
                m_claim->handle, m_claim->interface.outEndpoint,
                const_cast<uint8_t*>(data) + transferred, piece, &moved,
                Timeout(static_cast<int>(std::max<long long>(left.count(), 1))));
            transferred += std::clamp(moved, 0, piece);
            if (status != LIBUSB_SUCCESS || moved < piece) break;
            if (transferred < length && Clock::now() >= deadline) {
                status = LIBUSB_ERROR_TIMEOUT;
                break;
            }
        }
        // A write that ends on a packet boundary ends with a zero-length
        // packet: a device that gathers packets into larger buffers hands
        // the data on at a short packet, and without one the tail of the
        // write waits there for whatever comes next (seen on a real kernel:
        // the last kilobytes of a print held back until the next request).
        // The data is counted already; a printer too busy to take the end
        // marker at once still has every byte.
        if (status == LIBUSB_SUCCESS && transferred == length &&
            length % m_claim->interface.outMaxPacket == 0) {
            uint8_t none = 0;
            int moved = 0;
            libusb_bulk_transfer(m_claim->handle, m_claim->interface.outEndpoint, &none, 0, &moved,
                                 Timeout(timeoutMs));
        }
        return Finish(status, m_claim->interface.outEndpoint);
    }

    UsbIoResult BulkRead(uint8_t* buffer, int capacity, int timeoutMs, int& transferred) override {
        transferred = 0;
        if (m_kind != UsbPipeKind::Read || buffer == nullptr || capacity <= 0) {
            return UsbIoResult::Failed;
        }
        if (m_reader.TakeKept(buffer, capacity, transferred)) return UsbIoResult::Done;
        int size = 0;
        uint8_t* area = m_reader.Area(capacity, m_claim->interface.inMaxPacket, size);
        int got = 0;
        const int status = libusb_bulk_transfer(m_claim->handle, m_claim->interface.inEndpoint,
                                                area, size, &got, Timeout(timeoutMs));
        transferred = m_reader.Deliver(got, buffer, capacity);
        return Finish(status, m_claim->interface.inEndpoint);
    }

private:
    UsbIoResult Finish(int status, uint8_t endpoint) {
        // A stalled endpoint stays stalled until cleared; clear it so the
        // next transfer has a chance.
        if (status == LIBUSB_ERROR_PIPE) libusb_clear_halt(m_claim->handle, endpoint);
        return ToResult(status);
    }

    std::shared_ptr<CLibusbBackend::Claim> m_claim;
    UsbPipeKind m_kind;
    CUsbPacketReader m_reader;
};

}  // namespace

CLibusbBackend::CLibusbBackend() = default;

CLibusbBackend::~CLibusbBackend() = default;

bool CLibusbBackend::Start() {
    if (m_started) return m_context != nullptr;
    m_started = true;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) return false;
    m_context = std::shared_ptr<libusb_context>(context, [](libusb_context* c) { libusb_exit(c); });
    return true;
}

bool CLibusbBackend::List(std::vector<Listed>& devices) {
    if (!Start()) return false;
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context.get(), &list);
    if (count < 0) return false;
    std::set<std::string> paths;
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device* device = list[i];
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(device, &descriptor) != 0) continue;

        // Only the maker's devices are opened for their serial number; the
        // others are named by where they are plugged in.
        std::string serial;
        if (descriptor.idVendor == kMakerUsbVendorId && descriptor.iSerialNumber != 0) {
            libusb_device_handle* handle = nullptr;
            if (libusb_open(device, &handle) == 0) {
                unsigned char text[kSerialBufferSize] = {};
                const int length = libusb_get_string_descriptor_ascii(
                    handle, descriptor.iSerialNumber, text, sizeof text);
                if (length > 0) serial.assign(reinterpret_cast<const char*>(text), length);
                libusb_close(handle);
            }
        }
        uint8_t portNumbers[kMaxPortDepth] = {};
        const int depth = libusb_get_port_numbers(device, portNumbers, kMaxPortDepth);
        std::vector<int> ports(portNumbers, portNumbers + std::max(depth, 0));
        const int bus = libusb_get_bus_number(device);

        std::string path = MakeUsbDevicePath(descriptor.idVendor, descriptor.idProduct,
                                             MakeUsbInstance(serial, bus, ports));
        // Two devices sharing one serial number would share a path, and the
        // second could never be chosen: name it by its place instead.
        if (!paths.insert(path).second) {
            path = MakeUsbDevicePath(descriptor.idVendor, descriptor.idProduct,
                                     MakeUsbInstance("", bus, ports));
            paths.insert(path);
        }
        Listed entry;
        entry.info.devicePath = std::move(path);
        entry.info.vendorId = descriptor.idVendor;
        entry.info.productId = descriptor.idProduct;
        entry.info.serial = std::move(serial);
        entry.device = libusb_ref_device(device);
        devices.push_back(std::move(entry));
    }
    libusb_free_device_list(list, 1);
    return true;
}

bool CLibusbBackend::Enumerate(std::vector<UsbDeviceInfo>& devices) {
    m_denied = false;
    std::vector<Listed> listed;
    if (!List(listed)) return false;
    std::map<std::string, std::string> deviceIds;
    for (Listed& entry : listed) {
        // Print queues may name the maker's printers by their device ID. A
        // device keeps its ID while it stays plugged in (a new plug gets a
        // new address), so each Open asks the printer once, not per listing.
        if (entry.info.vendorId == kMakerUsbVendorId) {
            const std::string key = entry.info.devicePath + '@' +
                                    std::to_string(libusb_get_bus_number(entry.device)) + '.' +
                                    std::to_string(libusb_get_device_address(entry.device));
            const auto known = m_deviceIds.find(key);
            entry.info.deviceId =
                known != m_deviceIds.end() ? known->second : ReadDeviceId(entry.device, m_denied);
            deviceIds[key] = entry.info.deviceId;
        }
        devices.push_back(std::move(entry.info));
        libusb_unref_device(entry.device);
    }
    m_deviceIds = std::move(deviceIds);
    return true;
}

libusb_device* CLibusbBackend::FindDevice(const std::string& devicePath) {
    std::vector<Listed> listed;
    if (!List(listed)) return nullptr;
    libusb_device* found = nullptr;
    for (Listed& entry : listed) {
        if (found == nullptr && entry.info.devicePath == devicePath) {
            found = entry.device;
        } else {
            libusb_unref_device(entry.device);
        }
    }
    return found;
}

bool CLibusbBackend::CanOpen(const std::string& devicePath) {
    libusb_device* device = FindDevice(devicePath);
    if (device == nullptr) return false;
    libusb_device_handle* handle = nullptr;
    const int status = libusb_open(device, &handle);
    if (status == 0) libusb_close(handle);
    if (status == LIBUSB_ERROR_ACCESS) m_denied = true;
    libusb_unref_device(device);
    return status == 0;
}

std::shared_ptr<CLibusbBackend::Claim> CLibusbBackend::OpenClaim(const std::string& devicePath) {
    libusb_device* device = FindDevice(devicePath);
    if (device == nullptr) return nullptr;
    PrinterInterface interface;
    libusb_device_handle* handle = nullptr;
    // A program printing through the kernel's printer driver holds the
    // printer: detaching the driver below would cut its job off mid-card.
    bool opened = false;
    if (FindPrinterInterface(device, interface)) {
        const UsblpNodeState node =
            AskNode(InterfaceName(device, interface.configuration, interface.number));
        opened = node == UsblpNodeState::Free || node == UsblpNodeState::NotBound;
    }
    if (opened) {
        const int status = libusb_open(device, &handle);
        if (status == LIBUSB_ERROR_ACCESS) m_denied = true;
        opened = status == 0;
    }
    libusb_unref_device(device);
    if (!opened) return nullptr;

    // usblp is detached for the claim and attached again on release. Where
    // the platform cannot detach, the claim below fails if a driver holds it.
    libusb_set_auto_detach_kernel_driver(handle, 1);
    if (libusb_claim_interface(handle, interface.number) != 0) {
        libusb_close(handle);
        return nullptr;
    }
    auto claim = std::make_shared<Claim>();
    claim->context = m_context;
    claim->handle = handle;
    claim->interface = interface;
    if (interface.altSetting != 0 &&
        libusb_set_interface_alt_setting(handle, interface.number, interface.altSetting) != 0) {
        return nullptr;  // the claim's destructor releases and closes
    }
    return claim;
}

UsblpNodeState CLibusbBackend::AskNode(const std::string& interfaceName) {
    const UsblpNodeState node = ProbeUsblpNode(interfaceName);
    if (node == UsblpNodeState::CannotTell) m_denied = true;
    return node;
}

bool CLibusbBackend::ProbeExclusive(const std::string& devicePath) {
    auto held = m_claims.find(devicePath);
    if (held != m_claims.end() && !held->second.expired()) return false;
    libusb_device* device = FindDevice(devicePath);
    if (device == nullptr) return false;
    PrinterInterface interface;
    const bool found = FindPrinterInterface(device, interface);
    const std::string name = InterfaceName(device, interface.configuration, interface.number);
    libusb_unref_device(device);
    if (!found) return false;
    // Where usblp is bound, opening its node alone is the exclusive probe:
    // claiming would detach the driver only to attach it again, and the
    // printing service would see its printer vanish and come back.
    const UsblpNodeState node = AskNode(name);
    if (node != UsblpNodeState::NotBound) return node == UsblpNodeState::Free;
    return OpenClaim(devicePath) != nullptr;
}

std::unique_ptr<IUsbPipe> CLibusbBackend::OpenPipe(const std::string& devicePath,
                                                   UsbPipeKind kind) {
    std::erase_if(m_claims, [](const auto& entry) { return entry.second.expired(); });
    std::shared_ptr<Claim> claim;
    if (auto held = m_claims.find(devicePath); held != m_claims.end()) claim = held->second.lock();
    if (!claim) {
        claim = OpenClaim(devicePath);
        if (!claim) return nullptr;
        m_claims[devicePath] = claim;
    }
    return std::make_unique<CLibusbPipe>(claim, kind);
}

bool CLibusbBackend::DeniedAccess() const { return m_denied; }

std::shared_ptr<IUsbBackend> MakeSystemUsbBackend() { return std::make_shared<CLibusbBackend>(); }
