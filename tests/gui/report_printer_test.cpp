// The report printed through Qt, to a PDF file: the layout itself is
// checked on a recording canvas in the core suite.
#include <gtest/gtest.h>

#include <QFile>
#include <QPageSize>
#include <QPrinter>
#include <QTemporaryDir>

#include "report/qt_print_canvas.h"
#include "tasks/report_layout.h"

namespace {

// The pages of the PDF file at `path`; -1 when it is none.
int PdfPageCount(const QString& path) {
    QFile pdf(path);
    if (!pdf.open(QIODevice::ReadOnly)) return -1;
    const QByteArray bytes = pdf.readAll();
    if (!bytes.startsWith("%PDF")) return -1;
    return static_cast<int>(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") +
                            bytes.count("/Type /Page "));
}

TEST(ReportPrinter, PrintsA300LineReportToPdfOnAsManyPagesAsItNeeds) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("report.pdf");
    auto qprinter = std::make_unique<QPrinter>(QPrinter::HighResolution);
    qprinter->setOutputFormat(QPrinter::PdfFormat);
    qprinter->setOutputFileName(path);
    qprinter->setPageSize(QPageSize(QPageSize::A4));
    CQtPrintCanvas canvas(std::move(qprinter));
    int perPage = 0;
    {
        CPrinter printer(canvas);
        printer.StartPrinting();
        // A 10-point line, cell plus internal leading: between an eighth and
        // a third of an inch whatever the face; and the face is fixed-pitch.
        const int dpi = canvas.LogPixelsY();
        EXPECT_GT(printer.LineHeight(), dpi / 8);
        EXPECT_LT(printer.LineHeight(), dpi / 3);
        EXPECT_EQ(canvas.TextWidth("iiii"), canvas.TextWidth("WWWW"));
        perPage = (canvas.VertRes() - 2 * printer.TopMargin()) / printer.LineHeight() + 1;
        for (int i = 0; i < 300; ++i) printer.PrintLine("line " + std::to_string(i));
        EXPECT_EQ(printer.PageNumber(), (300 + perPage - 1) / perPage);
    }  // the job ends with the printer
    ASSERT_GT(perPage, 0);
    EXPECT_EQ(PdfPageCount(path), (300 + perPage - 1) / perPage);
}

}  // namespace
