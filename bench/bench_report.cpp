// A 10,000-line report printed to PDF through the report printer, against
// the same lines drawn straight onto the same kind of PDF printer.

#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPainter>
#include <QPrinter>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "bench/bench.h"
#include "report/qt_print_canvas.h"
#include "tasks/report_layout.h"

namespace bench {
namespace {

std::unique_ptr<QPrinter> PdfPrinter(const QString& path) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(path);
    return printer;
}

std::string Line(int i) {
    return "QUERY ITEM " + std::to_string(i) + ": RIBBON LEFT 412 PANELS, HEAD 300 DPI, OK";
}

}  // namespace

void RunReport(const Options& options, std::vector<Row>& rows) {
    const int lines = options.quick ? 1000 : 10000;
    QTemporaryDir dir;
    if (!dir.isValid()) return;
    const QString reportPath = dir.filePath("report.pdf");
    const QString barePath = dir.filePath("bare.pdf");
    int pages = 0;

    auto report = [&] {
        CQtPrintCanvas canvas(PdfPrinter(reportPath));
        CPrinter printer(canvas);
        if (!printer.StartPrinting()) return;
        for (int i = 0; i < lines; ++i) printer.PrintLine(Line(i));
        printer.EndPrinting();
        pages = printer.PageNumber();
    };
    auto bare = [&] {
        auto printer = PdfPrinter(barePath);
        QPainter painter(printer.get());
        painter.setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        const int height = painter.fontMetrics().height();
        const int bottom = printer->pageLayout().paintRectPixels(printer->resolution()).height();
        int y = height;
        for (int i = 0; i < lines; ++i) {
            if (y + height > bottom) {
                printer->newPage();
                y = height;
            }
            painter.drawText(0, y, QString::fromLatin1(Line(i).c_str()));
            y += height;
        }
    };
    std::vector<double> reportSeconds, bareSeconds;
    TimePairs(RatioPairs(options), report, bare, reportSeconds, bareSeconds);
    Row row;
    row.name = std::to_string(lines) + "-line report printed to PDF";
    row.unit = "ms";
    row.FromPairs(reportSeconds, bareSeconds, [](double s) { return s * 1000; });
    row.baselineName = "QPainter drawText on a PDF QPrinter";
    row.faulty = pages <= 0 || QFileInfo(reportPath).size() <= 0;
    row.note = std::to_string(pages) + " pages with headers and rules";
    rows.push_back(row);
}

}  // namespace bench
