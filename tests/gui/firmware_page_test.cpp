#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

#include "gui_helpers.h"
#include "pages/firmware_path_store.h"
#include "pages/firmware_pp.h"
#include "sim_page_rig.h"
#include "support/firmware_texts.h"

using ::testing::ElementsAre;

namespace {

using Id = CFirmwarePP::Id;

using namespace firmware_texts;

// The stored path, or no value.
std::optional<QString> StoredPath() {
    QSettings store(CFirmwarePathStore::kScope, CFirmwarePathStore::kOrganisation,
                    CFirmwarePathStore::kApplication);
    const QVariant value = store.value(CFirmwarePathStore::kValueName);
    if (!value.isValid()) return std::nullopt;
    return value.toString();
}

void SetStoredPath(const QVariant& value) {
    QSettings store(CFirmwarePathStore::kScope, CFirmwarePathStore::kOrganisation,
                    CFirmwarePathStore::kApplication);
    store.clear();
    if (value.isValid()) store.setValue(CFirmwarePathStore::kValueName, value);
}

// The Upgrade Firmware page on an in-process simulated printer reached by
// "USB", with the firmware files in a temporary folder and the path store
// emptied.
class FirmwarePage : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        SetStoredPath({});
    }

    // Connects to a printer with firmware `version` (none: it does not tell)
    // and opens the page.
    void Open(std::optional<std::string> version = "E3.05") {
        printer->UpdateState([&](SimPrinterState& state) {
            if (version) {
                state.values["VRS"] = *version;
            } else {
                state.values.erase("VRS");
            }
        });
        ASSERT_EQ(rig.msg.SelectPort("USB"), 1);
        page = std::make_unique<CFirmwarePP>(rig.context);
        page->show();
        page->Activate();
        printer->ClearFrames();
    }

    std::string WriteFile(const QString& name, const std::string& bytes) {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return QFile::encodeName(path).toStdString();
    }

    template <typename T>
    T* Control(const char* id) const {
        T* control = gui::Control<T>(*page, id);
        EXPECT_NE(control, nullptr) << id;
        return control;
    }

    // Chooses `path` in the printer or laminator file dialog, by its Select
    // File button.
    void Choose(const char* selectId, const std::string& path) {
        rig.host.openFileAnswers.push_back(path);
        Control<QPushButton>(selectId)->click();
    }

    QTemporaryDir dir;
    SimPageRig rig{SimPageRig::kLater};
    CSimPrinter* printer = rig.printer.get();
    std::unique_ptr<CFirmwarePP> page;
};

}  // namespace

TEST_F(FirmwarePage, ControlsCarryTheirIdsTextsAndPlaces) {
    ASSERT_NO_FATAL_FAILURE(Open("H1.20"));

    QGroupBox* printerGroup = nullptr;
    QLabel* printerLabel = nullptr;
    for (QGroupBox* box : page->findChildren<QGroupBox*>()) {
        if (box->objectName().isEmpty()) printerGroup = box;
    }
    for (QLabel* label : page->findChildren<QLabel*>()) {
        if (label->objectName().isEmpty()) printerLabel = label;
    }
    ASSERT_TRUE(printerGroup && printerLabel);
    const struct {
        QGroupBox* group;
        QString title;
        QLabel* label;
        const char *path, *select, *upgrade;
    } groups[] = {
        {printerGroup, "Printer firmware", printerLabel, Id::kPrinterFile, Id::kPrinterSelect,
         Id::kPrinterUpgrade},
        {Control<QGroupBox>(Id::kLaminatorGroup), "Laminator firmware",
         Control<QLabel>(Id::kLaminatorLabel), Id::kLaminatorFile, Id::kLaminatorSelect,
         Id::kLaminatorUpgrade},
    };
    // The printer group above the laminator group; in each, the label left of
    // the path, the buttons below it, Select File before Upgrade.
    EXPECT_LT(groups[0].group->geometry().bottom(), groups[1].group->geometry().top());
    for (const auto& g : groups) {
        SCOPED_TRACE(g.title.toStdString());
        auto* path = Control<QLineEdit>(g.path);
        auto* select = Control<QPushButton>(g.select);
        auto* upgrade = Control<QPushButton>(g.upgrade);
        ASSERT_TRUE(g.group && g.label && path && select && upgrade);
        EXPECT_EQ(g.group->title(), g.title);
        EXPECT_EQ(g.label->text(), "Firmware File:");
        EXPECT_EQ(select->text(), "Select File");
        EXPECT_EQ(upgrade->text(), "Upgrade");
        EXPECT_TRUE(path->isReadOnly());
        EXPECT_EQ(g.label->buddy(), path);
        EXPECT_FALSE(path->accessibleName().isEmpty());
        for (QWidget* control : {static_cast<QWidget*>(g.label), static_cast<QWidget*>(path),
                                 static_cast<QWidget*>(select), static_cast<QWidget*>(upgrade)}) {
            EXPECT_TRUE(g.group->geometry().contains(control->geometry()));
        }
        EXPECT_LT(g.label->geometry().right(), path->geometry().left());
        EXPECT_GT(select->geometry().top(), path->geometry().bottom());
        EXPECT_LT(select->geometry().right(), upgrade->geometry().left());
    }
}

// Only an "H" printer may carry a laminator.
TEST_F(FirmwarePage, LaminatorGroupWorksOnlyInTheHFamily) {
    for (const char* version : {"H1.20", "E3.05", "V1.10"}) {
        SCOPED_TRACE(version);
        ASSERT_NO_FATAL_FAILURE(Open(version));
        const bool h = version[0] == 'H';
        for (const char* id : {Id::kLaminatorGroup, Id::kLaminatorLabel, Id::kLaminatorFile,
                               Id::kLaminatorSelect, Id::kLaminatorUpgrade}) {
            QWidget* control = page->findChild<QWidget*>(id);
            ASSERT_NE(control, nullptr) << id;
            EXPECT_EQ(control->isEnabled(), h) << id;
        }
        EXPECT_EQ(Control<QLineEdit>(Id::kLaminatorFile)->text(), h ? "" : "Not applicable");
    }
}

// The file dialogs filter by the extension the task chose for the version.
TEST_F(FirmwarePage, FileDialogsFilterByTheExtension) {
    ASSERT_NO_FATAL_FAILURE(Open("H1.20"));
    Control<QPushButton>(Id::kPrinterSelect)->click();
    Control<QPushButton>(Id::kLaminatorSelect)->click();
    EXPECT_THAT(rig.host.openFileFilters,
                ElementsAre("Velmora Firmware Files (*.cfh)", "Laminator Firmware Files (*.hex)"));
}

TEST_F(FirmwarePage, FirstRunWritesTheDefaultAndTheNextRunOffersIt) {
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(Control<QLineEdit>(Id::kPrinterFile)->text(), "");
    EXPECT_EQ(page->PrinterPath(), "");
    EXPECT_EQ(StoredPath(), QDir::home().filePath("coldfire.cfa"));

    CFirmwarePP next(rig.context);
    next.Activate();
    EXPECT_EQ(next.findChild<QLineEdit*>(Id::kPrinterFile)->text(),
              QDir::home().filePath("coldfire.cfa"));

    // A value that is not a text counts as absent.
    SetStoredPath(QStringList{"a", "b"});
    CFirmwarePP listed(rig.context);
    listed.Activate();
    EXPECT_EQ(listed.PrinterPath(), "");
    EXPECT_EQ(StoredPath(), QDir::home().filePath("coldfire.cfa"));
}

TEST_F(FirmwarePage, SelectFileCancelKeepsThePathAndConfirmReplacesIt) {
    SetStoredPath(QStringLiteral("/old/fw.cfe"));
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(Control<QLineEdit>(Id::kPrinterFile)->text(), "/old/fw.cfe");

    Control<QPushButton>(Id::kPrinterSelect)->click();  // cancelled
    EXPECT_EQ(page->PrinterPath(), "/old/fw.cfe");

    Choose(Id::kPrinterSelect, "/new/Fw.CFE");
    EXPECT_EQ(page->PrinterPath(), "/new/Fw.CFE");
    EXPECT_EQ(Control<QLineEdit>(Id::kPrinterFile)->text(), "/new/Fw.CFE");
    // Choosing is not upgrading: the store keeps the old path.
    EXPECT_EQ(StoredPath(), "/old/fw.cfe");
}

// Upper case on disk and in the store (this file system is case-sensitive, so
// a lowered path would name no file); the program ends after the upgrade.
TEST_F(FirmwarePage, MatchingChecksumUpgradesStoresThePathAndCloses) {
    ASSERT_NO_FATAL_FAILURE(Open("E3.05"));
    const std::string path = WriteFile("Firmware/NEW.CFE", Image(2500));
    Choose(Id::kPrinterSelect, path);
    Control<QPushButton>(Id::kPrinterUpgrade)->click();

    EXPECT_EQ(rig.Mnemonics(), (std::vector<std::string>{"FRM", "UPG"}));
    EXPECT_EQ(StoredPath(), QFile::decodeName(QByteArray::fromStdString(path)));
    EXPECT_TRUE(QFile::exists(StoredPath().value_or(QString())));
    EXPECT_THAT(rig.host.BoxTexts(), ElementsAre(kConfirm, kSuccess));
    EXPECT_THAT(rig.sheet.endResults, ElementsAre(1));
}

// A transfer that began ends the program even when it failed; the store
// keeps the path of the last upgrade that went through.
TEST_F(FirmwarePage, FailedTransferLeavesTheStoreAndCloses) {
    SetStoredPath(QStringLiteral("/kept/fw.cfe"));
    printer->UpdateState(
        [](SimPrinterState& state) { state.checksumReply = SimChecksumReply::Wrong; });
    ASSERT_NO_FATAL_FAILURE(Open("E3.05"));
    Choose(Id::kPrinterSelect, WriteFile("fw.cfe", Image(700)));
    Control<QPushButton>(Id::kPrinterUpgrade)->click();

    EXPECT_EQ(rig.Mnemonics(), std::vector<std::string>{"FRM"});
    EXPECT_EQ(StoredPath(), "/kept/fw.cfe");
    EXPECT_THAT(rig.host.BoxTexts(), ElementsAre(kConfirm, kSendError));
    EXPECT_THAT(rig.sheet.endResults, ElementsAre(1));
}

// A refusal before anything went out keeps the program running.
TEST_F(FirmwarePage, RefusalsKeepTheProgramRunning) {
    ASSERT_NO_FATAL_FAILURE(Open("H1.20"));
    Choose(Id::kPrinterSelect, WriteFile("fw.bin", Image(10)));
    Control<QPushButton>(Id::kPrinterUpgrade)->click();
    Choose(Id::kLaminatorSelect, WriteFile("lam.bin", ":00000001FF"));
    Control<QPushButton>(Id::kLaminatorUpgrade)->click();

    EXPECT_THAT(rig.host.BoxTexts(), ElementsAre(kConfirm, kBadExtension, kLaminatorBadExtension));
    EXPECT_TRUE(printer->Frames().empty());
    EXPECT_TRUE(rig.sheet.endResults.empty());
}

TEST_F(FirmwarePage, LaminatorUpgradeSendsTheChosenFileAndCloses) {
    ASSERT_NO_FATAL_FAILURE(Open("H1.20"));
    const std::string hex = ":10010000214601360121470136007EFE09D2190140\r\n:00000001FF\r\n";
    Choose(Id::kLaminatorSelect, WriteFile("Lam/BOARD.HEX", hex));
    EXPECT_EQ(Control<QLineEdit>(Id::kLaminatorFile)->text().toStdString(), page->LaminatorPath());
    Control<QPushButton>(Id::kLaminatorUpgrade)->click();

    const auto frames = printer->Frames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].data, hex);
    EXPECT_THAT(rig.host.BoxTexts(), ElementsAre(kLaminatorConfirm, kLaminatorStarted));
    EXPECT_THAT(rig.sheet.endResults, ElementsAre(1));
}
