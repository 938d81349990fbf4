#pragma once

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "links/usb_discovery.h"
#include "seams/host_services.h"

// What the USB PRINTER SELECTION dialog does, apart from its widgets: the
// dialog shows the lines and reports the operator's OK.

// One row of the model table, by USB product ID.
struct UsbModelRow {
    int productId;                 // decimal digits of the hex product ID, read as decimal
    const char* modelName;         // nullptr: none
    const char* notInstalledText;  // the line's start when no print queue is on the device
    bool showsInstance;            // whether the line names the device's instance segment
};

std::span<const UsbModelRow> UsbModelTable();
// nullptr when the product ID has no row.
const UsbModelRow* FindUsbModelRow(int productId);

// The line for one discovered printer; empty when its product ID has no row.
// Records the row's model name, when it has one, in the state.
std::string BuildUsbPrinterLabel(const tessaly::UsbPrinterEntry& entry,
                                 tessaly::ProgramState& state);

inline constexpr const char* kEnumerationFailedText =
    "Enumeration Failed, Connecting to First Available Device";

struct UsbSelectionLines {
    // False: discovery failed, the operator was told, and the dialog ends at
    // once without a choice.
    bool discovered = false;
    // Line i belongs to table entry i.
    std::vector<std::string> lines;
};

// The dialog's initialisation: discovery, the failure message, one line per
// table entry up to the last one filled.
UsbSelectionLines PrepareUsbSelection(CUsbDiscovery& discovery, IHostServices& host);

// OK on line `index`: its device path becomes the selection. An index that
// names no listed line (nothing selected) leaves the selection as it was.
void ConfirmUsbSelection(tessaly::ProgramState& state, int index);

// Runs the selection dialog modally. The Qt dialog implements it in the
// front end; tests answer for the operator.
class IUsbSelectionRunner {
public:
    virtual ~IUsbSelectionRunner() = default;
    virtual void RunSelection(CUsbDiscovery& discovery, IHostServices& host) = 0;
};

// The selection without an operator, for scripts: the printer with the
// serial asked for, or the only one when none is asked for. Otherwise no
// printer: the host is told which there are, and the link stays closed
// rather than fall back to the first printer it finds, as the window does
// after a cancelled dialog; a script that named a printer, or could not,
// must not reach another.
class CSerialUsbSelection : public IUsbSelectionRunner {
public:
    explicit CSerialUsbSelection(std::string serial) : m_serial(std::move(serial)) {}
    void RunSelection(CUsbDiscovery& discovery, IHostServices& host) override;

private:
    std::string m_serial;
};
