#pragma once

#include <QAbstractPrintDialog>
#include <QPointer>
#include <QString>
#include <memory>

#include "seams/host_services.h"
#include "seams/page_services.h"

class CIdleEventGate;
class CTransferProgress;
class QWidget;

// The desktop as the pages and the protocol object see it: message boxes,
// the wait cursor, blocking pauses, file dialogs, the progress window and
// detached commands, all on the user-interface thread.
class QtHostServices : public IHostServices, public IPageServices {
public:
    QtHostServices();
    ~QtHostServices() override;

    MsgResult ShowMessageBox(const std::string& text, MsgButtons buttons, MsgIcon icon) override;
    // The details go under "Show Details...", in the box's own text area.
    MsgResult ShowMessageBoxWithDetails(const std::string& text, const std::string& details,
                                        MsgButtons buttons, MsgIcon icon) override;
    void SetWaitCursor(bool on) override;
    // Sleeps in slices with an idle call between them.
    void Pause(int milliseconds) override;
    // Lets the windows repaint and answer the desktop (its "are you alive"
    // pings included), keeping back what would start or end anything in
    // the middle of the running operation: operator input reaches no
    // widget, a request to close a window waits until the operation has
    // returned, and a button's animated click (an accessibility "press")
    // waits too. Escape and a request to close cancel the rest of the
    // operation, unless a transfer's progress window is up.
    void Idle() override;
    bool CancelRequested() const override;
    std::optional<std::string> GetOpenFileName(const std::string& filter) override;
    std::optional<std::string> GetSaveFileName() override;
    std::unique_ptr<CPrintCanvas> RunPrintDialog() override;
    void ShowProgress(const std::string& text, int64_t done, int64_t total) override;
    void EndProgress() override;
    bool StartDetached(const std::string& program,
                       const std::vector<std::string>& arguments) override;

    // The caption of every box: the program file's name without extension.
    const QString& Caption() const { return m_caption; }
    // The open progress window, if any.
    QWidget* ProgressWindow() const;
    // What the print dialog offers.
    static QAbstractPrintDialog::PrintDialogOptions PrintDialogOptions();

private:
    QString m_caption;
    QPointer<CTransferProgress> m_progress;
    std::unique_ptr<CIdleEventGate> m_gate;
    bool m_idling = false;
};
