#include "links/usb_device.h"

#include <algorithm>
#include <chrono>
#include <iostream>

#include "links/stale_reply.h"
#include "links/usb_discovery.h"

uint32_t LinuxPlatformId() { return kPlatformWin32Nt; }

CUSBDevice::CUSBDevice(UsbLinkParts parts) : m_parts(std::move(parts)) {}

CUSBDevice::~CUSBDevice() { Close(); }

int CUSBDevice::Open() {
    const uint32_t platform = m_parts.platformId ? m_parts.platformId() : LinuxPlatformId();
    if (platform < kPlatformWin32Nt) m_parts.host.Message(kOnlyDeviceText, MsgButtons::Ok);

    // Our own claim would make the device look busy to the discovery below.
    Close();

    // A printer this user may not open is no missing printer: say what
    // would let the user in.
    const auto failed = [this] {
        if (m_parts.backend && m_parts.backend->DeniedAccess())
            m_parts.host.Message(kUsbNoAccessText, MsgButtons::Ok);
        return 0;
    };
    std::string devicePath;
    if (!m_parts.backend || !FindFirstUsbPrinter(platform, devicePath)) return failed();

    if (m_parts.queues) {
        CUsbDiscovery discovery(*m_parts.backend, *m_parts.queues, m_parts.state);
        m_parts.selection.RunSelection(discovery, m_parts.host);
    }
    if (!m_parts.state.selectedUsbDevicePath.empty())
        devicePath = m_parts.state.selectedUsbDevicePath;

    m_writePipe = m_parts.backend->OpenPipe(devicePath, UsbPipeKind::Write);
    m_readPipe = m_parts.backend->OpenPipe(devicePath, UsbPipeKind::Read);
    if (m_writePipe && m_readPipe) return 1;
    // Half a link is no link; holding the other pipe would keep the printer
    // from the printing service and make the next discovery fail on it.
    Close();
    return failed();
}

void CUSBDevice::Close() {
    m_readPipe.reset();
    m_writePipe.reset();
    m_replyMayTrail = false;
    m_failed = false;
}

bool CUSBDevice::FindFirstUsbPrinter(uint32_t platformId, std::string& devicePath) {
    std::vector<UsbDeviceInfo> devices;
    if (!m_parts.backend->Enumerate(devices)) return false;
    for (const UsbDeviceInfo& device : devices) {
        if (std::optional<int32_t> vendor = tessaly::ParseVendorId(device.devicePath)) {
            m_parts.state.usbLastVendorId = *vendor;
        }
        if (platformId >= kPlatformWin32Nt && m_parts.state.usbLastVendorId != kMakerUsbVendorId) {
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

int CUSBDevice::ReadNow(uint8_t* buffer, int capacity) {
    int received = 0;
    // The shortest time-out there is: only what has already arrived.
    const UsbIoResult result = m_readPipe->BulkRead(buffer, capacity, 1, received);
    if (result == UsbIoResult::Failed) return -1;
    return received;
}

int CUSBDevice::Write(const uint8_t* data, int length) {
    if (!m_writePipe) {
        ReportInvalidHandle();
        return 0;
    }
    if (data == nullptr || length <= 0) return 0;
    // A printer that took nothing for a whole stall, or a device that
    // failed, would make every later request wait out the stall again:
    // they fail at once until Open starts afresh.
    if (m_failed) return 0;
    // Only the first write after a read looks: the chunks of a transfer
    // follow each other without one.
    if (m_replyMayTrail && m_readPipe) {
        m_replyMayTrail = false;
        stale_reply::Drop(
            [this](uint8_t* buffer, int capacity) { return ReadNow(buffer, capacity); });
    }
    using Clock = std::chrono::steady_clock;
    const auto stall = std::chrono::milliseconds(m_parts.times.writeStallMs);
    Clock::time_point lastProgress = Clock::now();
    // Each transfer waits at most a slice; one that times out having moved
    // part of the chunk carries on with the rest below, the idle pacer
    // ticked between.
    const int sliceMs = std::max(1, std::min(m_parts.times.pipeWriteMs, kIdleSliceMs));
    int remaining = length;
    while (remaining > 0) {
        const int chunk = std::min(remaining, kLargestPipeWrite);
        int written = 0;
        const UsbIoResult result = m_writePipe->BulkWrite(data, chunk, sliceMs, written);
        const bool goOn = IdlePacer().Tick();
        if (result == UsbIoResult::Failed) {
            m_failed = true;
            return 0;
        }
        written = std::clamp(written, 0, chunk);
        // A pipe that says it is done yet took nothing would be asked again
        // for ever, without even waiting.
        if (result == UsbIoResult::Done && written == 0) return 0;
        // A transfer that timed out having moved part of the chunk carries
        // on with the rest; one that moves nothing for too long has failed.
        if (written > 0) {
            remaining -= written;
            data += written;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress >= stall) {
            m_failed = true;
            return 0;
        }
        if (remaining > 0 && !goOn) {
            // Cancelled by the operator. A frame cut in the middle would
            // run into the next one: only an untouched frame leaves the
            // link usable.
            if (remaining < length) m_failed = true;
            return 0;
        }
    }
    return length;
}

int CUSBDevice::Read(uint8_t* buffer, int capacity, int paced) {
    if (!m_readPipe) {
        ReportInvalidHandle();
        return 0;
    }
    if (buffer == nullptr || capacity <= 0 || m_failed) return 0;
    m_replyMayTrail = true;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        // Printers of the slower families need time before they answer.
        if (paced) m_parts.host.Pause(kPacedReadPauseMs);
        int received = 0;
        const UsbIoResult result = m_readPipe->BulkRead(
            buffer, capacity, std::min(m_parts.times.readAttemptMs, kIdleSliceMs), received);
        const bool goOn = IdlePacer().Tick();
        // Bytes that moved before a failure are the printer's reply all the
        // same; the failure still ends the link, so a reader waiting for
        // the rest stops at once.
        if (result == UsbIoResult::Failed) m_failed = true;
        if (received > 0) return std::min(received, capacity);
        if (m_failed || !goOn) return 0;
    }
    return 0;
}
