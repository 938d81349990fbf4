#include "links/winusb_backend.h"

#include <windows.h>
// The SetupAPI and WinUSB headers need the Windows types first.
#include <setupapi.h>
#include <winusb.h>

#include <algorithm>
#include <vector>

namespace {

// The published USB device interface class {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
constexpr GUID kUsbDeviceInterfaceGuid = {
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
constexpr UCHAR kPrinterClass = 7;
constexpr USHORT kDefaultMaxPacket = 64;
// More interfaces than any machine has: a set that keeps failing on one
// index cannot hold the enumeration for ever.
constexpr DWORD kMaxInterfaces = 4096;

// Closes the handle when the scope ends.
class CFile {
public:
    explicit CFile(HANDLE handle) : m_handle(handle) {}
    ~CFile() {
        if (Valid()) ::CloseHandle(m_handle);
    }
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;
    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Release() {
        HANDLE handle = m_handle;
        m_handle = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE m_handle;
};

HANDLE OpenDevice(const std::string& systemPath, DWORD share, DWORD flags) {
    return ::CreateFileA(systemPath.c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr,
                         OPEN_EXISTING, flags, nullptr);
}

struct PrinterPipes {
    WINUSB_INTERFACE_HANDLE interface = nullptr;
    UCHAR outPipe = 0;
    UCHAR inPipe = 0;
    USHORT inMaxPacket = kDefaultMaxPacket;
};

// The bulk pipes of a printer-class interface, when `interface` is one.
bool FindPrinterPipes(WINUSB_INTERFACE_HANDLE interface, PrinterPipes& found) {
    USB_INTERFACE_DESCRIPTOR descriptor{};
    if (!::WinUsb_QueryInterfaceSettings(interface, 0, &descriptor) ||
        descriptor.bInterfaceClass != kPrinterClass) {
        return false;
    }
    PrinterPipes pipes;
    pipes.interface = interface;
    for (UCHAR i = 0; i < descriptor.bNumEndpoints; ++i) {
        WINUSB_PIPE_INFORMATION pipe{};
        if (!::WinUsb_QueryPipe(interface, 0, i, &pipe) || pipe.PipeType != UsbdPipeTypeBulk) {
            continue;
        }
        if (USB_ENDPOINT_DIRECTION_IN(pipe.PipeId)) {
            if (pipes.inPipe == 0) {
                pipes.inPipe = pipe.PipeId;
                pipes.inMaxPacket =
                    pipe.MaximumPacketSize > 0 ? pipe.MaximumPacketSize : kDefaultMaxPacket;
            }
        } else if (pipes.outPipe == 0) {
            pipes.outPipe = pipe.PipeId;
        }
    }
    if (pipes.inPipe == 0 || pipes.outPipe == 0) return false;
    found = pipes;
    return true;
}

UsbIoResult ToResult(BOOL ok) {
    if (ok) return UsbIoResult::Done;
    return ::GetLastError() == ERROR_SEM_TIMEOUT ? UsbIoResult::TimedOut : UsbIoResult::Failed;
}

}  // namespace

struct CWinUsbBackend::Claim {
    HANDLE file = INVALID_HANDLE_VALUE;
    WINUSB_INTERFACE_HANDLE first = nullptr;
    // Another interface of a composite device, when the printer is not the
    // first.
    WINUSB_INTERFACE_HANDLE associated = nullptr;
    PrinterPipes pipes;
    ULONG outTimeoutMs = 0;
    ULONG inTimeoutMs = 0;

    Claim() = default;
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;
    ~Claim() {
        if (associated != nullptr) ::WinUsb_Free(associated);
        if (first != nullptr) ::WinUsb_Free(first);
        if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
    }

    // A pipe's time-out is its policy; set only when it changes.
    bool SetTimeout(UCHAR pipe, ULONG& current, int timeoutMs) {
        // 0 would mean "wait for ever".
        const ULONG wanted = static_cast<ULONG>(std::max(timeoutMs, 1));
        if (wanted == current) return true;
        if (!::WinUsb_SetPipePolicy(pipes.interface, pipe, PIPE_TRANSFER_TIMEOUT, sizeof wanted,
                                    const_cast<ULONG*>(&wanted))) {
            return false;
        }
        current = wanted;
        return true;
    }

    // A stalled pipe stays stalled until reset.
    void ResetIfStalled(UCHAR pipe) {
        if (::GetLastError() == ERROR_GEN_FAILURE) ::WinUsb_ResetPipe(pipes.interface, pipe);
    }
};

namespace {

class CWinUsbPipe : public IUsbPipe {
public:
    CWinUsbPipe(std::shared_ptr<CWinUsbBackend::Claim> claim, UsbPipeKind kind)
        : m_claim(std::move(claim)), m_kind(kind) {}

    UsbIoResult BulkWrite(const uint8_t* data, int length, int timeoutMs,
                          int& transferred) override {
        transferred = 0;
        if (m_kind != UsbPipeKind::Write || data == nullptr || length <= 0) {
            return UsbIoResult::Failed;
        }
        const UCHAR pipe = m_claim->pipes.outPipe;
        if (!m_claim->SetTimeout(pipe, m_claim->outTimeoutMs, timeoutMs))
            return UsbIoResult::Failed;
        ULONG written = 0;
        // WinUSB takes a non-const buffer for both directions; OUT only reads it.
        const BOOL ok =
            ::WinUsb_WritePipe(m_claim->pipes.interface, pipe, const_cast<uint8_t*>(data),
                               static_cast<ULONG>(length), &written, nullptr);
        const UsbIoResult result = ToResult(ok);
        if (result == UsbIoResult::Failed) m_claim->ResetIfStalled(pipe);
        transferred = static_cast<int>(std::min<ULONG>(written, static_cast<ULONG>(length)));
        return result;
    }

    UsbIoResult BulkRead(uint8_t* buffer, int capacity, int timeoutMs, int& transferred) override {
        transferred = 0;
        if (m_kind != UsbPipeKind::Read || buffer == nullptr || capacity <= 0) {
            return UsbIoResult::Failed;
        }
        if (m_reader.TakeKept(buffer, capacity, transferred)) return UsbIoResult::Done;
        const UCHAR pipe = m_claim->pipes.inPipe;
        if (!m_claim->SetTimeout(pipe, m_claim->inTimeoutMs, timeoutMs)) return UsbIoResult::Failed;
        int size = 0;
        uint8_t* area = m_reader.Area(capacity, m_claim->pipes.inMaxPacket, size);
        ULONG got = 0;
        const BOOL ok = ::WinUsb_ReadPipe(m_claim->pipes.interface, pipe, area,
                                          static_cast<ULONG>(size), &got, nullptr);
        const UsbIoResult result = ToResult(ok);
        if (result == UsbIoResult::Failed) m_claim->ResetIfStalled(pipe);
        transferred = m_reader.Deliver(
            static_cast<int>(std::min<ULONG>(got, static_cast<ULONG>(size))), buffer, capacity);
        return result;
    }

private:
    std::shared_ptr<CWinUsbBackend::Claim> m_claim;
    UsbPipeKind m_kind;
    CUsbPacketReader m_reader;
};

}  // namespace

CWinUsbBackend::CWinUsbBackend() = default;

CWinUsbBackend::~CWinUsbBackend() = default;

bool CWinUsbBackend::ListSystemPaths(std::vector<std::string>& paths) {
    HDEVINFO set = ::SetupDiGetClassDevsA(&kUsbDeviceInterfaceGuid, nullptr, nullptr,
                                          DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return false;
    for (DWORD index = 0; index < kMaxInterfaces; ++index) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &kUsbDeviceInterfaceGuid, index, &data)) {
            if (::GetLastError() == ERROR_NO_MORE_ITEMS) break;
            continue;
        }
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) continue;
        std::vector<uint8_t> storage(size, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (!::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) {
            continue;
        }
        paths.emplace_back(detail->DevicePath);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return true;
}

bool CWinUsbBackend::Enumerate(std::vector<UsbDeviceInfo>& devices) {
    std::vector<std::string> paths;
    if (!ListSystemPaths(paths)) return false;
    for (const std::string& path : paths) {
        std::optional<UsbDeviceInfo> device = UsbDeviceFromInterfacePath(path);
        if (!device) continue;
        m_systemPaths[device->devicePath] = path;
        devices.push_back(std::move(*device));
    }
    return true;
}

std::string CWinUsbBackend::SystemPath(const std::string& devicePath) {
    if (auto known = m_systemPaths.find(devicePath); known != m_systemPaths.end()) {
        return known->second;
    }
    std::vector<UsbDeviceInfo> devices;
    Enumerate(devices);
    auto known = m_systemPaths.find(devicePath);
    return known != m_systemPaths.end() ? known->second : std::string();
}

bool CWinUsbBackend::CanOpen(const std::string& devicePath) {
    const std::string path = SystemPath(devicePath);
    if (path.empty()) return false;
    CFile file(OpenDevice(path, FILE_SHARE_READ | FILE_SHARE_WRITE, 0));
    return file.Valid();
}

bool CWinUsbBackend::ProbeExclusive(const std::string& devicePath) {
    const std::string path = SystemPath(devicePath);
    if (path.empty()) return false;
    CFile file(OpenDevice(path, 0, 0));
    return file.Valid();
}

std::unique_ptr<IUsbPipe> CWinUsbBackend::OpenPipe(const std::string& devicePath,
                                                   UsbPipeKind kind) {
    std::erase_if(m_claims, [](const auto& entry) { return entry.second.expired(); });
    std::shared_ptr<Claim> claim;
    if (auto held = m_claims.find(devicePath); held != m_claims.end()) claim = held->second.lock();
    if (!claim) {
        const std::string path = SystemPath(devicePath);
        if (path.empty()) return nullptr;
        // WinUSB needs the device opened for overlapped I/O; the pipe calls
        // below still wait for their transfer (no overlapped record).
        CFile file(OpenDevice(path, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED));
        if (!file.Valid()) return nullptr;
        claim = std::make_shared<Claim>();
        claim->file = file.Release();
        // On failure the claim's destructor closes the device again.
        if (!::WinUsb_Initialize(claim->file, &claim->first)) return nullptr;
        bool found = FindPrinterPipes(claim->first, claim->pipes);
        for (UCHAR index = 0; !found; ++index) {
            WINUSB_INTERFACE_HANDLE other = nullptr;
            if (!::WinUsb_GetAssociatedInterface(claim->first, index, &other)) break;
            found = FindPrinterPipes(other, claim->pipes);
            if (found) {
                claim->associated = other;
            } else {
                ::WinUsb_Free(other);
            }
        }
        if (!found) return nullptr;  // the claim's destructor lets go
        m_claims[devicePath] = claim;
    }
    return std::make_unique<CWinUsbPipe>(claim, kind);
}

std::shared_ptr<IUsbBackend> MakeSystemUsbBackend() { return std::make_shared<CWinUsbBackend>(); }
