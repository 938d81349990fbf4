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
