#pragma once

#include <string>

#include "pages/page_base.h"

class QListWidget;
class QPushButton;

// The "Query Printer" page: lists the printer's query items or its sensor
// test results as a report, saves the report as text or prints it, and
// starts the two card-reader helper scripts.
class CQueryPrinterPP : public CPageBase {
    Q_OBJECT

public:
    // Where "On" and "Off" find their scripts (named in the README).
    static constexpr const char* kHelperFolder = "/usr/local/libexec/tessaly";
    static constexpr const char* kEnableScript = "enableomnikey.sh";
    static constexpr const char* kDisableScript = "disableomnikey.sh";

    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kReport = "1100";
        static constexpr const char* kQuery = "1101";
        static constexpr const char* kPrint = "1102";
        static constexpr const char* kSave = "1104";
        static constexpr const char* kSensors = "1150";
        static constexpr const char* kOn = "1153";
        static constexpr const char* kOff = "1154";
    };

    explicit CQueryPrinterPP(const PageContext& context, QWidget* parent = nullptr);

    QListWidget* ReportList() const { return m_list; }
    QPushButton* QueryButton() const { return m_query; }
    QPushButton* SensorsButton() const { return m_sensors; }
    QPushButton* OnButton() const { return m_on; }
    QPushButton* OffButton() const { return m_off; }
    QPushButton* SaveButton() const { return m_save; }
    QPushButton* PrintButton() const { return m_print; }

private:
    void RunReport(const char* title, int command, bool sensors);
    void AddLine(const std::string& line);
    void OnPrint();
    void OnSave();
    void StartHelper(bool enable);

    QListWidget* m_list = nullptr;
    QPushButton* m_query = nullptr;
    QPushButton* m_sensors = nullptr;
    QPushButton* m_on = nullptr;
    QPushButton* m_off = nullptr;
    QPushButton* m_save = nullptr;
    QPushButton* m_print = nullptr;
};
