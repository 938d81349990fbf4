#include "app/qt_host_services.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressBar>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "pages/local_path.h"
#include "report/qt_print_canvas.h"
#include "seams/idle_pacer.h"

#ifdef _WIN32
// Last and lean: its function-name macros (TextOut and the like) must not
// rename the declarations above.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace {

// The progress bar runs in per-mille so files beyond int range still fit.
constexpr int kProgressScale = 1000;

QWidget* DialogParent() {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Exclamation:
            return QMessageBox::Warning;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Information:
            return QMessageBox::Information;
        case MsgIcon::None:
        case MsgIcon::Auto:
            break;
    }
    return QMessageBox::NoIcon;
}

struct ButtonPair {
    QMessageBox::StandardButton first;
    QMessageBox::StandardButton second;  // NoButton: a single button
};

ButtonPair ToQtButtons(MsgButtons buttons) {
    switch (buttons) {
        case MsgButtons::Ok:
            return {QMessageBox::Ok, QMessageBox::NoButton};
        case MsgButtons::OkCancel:
            return {QMessageBox::Ok, QMessageBox::Cancel};
        case MsgButtons::YesNo:
            return {QMessageBox::Yes, QMessageBox::No};
        case MsgButtons::RetryCancel:
            return {QMessageBox::Retry, QMessageBox::Cancel};
    }
    return {QMessageBox::Ok, QMessageBox::NoButton};
}

MsgResult ToResult(int button) {
    switch (button) {
        case QMessageBox::Cancel:
            return MsgResult::Cancel;
        case QMessageBox::Yes:
            return MsgResult::Yes;
        case QMessageBox::No:
            return MsgResult::No;
        case QMessageBox::Retry:
            return MsgResult::Retry;
        default:
            return MsgResult::Ok;
    }
}

}  // namespace

// The transfer progress window. It has no Cancel: a transfer cut short
// leaves the printer half-programmed, so neither Escape nor the close box
// may end it; only EndProgress does.
class CTransferProgress : public QDialog {
public:
    explicit CTransferProgress(const QString& caption, QWidget* parent)
        : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
        setWindowTitle(caption);
        setWindowModality(Qt::ApplicationModal);
        m_text = new QLabel(this);
        m_bar = new QProgressBar(this);
        m_bar->setRange(0, kProgressScale);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(m_text);
        layout->addWidget(m_bar);
        setMinimumWidth(fontMetrics().averageCharWidth() * 45);
    }

    void Update(const QString& text, int64_t done, int64_t total) {
        m_text->setText(text);
        const int64_t clamped = std::clamp<int64_t>(done, 0, std::max<int64_t>(total, 0));
        m_bar->setValue(total > 0 ? static_cast<int>(clamped * kProgressScale / total) : 0);
    }

    void Finish() {
        m_finishing = true;
        close();
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (m_finishing) {
            QDialog::closeEvent(event);
        } else {
            event->ignore();
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape) return;
        QDialog::keyPressEvent(event);
    }

private:
    QLabel* m_text = nullptr;
    QProgressBar* m_bar = nullptr;
    bool m_finishing = false;
};

// Watches the events an idle call delivers and holds back what would reach
// into the running operation. Operator input is kept from every widget,
// whichever way it comes (the window system's queue, an input method, a
// posted event): a click or key press must not start another action. Two
// things the operator does are taken as "stop waiting" instead: Escape, and
// asking a window to close. They cancel the rest of the operation, and the
// close itself goes ahead once the operation has returned. A firmware
// transfer (the progress window is up) is never cancelled: cut short, it
// would leave the printer half-programmed.
class CIdleEventGate : public QObject {
public:
    // Whether what the operator does may cancel the running operation.
    void SetCancellable(bool cancellable) { m_cancellable = cancellable; }
    bool CancelRequested() const { return m_cancelled; }

    // Schedules what waits for the operation's end: closing the windows
    // whose close was asked for, and dropping the cancel. Both ride on a
    // deferred delete made at the operation's own level: Qt delivers it
    // when control is back in the event loop that ran the operation, not
    // in the idle calls of the same operation nor in a message box it opens.
    void WhenDone() {
        if (m_toClose.empty() && !(m_cancelled && !m_clearScheduled)) return;
        // A child of the gate: should the program end before the event
        // loop runs again, it goes with the host.
        auto* later = new CWhenDone(std::move(m_toClose), this);
        m_toClose.clear();
        if (m_cancelled) m_clearScheduled = true;
        later->deleteLater();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Close:
                // The close box or the window manager: ending the program in
                // the middle of a firmware transfer could leave the printer
                // half-programmed.
                if (auto* window = qobject_cast<QWidget*>(watched); window && window->isWindow()) {
                    m_toClose.emplace_back(window);
                    Cancel();
                    event->ignore();
                    return true;
                }
                break;
            case QEvent::KeyPress:
                if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) Cancel();
                return true;
            case QEvent::Timer:
                // A button clicks from a timer when pressed by an
                // accessibility tool; the timer repeats until the click
                // happens, which is then after the operation.
                if (qobject_cast<QAbstractButton*>(watched)) return true;
                break;
            default:
                if (IsOperatorInput(event->type())) return true;
                break;
        }
        return false;
    }

private:
    static bool IsOperatorInput(QEvent::Type type) {
        switch (type) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::NonClientAreaMouseButtonPress:
            case QEvent::NonClientAreaMouseButtonRelease:
            case QEvent::NonClientAreaMouseButtonDblClick:
            case QEvent::Wheel:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::InputMethod:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
            case QEvent::TabletPress:
            case QEvent::TabletRelease:
                return true;
            default:
                return false;
        }
    }

    void Cancel() {
        if (m_cancellable) m_cancelled = true;
    }

    class CWhenDone : public QObject {
    public:
        CWhenDone(std::vector<QPointer<QWidget>> windows, CIdleEventGate* gate)
            : QObject(gate), m_windows(std::move(windows)), m_gate(gate) {}
        ~CWhenDone() override {
            m_gate->m_cancelled = false;
            m_gate->m_clearScheduled = false;
            for (const QPointer<QWidget>& window : m_windows) {
                if (window) window->close();
            }
        }

    private:
        std::vector<QPointer<QWidget>> m_windows;
        CIdleEventGate* m_gate;
    };

    std::vector<QPointer<QWidget>> m_toClose;
    bool m_cancellable = true;
    bool m_cancelled = false;
    bool m_clearScheduled = false;
};

QtHostServices::QtHostServices()
    : m_caption(QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName()),
      m_gate(std::make_unique<CIdleEventGate>()) {}

QtHostServices::~QtHostServices() { EndProgress(); }

MsgResult QtHostServices::ShowMessageBox(const std::string& text, MsgButtons buttons,
                                         MsgIcon icon) {
    return ShowMessageBoxWithDetails(text, std::string(), buttons, icon);
}

MsgResult QtHostServices::ShowMessageBoxWithDetails(const std::string& text,
                                                    const std::string& details, MsgButtons buttons,
                                                    MsgIcon icon) {
    const ButtonPair pair = ToQtButtons(buttons);
    QMessageBox box(ToQtIcon(IHostServices::ResolveIcon(buttons, icon)), m_caption,
                    QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                    pair.first | pair.second, DialogParent());
    box.setDefaultButton(pair.first);
    if (pair.second != QMessageBox::NoButton) box.setEscapeButton(pair.second);
    if (!details.empty()) {
        box.setDetailedText(
            QString::fromLatin1(details.data(), static_cast<qsizetype>(details.size())));
    }
    return ToResult(box.exec());
}

void QtHostServices::SetWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

void QtHostServices::Pause(int milliseconds) {
    if (milliseconds <= 0) return;
    QDeadlineTimer deadline(milliseconds);
    for (;;) {
        Idle();
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || CancelRequested()) break;
        QThread::msleep(static_cast<unsigned long>(std::min<qint64>(left, kIdleSliceMs)));
    }
}

void QtHostServices::Idle() {
    // An event delivered here that waits itself must not pump again inside.
    if (m_idling || !QCoreApplication::instance()) return;
    m_idling = true;
    m_gate->SetCancellable(!m_progress);
    QCoreApplication::instance()->installEventFilter(m_gate.get());
    // Operator input is delivered, to the gate alone: it must see Escape.
    // Socket notifiers are left out: nothing of the window needs them, and
    // what arrives through them (a desktop bus) may ask for anything.
    QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
    QCoreApplication::instance()->removeEventFilter(m_gate.get());
    m_idling = false;
    m_gate->WhenDone();
}

bool QtHostServices::CancelRequested() const { return m_gate->CancelRequested(); }

std::optional<std::string> QtHostServices::GetOpenFileName(const std::string& filter) {
    const QString path = QFileDialog::getOpenFileName(
        DialogParent(), QString(), QString(),
        QString::fromLatin1(filter.data(), static_cast<qsizetype>(filter.size())));
    if (path.isEmpty()) return std::nullopt;
    return LocalPath(path);
}

std::optional<std::string> QtHostServices::GetSaveFileName() {
    const QString path = QFileDialog::getSaveFileName(DialogParent());
    if (path.isEmpty()) return std::nullopt;
    return LocalPath(path);
}

QAbstractPrintDialog::PrintDialogOptions QtHostServices::PrintDialogOptions() {
    // The report is printed whole: no page ranges, no selection, no current
    // page. Copies and collation stay with the printer driver. Qt's dialog
    // on Linux offers its PDF output as the "print to file" choice, the one
    // way to print on a machine without a printer, so it stays there; on
    // Windows that choice would write the driver's raw output instead, and
    // PDF comes from the system's PDF printer.
    QAbstractPrintDialog::PrintDialogOptions options =
        QAbstractPrintDialog::PrintShowPageSize | QAbstractPrintDialog::PrintCollateCopies;
#ifndef _WIN32
    options |= QAbstractPrintDialog::PrintToFile;
#endif
    return options;
}

std::unique_ptr<CPrintCanvas> QtHostServices::RunPrintDialog() {
    // The report is laid out in device pixels of the printer, as a printer
    // device context would give them, not in screen pixels.
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(printer.get(), DialogParent());
    dialog.setOptions(PrintDialogOptions());
    if (dialog.exec() != QDialog::Accepted) return nullptr;
    return std::make_unique<CQtPrintCanvas>(std::move(printer));
}

void QtHostServices::ShowProgress(const std::string& text, int64_t done, int64_t total) {
    if (!m_progress) {
        m_progress = new CTransferProgress(m_caption, DialogParent());
        m_progress->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_progress->Update(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())), done,
                       total);
    if (!m_progress->isVisible()) m_progress->show();
    Idle();
}

void QtHostServices::EndProgress() {
    if (m_progress) m_progress->Finish();
    m_progress = nullptr;
}

QWidget* QtHostServices::ProgressWindow() const { return m_progress; }

bool QtHostServices::StartDetached(const std::string& program,
                                   const std::vector<std::string>& arguments) {
    QProcess process;
    process.setProgram(QFile::decodeName(program.c_str()));
    QStringList args;
    for (const std::string& argument : arguments) args << QFile::decodeName(argument.c_str());
    process.setArguments(args);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
#ifdef _WIN32
    // A console program started from a window program gets a console window
    // of its own unless told otherwise.
    process.setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments* args) {
        args->flags &= ~static_cast<DWORD>(CREATE_NEW_CONSOLE);
        args->flags |= CREATE_NO_WINDOW;
        args->startupInfo->dwFlags |= STARTF_USESHOWWINDOW;
        args->startupInfo->wShowWindow = SW_HIDE;
    });
#endif
    return process.startDetached();
}
