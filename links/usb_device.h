#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

#include "links/character_interface.h"
#include "links/print_queues.h"
#include "links/usb_backend.h"
#include "links/usb_selection.h"
#include "seams/host_services.h"

// Platform identifiers as the link's warning logic distinguishes them: below
// kPlatformWin32Nt any USB device could be the printer, so the operator is
// asked to unplug the others.
inline constexpr uint32_t kPlatformWin32Nt = 2;
// Linux tells the maker's printers apart by vendor ID like the NT family.
uint32_t LinuxPlatformId();

// How long the link waits on the pipes. The defaults are the program's;
// tests shorten them.
struct UsbLinkTimes {
    // How long one read attempt waits for the printer to start answering:
    // short, so a silent printer gives up after its 100 attempts in about
    // two seconds (twelve when paced).
    int readAttemptMs = 20;
    // The longest one bulk OUT transfer waits; the link never waits longer
    // than a slice (kIdleSliceMs) at a stretch. One that times out having
    // moved part of a chunk carries on with the rest.
    int pipeWriteMs = 5000;
    // A write gives up only after this long without progress: a printer
    // erasing its flash or with a full buffer takes nothing for seconds.
    int writeStallMs = 30000;
};

// What a USB link is built from. The composition root owns the selection
// runner and the host services; both outlive every link.
struct UsbLinkParts {
    std::shared_ptr<IUsbBackend> backend;
    std::shared_ptr<IPrintQueueSource> queues;
    IUsbSelectionRunner& selection;
    IHostServices& host;
    tessaly::ProgramState& state;
    std::function<uint32_t()> platformId = LinuxPlatformId;
    // Where the link's one diagnostic line goes.
    std::ostream* diagnostics = nullptr;  // nullptr: standard output
    UsbLinkTimes times = {};
};

// A printer attached by USB. Every Open checks that one of the maker's
// printers is present, lets the operator choose in the USB PRINTER SELECTION
// dialog, and opens the chosen printer's write and read pipes.
class CUSBDevice : public CCharacterInterface {
public:
    static constexpr int kLargestPipeWrite = 50000;
    static constexpr int kReadAttempts = 100;
    static constexpr int kPacedReadPauseMs = 100;

    static constexpr const char* kOnlyDeviceText =
        "Please ensure the printer is the only USB device connected";
    static constexpr const char* kNoPrintersText = "No printers connected to USB";
    static constexpr const char* kInvalidHandleText = "Error: File handle invalid!\n";

    explicit CUSBDevice(UsbLinkParts parts);
    ~CUSBDevice() override;

    int Open() override;
    void Close() override;
    int Read(uint8_t* buffer, int capacity, int paced) override;
    int Write(const uint8_t* data, int length) override;
    bool HasFailed() const override { return m_failed; }

    // The presence check: the first present device that qualifies and can be
    // opened (any vendor below the NT family, else only the maker's). Tells
    // the operator when there is none; no message when the devices cannot be
    // listed at all.
    bool FindFirstUsbPrinter(uint32_t platformId, std::string& devicePath);

    bool HasWritePipe() const { return m_writePipe != nullptr; }
    bool HasReadPipe() const { return m_readPipe != nullptr; }

private:
    void ReportInvalidHandle();
    // What the read pipe already holds, without waiting
    // (stale_reply::ReadNow).
    int ReadNow(uint8_t* buffer, int capacity);

    UsbLinkParts m_parts;
    std::unique_ptr<IUsbPipe> m_writePipe;
    std::unique_ptr<IUsbPipe> m_readPipe;
    // A read happened since the last write: a reply that came late, or the
    // rest of one, may be waiting, and it is not the answer to the next
    // request.
    bool m_replyMayTrail = false;
    // A transfer failed outright (the device is gone or refused), a write
    // moved nothing for a whole stall, or a cancel cut a frame: every later
    // request fails at once until Open starts afresh.
    bool m_failed = false;
};
