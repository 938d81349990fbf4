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
    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kCommand = "1046";
        static constexpr const char* kSend = "1104";
        static constexpr const char* kBrowse = "1123";
        static constexpr const char* kPrint = "1124";
        static constexpr const char* kPrintFile = "1125";
        static constexpr const char* kTotalCards = "1126";
        static constexpr const char* kCardsOnPrinthead = "1127";
        static constexpr const char* kCleaningCycles = "1128";
        static constexpr const char* kCardsSinceClean = "1129";
    };

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
