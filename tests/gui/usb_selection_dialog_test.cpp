// The USB PRINTER SELECTION dialog on the offscreen platform, over the
// simulated USB backend.

#include "app/usb_selection_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "links/program_state.h"
#include "links/usb_discovery.h"
#include "sim/sim_usb_backend.h"
#include "support/fake_host.h"

namespace {

class UsbSelectionDialog : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto [pid, serial] :
             {std::pair<uint16_t, const char*>{0x8801, "A1"}, {0x1000, "K77"}}) {
            SimUsbDevice device;
            device.productId = pid;
            device.serial = serial;
            device.printer = std::make_shared<CSimPrinter>();
            usb.AddDevice(device);
        }
    }
    // Runs the dialog; `operate` acts for the operator once it is up. A
    // dialog still open a second later is closed and fails the test.
    int RunWith(CUSB_Selection& dialog, std::function<void(CUSB_Selection&)> operate) {
        bool operated = false;
        QTimer::singleShot(0, &dialog, [&] {
            operated = true;
            operate(dialog);
        });
        QTimer::singleShot(1000, &dialog, [&] {
            if (dialog.isVisible()) {
                ADD_FAILURE() << "the dialog is still open";
                dialog.reject();
            }
        });
        const int result = dialog.Run();
        ranModal = operated;
        return result;
    }

    tessaly::ProgramState state;
    CSimUsbBackend usb;
    CUsbDiscovery discovery{usb, usb, state};
    FakeHost host;
    bool ranModal = false;
};

TEST_F(UsbSelectionDialog, KeepsTheTemplatesIdsTextsAndPlacement) {
    CUSB_Selection dialog(discovery, host);
    EXPECT_EQ(dialog.objectName(), "147");
    EXPECT_EQ(dialog.windowTitle(), "USB PRINTER SELECTION");
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(dialog.windowFlags().testFlag(Qt::WindowSystemMenuHint));

    auto* list = dialog.findChild<QListWidget*>("1151");
    auto* ok = dialog.findChild<QPushButton*>("1");
    ASSERT_TRUE(list && ok);
    EXPECT_EQ(ok->text(), "OK");
    EXPECT_TRUE(ok->isDefault());
    EXPECT_FALSE(list->accessibleName().isEmpty());
    EXPECT_FALSE(list->isSortingEnabled());
    // The list above, the button below it and centred under it.
    EXPECT_LT(list->geometry().bottom(), ok->geometry().top());
    EXPECT_NEAR(list->geometry().center().x(), ok->geometry().center().x(), list->width() / 20.0);
    EXPECT_GT(list->width(), 2 * ok->width());
    EXPECT_TRUE(dialog.rect().contains(list->geometry()));
    EXPECT_TRUE(dialog.rect().contains(ok->geometry()));
}

TEST_F(UsbSelectionDialog, OkTakesTheSelectedLinesDevice) {
    CUSB_Selection dialog(discovery, host);
    const int result = RunWith(dialog, [](CUSB_Selection& d) {
        ASSERT_EQ(d.List()->count(), 2);
        EXPECT_EQ(d.List()->currentRow(), 0);
        EXPECT_EQ(d.List()->item(0)->text(), "VERITONE (not installed)   PID : 8801");
        d.List()->setCurrentRow(1);
        d.OkButton()->click();
    });
    EXPECT_TRUE(ranModal);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_EQ(state.selectedUsbDevicePath, usb.PathOf(1));
}

TEST_F(UsbSelectionDialog, EscapeOrOkWithNothingSelectedLeavesTheLastSelection) {
    const std::function<void(CUSB_Selection&)> leaves[] = {
        [](CUSB_Selection& d) {
            d.List()->setCurrentRow(1);
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&d, &escape);
        },
        [](CUSB_Selection& d) {
            d.List()->clearSelection();
            d.OkButton()->click();
        },
    };
    for (const auto& leave : leaves) {
        state.selectedUsbDevicePath = "earlier";
        CUSB_Selection dialog(discovery, host);
        RunWith(dialog, leave);
        EXPECT_EQ(state.selectedUsbDevicePath, "earlier");
    }
}

TEST_F(UsbSelectionDialog, FailedDiscoveryClosesWithoutWaiting) {
    usb.Device(1).busy = true;
    CUSB_Selection dialog(discovery, host);
    const int result = RunWith(dialog, [](CUSB_Selection& d) { d.accept(); });
    EXPECT_FALSE(ranModal);
    EXPECT_EQ(result, QDialog::Rejected);
    EXPECT_EQ(host.boxes.size(), 1u);
    EXPECT_TRUE(state.selectedUsbDevicePath.empty());
}

}  // namespace
