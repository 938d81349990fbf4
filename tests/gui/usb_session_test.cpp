// USB end to end: "USB" on the Comms page, the selection dialog with the
// simulated printers, OK, and the feature pages talking to the chosen one.

#include <gtest/gtest.h>

#include <QListWidget>
#include <QPushButton>

#include "app/usb_selection_dialog.h"
#include "links/program_state.h"
#include "links/usb_device.h"
#include "links/usb_discovery.h"
#include "sheet_rig.h"
#include "sim/sim_usb_backend.h"

namespace {

class UsbSession : public ::testing::Test {
protected:
    void SetUp() override {
        veritone = AddPrinter(0x8801, "V100", "A4.01");
        warden = AddPrinter(0x9001, "W200", "E3.05");
        warden->SetValue("MSR", "W200SERIAL");
        rig.msg.SetLinkFactory(
            [this](int kind, const std::string&) -> std::unique_ptr<CCharacterInterface> {
                if (kind != kLinkUsb) return nullptr;
                return std::make_unique<CUSBDevice>(
                    UsbLinkParts{usb, usb, selection, rig.host, rig.state});
            });
    }

    std::shared_ptr<CSimPrinter> AddPrinter(uint16_t pid, const std::string& serial,
                                            const std::string& version) {
        SimUsbDevice device;
        device.productId = pid;
        device.serial = serial;
        device.printer = std::make_shared<CSimPrinter>();
        device.printer->SetValue("VRS", version);
        usb->AddDevice(device);
        return device.printer;
    }

    SheetRig rig;
    std::shared_ptr<CSimUsbBackend> usb = std::make_shared<CSimUsbBackend>();
    CQtUsbSelectionRunner selection{[this]() -> QWidget* { return rig.sheet.get(); }};
    std::shared_ptr<CSimPrinter> veritone;
    std::shared_ptr<CSimPrinter> warden;
};

TEST_F(UsbSession, ChosenPrinterAnswersTheFeaturePages) {
    // The selection dialog answered with OK on the second printer.
    gui::ModalWatch watch([](QWidget* modal) {
        auto* dialog = qobject_cast<CUSB_Selection*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "not the selection dialog";
            modal->close();
            return;
        }
        dialog->List()->setCurrentRow(1);
        gui::Click(dialog->OkButton());
    });
    ASSERT_TRUE(rig.Choose("USB"));

    EXPECT_TRUE(watch.Ran());
    EXPECT_TRUE(rig.host.boxes.empty());
    EXPECT_EQ(rig.state.selectedUsbDevicePath, usb->PathOf(1));
    EXPECT_EQ(rig.state.oemModelName, "WARDEN");

    // The chosen printer was asked for its version first; the other one
    // heard nothing.
    const std::vector<SimFrame> frames = warden->Frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.front().mnemonic, "VRS");
    EXPECT_TRUE(veritone->Frames().empty());
    EXPECT_EQ(rig.msg.GetPrinterFamily(), family::kE);
    EXPECT_EQ(rig.msg.RequestStatus(cmd::MSR), "W200SERIAL");
}

}  // namespace
