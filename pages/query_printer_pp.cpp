#include "pages/query_printer_pp.h"

#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <ctime>
#include <memory>
#include <optional>

#include "pages/local_path.h"
#include "protocol/message_if.h"
#include "seams/file_save.h"
#include "seams/page_services.h"
#include "seams/print_canvas.h"
#include "seams/wait_cursor.h"
#include "tasks/query_report.h"
#include "tasks/report_layout.h"

namespace {

#ifdef _WIN32
// The helpers live outside the program, in the root of drive C:.
constexpr const char* kShell = "cmd.exe";
constexpr const char* kEnableCommand = "c:\\enableomnikey.bat";
constexpr const char* kDisableCommand = "c:\\disableomnikey.bat";
#endif

// Report lines keep the printer's bytes, carriage returns and trailing line
// feeds included, because Save and Print take them from the list. On screen
// those would break an entry over two rows, so the list shows them without.
class CReportLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QString displayText(const QVariant& value, const QLocale& locale) const override {
        QString text = QStyledItemDelegate::displayText(value, locale);
        text.remove(QLatin1Char('\r'));
        text.remove(QLatin1Char('\n'));
        text.remove(QChar::LineSeparator);
        return text;
    }
};

}  // namespace

CQueryPrinterPP::CQueryPrinterPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Query Printer"), parent) {
    SetTemplateSize(337, 140);

    m_list = new QListWidget(this);
    m_list->setObjectName(QString::fromLatin1(Id::kReport));
    m_list->setAccessibleName(tr("Report"));
    m_list->setSelectionMode(QAbstractItemView::NoSelection);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_list->setWordWrap(false);
    m_list->setUniformItemSizes(true);
    m_list->setItemDelegate(new CReportLineDelegate(m_list));
    Place(m_list, 7, 7, 265, 126);

    auto makeButton = [this](const char* id, const QString& text) {
        QPushButton* button = AddButton(text, id);
        // Enter presses the focused button, as on every page.
        button->setAutoDefault(true);
        return button;
    };
    m_query = makeButton(Id::kQuery, tr("Query"));
    m_sensors = makeButton(Id::kSensors, tr("Sensors"));
    m_on = makeButton(Id::kOn, tr("On"));
    m_off = makeButton(Id::kOff, tr("Off"));
    m_save = makeButton(Id::kSave, tr("Save"));
    m_print = makeButton(Id::kPrint, tr("Print"));
    Place(m_query, 280, 7, 50, 14);
    Place(m_sensors, 280, 25, 50, 14);
    Place(m_on, 280, 43, 24, 14);
    Place(m_off, 306, 43, 24, 14);
    Place(m_save, 280, 101, 50, 14);
    Place(m_print, 280, 119, 50, 14);
    // A maximised sheet is room for more of a long report.
    SetGrowingControl(m_list);

    // Nothing to save or print until a report has run.
    m_save->setEnabled(false);
    m_print->setEnabled(false);

    connect(m_query, &QPushButton::clicked, this,
            [this] { RunReport(query_report::kQueryTitle, cmd::QPR, false); });
    connect(m_sensors, &QPushButton::clicked, this,
            [this] { RunReport(query_report::kSensorTitle, cmd::SNR, true); });
    connect(m_on, &QPushButton::clicked, this, [this] { StartHelper(true); });
    connect(m_off, &QPushButton::clicked, this, [this] { StartHelper(false); });
    connect(m_save, &QPushButton::clicked, this, &CQueryPrinterPP::OnSave);
    connect(m_print, &QPushButton::clicked, this, &CQueryPrinterPP::OnPrint);
}

void CQueryPrinterPP::AddLine(const std::string& line) { m_list->addItem(FromLatin1(line)); }

void CQueryPrinterPP::RunReport(const char* title, int command, bool sensors) {
    query_report::RunResult result;
    {
        WaitCursor wait(Host());
        m_list->clear();
        if (sensors) {
            m_save->setEnabled(false);
            m_print->setEnabled(false);
        }
        result = query_report::Run(Msg(), title, command, query_report::LocalTimeNow(),
                                   [this](const std::string& line) { AddLine(line); });

        // What the list shows may still be saved or printed: the operator is
        // told below that it is not the whole report.
        m_save->setEnabled(true);
        m_print->setEnabled(true);
    }
    if (const std::optional<std::string> text = query_report::IncompleteText(result)) {
        Host().Message(*text, MsgButtons::Ok);
    }
}

void CQueryPrinterPP::OnPrint() {
    std::unique_ptr<CPrintCanvas> canvas = Pages().RunPrintDialog();
    if (!canvas) return;
    WaitCursor wait(Host());
    CPrinter printer(*canvas);
    printer.StartPrinting();
    for (int row = 0; row < m_list->count(); ++row) {
        printer.PrintLine(ToLatin1(m_list->item(row)->text()));
    }
    printer.EndPrinting();
}

void CQueryPrinterPP::OnSave() {
    const std::optional<std::string> path = Pages().GetSaveFileName();
    if (!path) return;

    std::vector<std::string> lines;
    for (int row = 0; row < m_list->count(); ++row) {
        lines.push_back(ToLatin1(m_list->item(row)->text()));
    }
    const std::optional<std::string> reason =
        filesave::SaveReplacing(*path, query_report::SavedText(lines));
    if (!reason) return;
    const std::string text =
        "The report could not be saved to\n" + ToLatin1(DisplayPath(*path)) + "\n\n" + *reason;
    Host().Message(text, MsgButtons::Ok, MsgIcon::Exclamation);
}

void CQueryPrinterPP::StartHelper(bool enable) {
    // Fire and forget: the scripts belong to the workstation, and whatever
    // they do or fail to do is not the page's to report.
#ifdef _WIN32
    Pages().StartDetached(kShell, {"/c", enable ? kEnableCommand : kDisableCommand});
#else
    const std::string script =
        std::string(kHelperFolder) + "/" + (enable ? kEnableScript : kDisableScript);
    Pages().StartDetached("/bin/sh", {script});
#endif
}
