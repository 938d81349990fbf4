#include "sim/sim_usb_backend.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <thread>

namespace {
using Clock = CSimPrinter::Clock;
}  // namespace

#include "links/usb_device_id.h"

class CSimUsbBackend::Pipe : public IUsbPipe {
public:
    Pipe(CSimUsbBackend& backend, std::shared_ptr<Slot> slot, UsbPipeKind kind)
        : m_backend(backend), m_slot(std::move(slot)), m_kind(kind) {
        ++m_slot->openPipes;
        ++*m_backend.m_openPipes;
    }
    ~Pipe() override {
        --m_slot->openPipes;
        --*m_backend.m_openPipes;
    }

    UsbIoResult BulkWrite(const uint8_t* data, int length, int timeoutMs,
                          int& transferred) override {
        transferred = 0;
        m_backend.writeLengths.push_back(length);
        const SimUsbDevice& device = m_slot->device;
        if (m_kind != UsbPipeKind::Write || data == nullptr || length <= 0) {
            return UsbIoResult::Failed;
        }
        if (device.printer->IsAbsent()) return UsbIoResult::Failed;
        const int offered =
            device.bytesPerWrite < 0 ? length : std::min(length, device.bytesPerWrite);
        // A busy printer takes nothing: the transfer waits for it until its
        // time-out, then ends having moved only part.
        transferred = static_cast<int>(device.printer->ReceiveWaiting(
            data, static_cast<size_t>(offered), std::chrono::milliseconds(timeoutMs)));
        m_backend.wire.append(reinterpret_cast<const char*>(data),
                              static_cast<size_t>(transferred));
        if (transferred < offered) return UsbIoResult::TimedOut;
        return UsbIoResult::Done;
    }

    UsbIoResult BulkRead(uint8_t* buffer, int capacity, int timeoutMs, int& transferred) override {
        transferred = 0;
        m_backend.readTimeouts.push_back(timeoutMs);
        const SimUsbDevice& device = m_slot->device;
        if (m_kind != UsbPipeKind::Read || buffer == nullptr || capacity <= 0) {
            return UsbIoResult::Failed;
        }
        if (device.printer->IsAbsent()) return UsbIoResult::Failed;
        if (device.neverAnswers) return UsbIoResult::TimedOut;
        // A reply on its way is waited for within the time-out; with none
        // queued the read times out at once, which keeps tests of a silent
        // printer fast.
        if (std::optional<Clock::time_point> due = device.printer->NextReplyDue();
            due && device.printer->PendingReplyBytes() == 0) {
            std::this_thread::sleep_until(
                std::min(*due, Clock::now() + std::chrono::milliseconds(timeoutMs)));
        }
        transferred = static_cast<int>(
            device.printer->TakeReply(buffer, static_cast<size_t>(capacity), true));
        if (transferred > 0 && device.readFailsWithData) return UsbIoResult::Failed;
        return transferred > 0 ? UsbIoResult::Done : UsbIoResult::TimedOut;
    }

private:
    CSimUsbBackend& m_backend;
    std::shared_ptr<Slot> m_slot;
    UsbPipeKind m_kind;
};

std::string CSimUsbBackend::AddDevice(SimUsbDevice device) {
    auto slot = std::make_shared<Slot>();
    slot->path = MakeUsbDevicePath(device.vendorId, device.productId,
                                   MakeUsbInstance(device.serial, device.bus, device.ports));
    slot->device = std::move(device);
    m_devices.push_back(slot);
    return slot->path;
}

SimUsbDevice& CSimUsbBackend::Device(size_t index) { return m_devices.at(index)->device; }

const std::string& CSimUsbBackend::PathOf(size_t index) const { return m_devices.at(index)->path; }

CSimUsbBackend::Slot* CSimUsbBackend::Find(const std::string& devicePath) {
    for (auto& slot : m_devices) {
        if (slot->path == devicePath) return slot.get();
    }
    return nullptr;
}

bool CSimUsbBackend::Enumerate(std::vector<UsbDeviceInfo>& devices) {
    ++enumerations;
    if (enumerationFails) return false;
    for (const auto& slot : m_devices) {
        devices.push_back({slot->path, slot->device.vendorId, slot->device.productId,
                           slot->device.serial, slot->device.deviceId});
    }
    return true;
}

bool CSimUsbBackend::CanOpen(const std::string& devicePath) {
    canOpens.push_back(devicePath);
    const Slot* slot = Find(devicePath);
    return slot != nullptr && !slot->device.unopenable;
}

bool CSimUsbBackend::ProbeExclusive(const std::string& devicePath) {
    probes.push_back(devicePath);
    const Slot* slot = Find(devicePath);
    return slot != nullptr && !slot->device.unopenable && !slot->device.busy &&
           slot->device.printer != nullptr && slot->openPipes == 0;
}

std::unique_ptr<IUsbPipe> CSimUsbBackend::OpenPipe(const std::string& devicePath,
                                                   UsbPipeKind kind) {
    pipeOpens.push_back(devicePath + (kind == UsbPipeKind::Write ? " W" : " R"));
    std::shared_ptr<Slot> slot;
    for (auto& candidate : m_devices) {
        if (candidate->path == devicePath) slot = candidate;
    }
    if (!slot) return nullptr;
    const SimUsbDevice& device = slot->device;
    if (device.unopenable || device.busy || !device.printer || device.printer->IsAbsent()) {
        return nullptr;
    }
    if (kind == UsbPipeKind::Write ? device.writePipeFails : device.readPipeFails) return nullptr;
    // A fresh claim of the device starts a fresh conversation with the printer.
    if (slot->openPipes == 0) device.printer->StartConnection();
    return std::make_unique<Pipe>(*this, slot, kind);
}

std::vector<PrintQueue> CSimUsbBackend::ListQueues() {
    ++queueListings;
    std::vector<PrintQueue> queues = extraQueues;
    for (const auto& slot : m_devices) {
        const SimUsbDevice& device = slot->device;
        if (device.queueName.empty()) continue;
        const std::string serial = PrintQueueSerial(
            {slot->path, device.vendorId, device.productId, device.serial, device.deviceId});
        queues.push_back({device.queueName, "usb://Velmora/Card%20Printer?serial=" + serial});
    }
    return queues;
}
