#pragma once

#include <string>

#include "pages/page_base.h"

class QLineEdit;
class QPushButton;

// The "Statistics / Commands" page: the printer's usage counters, a command
// typed by the operator, and a print file sent to the printer unchanged.
// The counters are read when the page is created and after every typed
// command, not each time the page is shown again.
class CStats_CmndsPP : public CPageBase {
    Q_OBJECT

public:
    explicit CStats_CmndsPP(const PageContext& context, QWidget* parent = nullptr);

    // The chosen print file as the file dialog gave it; empty when none.
    const std::string& PrintFilePath() const { return m_printFilePath; }

protected:
    void OnInitDialog() override;

private:
    void ReadStatistics();
    void OnSendCommand();
    void OnBrowse();
    void OnPrint();

    QLineEdit* m_totalCards = nullptr;
    QLineEdit* m_cardsOnPrinthead = nullptr;
    QLineEdit* m_cleaningCycles = nullptr;
    QLineEdit* m_cardsSinceClean = nullptr;
    QLineEdit* m_command = nullptr;
    QPushButton* m_send = nullptr;
    QPushButton* m_browse = nullptr;
    QLineEdit* m_path = nullptr;
    QPushButton* m_print = nullptr;
    // In the file system's encoding, ready to open.
    std::string m_printFilePath;
};
