#include "links/usb_selection.h"

#include <algorithm>
#include <array>

#include "links/program_state.h"
#include "seams/text_scan.h"

namespace {

constexpr const char* kNameSeparator = "   ";
constexpr const char* kInstanceSeparator = "    ";
constexpr const char* kPidLabel = "PID : ";

constexpr std::array<UsbModelRow, 24> kModelTable{{
    {1000, nullptr, "Velmora Kestrel 1 / Marlin 1 (not installed)   ", true},
    {1800, nullptr, "Velmora Kestrel 2e / Marlin 2e (not installed)   ", true},
    {2000, nullptr, "Velmora Quill / Sable / Wren (old)(not installed)   ", true},
    {2800, nullptr, "Velmora Quill / Sable / Wren (new) (not installed)   ", true},
    {3000, nullptr, "Velmora Halden (old) (not installed)   ", true},
    {3800, nullptr, "Velmora Halden / Halden Duo (not installed)   ", true},
    {4800, "Brisk", "Velmora Brisk (not installed)   ", false},
    {5800, "TR200", "Velmora TR200 (not installed)   ", false},
    {6800, "Dapple", "Velmora Dapple (not installed)   ", false},
    {7800, "TR100", "Velmora TR100 Pro (not installed)   ", false},
    {8800, "PASSWRIGHT", "PASSWRIGHT (not installed)   ", false},
    {8801, "VERITONE", "VERITONE (not installed)   ", false},
    {8802, "KL DAPPLE", "KL DAPPLE (not installed)   ", false},
    {8803, "VERITONE DAPPLE", "VERITONE DAPPLE (not installed)   ", false},
    {8804, "N4700K", "N4700K (not installed)   ", false},
    {8805, "N2700K", "N2700K (not installed)   ", false},
    {8806, "KL 6100", "KL 6100 (not installed)   ", false},
    {8807, "KL 6000", "KL 6000 (not installed)   ", false},
    {8808, "CORVEX", "CORVEX (not installed)   ", false},
    {8809, "STRATUM", "STRATUM (not installed)   ", false},
    {9000, "KESTREL PRO", "Velmora KESTREL PRO (not installed)   ", false},
    {9001, "WARDEN", "WARDEN (not installed)   ", false},
    {9002, "KL 7100", "KL 7100 (not installed)   ", false},
    {9003, "Veritone Pro", "Veritone Pro (not installed)   ", false},
}};

// The product digits are hex in the path but every ID in the table is made
// of decimal digits, so they are read as a decimal number: "880a" is 880.
int LeadingDecimal(const std::string& text) {
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        if (value > 99999999) break;  // four digits are expected; never overflow
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::span<const UsbModelRow> UsbModelTable() { return kModelTable; }

const UsbModelRow* FindUsbModelRow(int productId) {
    for (const UsbModelRow& row : kModelTable) {
        if (row.productId == productId) return &row;
    }
    return nullptr;
}

std::string BuildUsbPrinterLabel(const tessaly::UsbPrinterEntry& entry,
                                 tessaly::ProgramState& state) {
    const UsbModelRow* row = FindUsbModelRow(LeadingDecimal(entry.pidText));
    if (row == nullptr) return {};
    if (row->modelName != nullptr) state.oemModelName = row->modelName;
    std::string line =
        entry.printerName.empty() ? row->notInstalledText : entry.printerName + kNameSeparator;
    if (row->showsInstance) line += entry.instanceSegment + kInstanceSeparator;
    return line + kPidLabel + entry.pidText;
}

UsbSelectionLines PrepareUsbSelection(CUsbDiscovery& discovery, IHostServices& host) {
    using namespace tessaly;
    ProgramState& state = discovery.State();
    UsbSelectionLines result;
    result.discovered = discovery.DiscoverUsbPrinters("") != 0;
    if (!result.discovered) host.Message(kEnumerationFailedText, MsgButtons::Ok);
    // The dialog still lists what the table holds, which keeps the model
    // name as a full initialisation leaves it.
    const int last = std::clamp(state.usbPrinterLastIndex, 0, kUsbPrinterTableSize - 1);
    for (int i = 0; i <= last; ++i) {
        result.lines.push_back(BuildUsbPrinterLabel(state.usbPrinterTable[i], state));
    }
    return result;
}

void ConfirmUsbSelection(tessaly::ProgramState& state, int index) {
    if (index < 0 || index > state.usbPrinterLastIndex || index >= tessaly::kUsbPrinterTableSize) {
        return;
    }
    state.selectedUsbDevicePath = state.usbPrinterTable[static_cast<size_t>(index)].devicePath;
}

void CSerialUsbSelection::RunSelection(CUsbDiscovery& discovery, IHostServices& host) {
    // A path that names no device keeps the link closed.
    static constexpr const char* kNoDevicePath = "(no printer chosen)";
    const UsbSelectionLines lines = PrepareUsbSelection(discovery, host);
    tessaly::ProgramState& state = discovery.State();
    std::vector<int> candidates;
    std::string listed;
    for (int i = 0; i < static_cast<int>(lines.lines.size()); ++i) {
        const tessaly::UsbPrinterEntry& entry = state.usbPrinterTable[static_cast<size_t>(i)];
        if (entry.devicePath.empty()) continue;
        if (m_serial.empty() || textscan::EqualNoCase(entry.instanceSegment, m_serial)) {
            candidates.push_back(i);
        }
        listed += "\n  " + entry.instanceSegment + "  " + lines.lines[static_cast<size_t>(i)];
    }
    if (candidates.size() == 1) {
        ConfirmUsbSelection(state, candidates.front());
        return;
    }
    state.selectedUsbDevicePath = kNoDevicePath;
    if (!m_serial.empty() && candidates.empty()) {
        host.Message("No USB printer with the serial " + m_serial + ":" + listed, MsgButtons::Ok);
    } else if (candidates.size() > 1) {
        host.Message("Several USB printers: name one with --usb SERIAL:" + listed, MsgButtons::Ok);
    }
}
