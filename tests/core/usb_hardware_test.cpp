// Against a real printer on USB: skipped unless TESSALY_USB_PRINTER names
// one, by its device path as the selection dialog lists it or "first" for
// the first of the maker's printers found.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "links/program_state.h"
#include "links/usb_device.h"
#include "links/usb_discovery.h"
#include "protocol/message_if.h"
#include "support/fake_host.h"

namespace {

class ChooseFromEnvironment : public IUsbSelectionRunner {
public:
    explicit ChooseFromEnvironment(std::string wanted) : m_wanted(std::move(wanted)) {}
    void RunSelection(CUsbDiscovery& discovery, IHostServices& host) override {
        const UsbSelectionLines shown = PrepareUsbSelection(discovery, host);
        for (size_t i = 0; i < shown.lines.size(); ++i) {
            const std::string& path = discovery.State().usbPrinterTable[i].devicePath;
            std::printf("USB printer %zu: %s  (%s)\n", i, shown.lines[i].c_str(), path.c_str());
            if (path == m_wanted) ConfirmUsbSelection(discovery.State(), static_cast<int>(i));
        }
    }

private:
    std::string m_wanted;
};

TEST(UsbHardware, ReadsThePrintersVersion) {
    const char* wanted = std::getenv("TESSALY_USB_PRINTER");
    if (wanted == nullptr || *wanted == '\0') {
        GTEST_SKIP() << "set TESSALY_USB_PRINTER to a device path or \"first\"";
    }
    tessaly::ProgramState state;
    FakeHost host;
    ChooseFromEnvironment selection(wanted);
    CMessageIF protocol(host);
    protocol.SetLinkFactory(DefaultLinkFactory(state, host, selection));
    // Every box answers Cancel, so a printer that cannot be opened ends the
    // connect loop instead of retrying for ever.
    host.boxAnswers.assign(8, MsgResult::Cancel);

    ASSERT_EQ(protocol.SelectPort("USB"), 1) << (host.boxes.empty() ? "" : host.boxes[0].text);
    const std::optional<std::string> version = protocol.RequestStatus(cmd::VRS);
    ASSERT_TRUE(version.has_value());
    EXPECT_FALSE(version->empty());
    std::printf("VRS %s\n", version->c_str());
}

}  // namespace
