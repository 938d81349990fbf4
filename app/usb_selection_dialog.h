#pragma once

#include <QDialog>
#include <functional>

#include "links/usb_selection.h"

class QListWidget;
class QPushButton;

// "USB PRINTER SELECTION": one line per discovered printer; OK makes the
// selected line's device the USB link's choice, Escape leaves the choice as
// it was. There is no close box.
class CUSB_Selection : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDialogId = 147;
    static constexpr int kOkId = 1;
    static constexpr int kListId = 1151;
    static constexpr const char* kTitle = "USB PRINTER SELECTION";

    CUSB_Selection(CUsbDiscovery& discovery, IHostServices& host, QWidget* parent = nullptr);

    // Initialises (discovery, lines) and, unless the initialisation ended
    // the dialog, runs it modally.
    int Run();

    QListWidget* List() const { return m_list; }
    QPushButton* OkButton() const { return m_ok; }

private:
    // False when discovery failed: the dialog then ends without waiting.
    bool Initialise();
    void OnOk();

    CUsbDiscovery& m_discovery;
    IHostServices& m_host;
    QListWidget* m_list = nullptr;
    QPushButton* m_ok = nullptr;
};

// Runs CUSB_Selection for the USB link, over the window the operator is
// working in.
class CQtUsbSelectionRunner : public IUsbSelectionRunner {
public:
    // `parent` gives the dialog's parent window; none: the active window.
    explicit CQtUsbSelectionRunner(std::function<QWidget*()> parent = {});
    void RunSelection(CUsbDiscovery& discovery, IHostServices& host) override;

private:
    std::function<QWidget*()> m_parent;
};
