#include "links/usb_device.h"

#include <algorithm>
#include <iostream>

#include "links/usb_discovery.h"

uint32_t LinuxPlatformId() { return kPlatformWin32Nt; }

CUSBDevice::CUSBDevice(UsbLinkParts parts) : m_parts(std::move(parts)) {}

CUSBDevice::~CUSBDevice() { Close(); }

int CUSBDevice::Open() {
    const uint32_t platform = m_parts.platformId ? m_parts.platformId() : LinuxPlatformId();
    if (platform < kPlatformWin32Nt) m_parts.host.Message(kOnlyDeviceText, MsgButtons::Ok);

    // Our own claim would make the device look busy to the discovery below.
    Close();

    std::string devicePath;
    if (!m_parts.backend || !FindFirstUsbPrinter(platform, devicePath)) return 0;

    if (m_parts.queues) {
        CUsbDiscovery discovery(*m_parts.backend, *m_parts.queues);
        m_parts.selection.RunSelection(discovery, m_parts.host);
    }
    if (!tessaly::SelectedUsbDevicePath.empty()) devicePath = tessaly::SelectedUsbDevicePath;

    m_writePipe = m_parts.backend->OpenPipe(devicePath, UsbPipeKind::Write);
    m_readPipe = m_parts.backend->OpenPipe(devicePath, UsbPipeKind::Read);
    if (m_writePipe && m_readPipe) return 1;
    // Half a link is no link; holding the other pipe would keep the printer
    // from the printing service and make the next discovery fail on it.
    Close();
    return 0;
}

void CUSBDevice::Close() {
    m_readPipe.reset();
    m_writePipe.reset();
}

bool CUSBDevice::FindFirstUsbPrinter(uint32_t platformId, std::string& devicePath) {
    std::vector<UsbDeviceInfo> devices;
    if (!m_parts.backend->Enumerate(devices)) return false;
    for (const UsbDeviceInfo& device : devices) {
        if (std::optional<int32_t> vendor = tessaly::ParseVendorId(device.devicePath)) {
            tessaly::UsbLastVendorId = *vendor;
        }
        if (platformId >= kPlatformWin32Nt && tessaly::UsbLastVendorId != kMakerUsbVendorId) {
            continue;
        }
        if (m_parts.backend->CanOpen(device.devicePath)) {
            devicePath = device.devicePath;
            return true;
        }
    }
    m_parts.host.Message(kNoPrintersText, MsgButtons::Ok);
    return false;
}

void CUSBDevice::ReportInvalidHandle() {
    std::ostream& out = m_parts.diagnostics ? *m_parts.diagnostics : std::cout;
    out << kInvalidHandleText << std::flush;
}

int CUSBDevice::Write(const uint8_t* data, int length) {
    if (!m_writePipe) {
        ReportInvalidHandle();
        return 0;
    }
    if (data == nullptr || length <= 0) return 0;
    int remaining = length;
    while (remaining > 0) {
        const int chunk = std::min(remaining, kLargestPipeWrite);
        int written = 0;
        if (m_writePipe->BulkWrite(data, chunk, kPipeWriteTimeoutMs, written) !=
            UsbIoResult::Done) {
            return 0;
        }
        // A pipe that takes nothing would be asked again for ever.
        if (written <= 0) return 0;
        written = std::min(written, chunk);
        remaining -= written;
        data += written;
    }
    return length;
}

int CUSBDevice::Read(uint8_t* buffer, int capacity, int paced) {
    if (!m_readPipe) {
        ReportInvalidHandle();
        return 0;
    }
    if (buffer == nullptr || capacity <= 0) return 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        // Printers of the slower families need time before they answer.
        if (paced) m_parts.host.Pause(kPacedReadPauseMs);
        int received = 0;
        const UsbIoResult result =
            m_readPipe->BulkRead(buffer, capacity, kReadAttemptTimeoutMs, received);
        if (result == UsbIoResult::Failed) return 0;
        if (received > 0) return std::min(received, capacity);
    }
    return 0;
}
