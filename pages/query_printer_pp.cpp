#include "pages/query_printer_pp.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QSaveFile>
#include <QStyledItemDelegate>
#include <ctime>
#include <memory>
#include <optional>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "pages/local_path.h"
#include "protocol/message_if.h"
#include "protocol/printer_tasks.h"
#include "protocol/query_report.h"
#include "protocol/report_printer.h"
#include "seams/print_canvas.h"
#include "seams/wait_cursor.h"

namespace {

#ifdef _WIN32
// The helpers live outside the program, in the root of drive C:.
constexpr const char* kShell = "cmd.exe";
constexpr const char* kEnableCommand = "c:\\enableomnikey.bat";
constexpr const char* kDisableCommand = "c:\\disableomnikey.bat";
#endif

// Writes all of `bytes`, unbuffered, so a write that falls short shows here
// rather than in a flush nobody checks.
bool WriteAll(QFileDevice& file, const QByteArray& bytes) {
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 written = file.write(bytes.constData() + done, bytes.size() - done);
        if (written <= 0) return false;
        done += written;
    }
    return true;
}

// A file with more than one name (hard links): every name must see the new
// report, and a replacement would leave the others with the old one.
bool HasOtherNames(const QString& path) {
#ifdef _WIN32
    (void)path;
    return false;
#else
    struct stat info {};
    return ::stat(LocalPath(path).c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           info.st_nlink > 1;
#endif
}

// Truncates the file and writes the report into it. No value on success,
// otherwise the reason.
std::optional<QString> SaveInPlace(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered) &&
        WriteAll(file, bytes)) {
        file.close();
        if (file.error() == QFileDevice::NoError) return std::nullopt;
    }
    return file.errorString();
}

// Written beside the target and renamed over it only when complete: a save
// that fails leaves an earlier report as it was. No value on success,
// otherwise the reason.
std::optional<QString> SaveReport(const QString& path, const QByteArray& bytes) {
    if (HasOtherNames(path)) return SaveInPlace(path, bytes);
    QSaveFile file(path);
    const bool opened = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    const bool written = opened && WriteAll(file, bytes);
    if (written && file.commit()) return std::nullopt;
    const QString reason = file.errorString();
    const bool writeFailed = opened && (!written || file.error() == QFileDevice::WriteError);
    if (opened) file.cancelWriting();
    // The new report could not be made beside the file or take its name (a
    // folder the user may not write, a name too long to extend, a sticky
    // folder), yet the file itself may be writable: the operator chose it,
    // and overwriting it is what the save promised. A write that failed (a
    // full disk) would fail there too, and cost the old report.
    if (!writeFailed && QFileInfo(path).isFile()) return SaveInPlace(path, bytes);
    return reason;
}

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
    WaitCursor wait(Host());
    m_list->clear();
    if (sensors) {
        m_save->setEnabled(false);
        m_print->setEnabled(false);
    }
    for (const std::string& line :
         query_report::Run(Msg(), title, command, query_report::LocalTimeNow())) {
        AddLine(line);
    }

    m_save->setEnabled(true);
    m_print->setEnabled(true);
}

void CQueryPrinterPP::OnPrint() {
    std::unique_ptr<CPrintCanvas> canvas = Host().RunPrintDialog();
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
    const std::optional<std::string> path = Host().GetSaveFileName();
    if (!path) return;

    std::vector<std::string> lines;
    for (int row = 0; row < m_list->count(); ++row) {
        lines.push_back(ToLatin1(m_list->item(row)->text()));
    }
    const std::string saved = query_report::SavedText(lines);
    const QByteArray bytes(saved.data(), static_cast<qsizetype>(saved.size()));

    const QString target = DisplayPath(*path);
    const std::optional<QString> reason = SaveReport(target, bytes);
    if (!reason) return;
    const std::string text = "The report could not be saved to\n" + ToLatin1(DisplayPath(*path)) +
                             "\n\n" + ToLatin1(*reason);
    Host().Message(text, MsgButtons::Ok, MsgIcon::Exclamation);
}

void CQueryPrinterPP::StartHelper(bool enable) {
    // Fire and forget: the scripts belong to the workstation, and whatever
    // they do or fail to do is not the page's to report.
#ifdef _WIN32
    Host().StartDetached(kShell, {"/c", enable ? kEnableCommand : kDisableCommand});
#else
    const std::string script =
        std::string(kHelperFolder) + "/" + (enable ? kEnableScript : kDisableScript);
    Host().StartDetached("/bin/sh", {script});
#endif
}
