#include "app/qt_host_services.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>

#include "gui_helpers.h"
#include "seams/print_canvas.h"
#include "seams/wait_cursor.h"

TEST(QtHostServices, MessageBoxesShowButtonsIconAndCaptionAndReturnThePress) {
    struct Case {
        MsgButtons buttons;
        MsgIcon icon;
        QMessageBox::StandardButtons shown;
        QMessageBox::Icon shownIcon;
        QMessageBox::StandardButton press;
        MsgResult result;
        std::string details = {};  // the box stays the same with them
    };
    const Case cases[] = {
        {MsgButtons::Ok, MsgIcon::Exclamation, QMessageBox::Ok, QMessageBox::Warning,
         QMessageBox::Ok, MsgResult::Ok},
        {MsgButtons::Ok, MsgIcon::Information, QMessageBox::Ok, QMessageBox::Information,
         QMessageBox::Ok, MsgResult::Ok},
        {MsgButtons::OkCancel, MsgIcon::Exclamation, QMessageBox::Ok | QMessageBox::Cancel,
         QMessageBox::Warning, QMessageBox::Cancel, MsgResult::Cancel},
        {MsgButtons::YesNo, MsgIcon::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Question, QMessageBox::Yes, MsgResult::Yes},
        {MsgButtons::YesNo, MsgIcon::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Question, QMessageBox::No, MsgResult::No},
        {MsgButtons::RetryCancel, MsgIcon::Exclamation, QMessageBox::Retry | QMessageBox::Cancel,
         QMessageBox::Warning, QMessageBox::Retry, MsgResult::Retry},
        {MsgButtons::RetryCancel, MsgIcon::Exclamation, QMessageBox::Retry | QMessageBox::Cancel,
         QMessageBox::Warning, QMessageBox::Cancel, MsgResult::Cancel},
        {MsgButtons::Ok, MsgIcon::None, QMessageBox::Ok, QMessageBox::NoIcon, QMessageBox::Ok,
         MsgResult::Ok},
        {MsgButtons::RetryCancel, MsgIcon::Exclamation, QMessageBox::Retry | QMessageBox::Cancel,
         QMessageBox::Warning, QMessageBox::Retry, MsgResult::Retry, "  FAIL  tcp-connect\n"},
    };
    QtHostServices host;
    const QString program = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    int row = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(row++);
        gui::ModalWatch watch([&c, &program](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            if (!box) {
                ADD_FAILURE() << "not a message box";
                modal->close();
                return;
            }
            // Latin-1 text, line break and trailing blank kept.
            EXPECT_EQ(box->text(), QString::fromUtf8("Caf\u00E9 \nnext"));
            EXPECT_EQ(box->windowTitle(), program);
            EXPECT_EQ(box->standardButtons(), c.shown);
            EXPECT_EQ(box->icon(), c.shownIcon);
            EXPECT_EQ(box->detailedText(), QString::fromStdString(c.details));
            if (QAbstractButton* button = box->button(c.press)) {
                gui::Click(button);
            } else {
                box->reject();
            }
        });
        const std::string text = "Caf\xE9 \nnext";
        const MsgResult result =
            c.details.empty() ? host.ShowMessageBox(text, c.buttons, c.icon)
                              : host.ShowMessageBoxWithDetails(text, c.details, c.buttons, c.icon);
        EXPECT_TRUE(watch.Ran());
        EXPECT_EQ(result, c.result);
    }
}

TEST(QtHostServices, WaitCursorNestsAndIsRemovedByItsLastGuard) {
    QtHostServices host;
    {
        WaitCursor outer(host);
        {
            WaitCursor inner(host);
            ASSERT_NE(QApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        }
        ASSERT_NE(QApplication::overrideCursor(), nullptr);
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtHostServices, ProgressWindowIsModalShowsTheTextAndOnlyEndProgressCloses) {
    QtHostServices host;
    host.ShowProgress("Sending firmware", 0, 4096);
    QPointer<QWidget> window = host.ProgressWindow();
    ASSERT_FALSE(window.isNull());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(window->isModal());
    EXPECT_EQ(window->windowTitle(), host.Caption());
    QLabel* label = window->findChild<QLabel*>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Sending firmware");
    EXPECT_TRUE(window->findChildren<QAbstractButton*>().isEmpty());

    host.ShowProgress("Sending firmware", 4096, 4096);  // same window again
    EXPECT_EQ(host.ProgressWindow(), window.data());

    gui::KeyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());

    host.EndProgress();
    EXPECT_EQ(host.ProgressWindow(), nullptr);
    gui::FlushDeferredDeletes();
    EXPECT_TRUE(window.isNull());
}

TEST(QtHostServices, PrintDialogOffersTheWholeReportOnlyAndPdfOutput) {
    QtHostServices host;
    QAbstractPrintDialog::PrintDialogOptions shown;
    QStringList printers;
    gui::ModalWatch watch([&](QWidget* modal) {
        auto* dialog = qobject_cast<QPrintDialog*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "not a print dialog";
            modal->close();
            return;
        }
        shown = dialog->options();
        if (auto* list = dialog->findChild<QComboBox*>(QStringLiteral("printers"))) {
            for (int i = 0; i < list->count(); ++i) printers << list->itemText(i);
        }
        dialog->reject();
    });
    EXPECT_EQ(host.RunPrintDialog(), nullptr);
    ASSERT_TRUE(watch.Ran());
    EXPECT_FALSE(shown.testFlag(QAbstractPrintDialog::PrintPageRange));
    EXPECT_FALSE(shown.testFlag(QAbstractPrintDialog::PrintSelection));
    EXPECT_FALSE(shown.testFlag(QAbstractPrintDialog::PrintCurrentPage));
    // Qt's own PDF output is its "print to file" entry on this platform.
    EXPECT_TRUE(shown.testFlag(QAbstractPrintDialog::PrintToFile));
    EXPECT_TRUE(printers.join('|').contains(QStringLiteral("PDF")))
        << printers.join('|').toStdString();
}
