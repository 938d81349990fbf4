// The printed report's page layout on a canvas that records every call.
#include "tasks/report_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/recording_canvas.h"

namespace {

std::vector<std::string> Lines(int n) {
    std::vector<std::string> lines;
    for (int i = 0; i < n; ++i) lines.push_back("line " + std::to_string(i));
    return lines;
}

std::vector<RecordingCanvas::Text> BodyTexts(const RecordingCanvas& c) {
    std::vector<RecordingCanvas::Text> body;
    for (const auto& t : c.texts) {
        if (t.text.rfind("line ", 0) == 0) body.push_back(t);
    }
    return body;
}

TEST(ReportPrinter, SixLinesMakeOnePageWithItsHeader) {
    RecordingCanvas canvas;  // 600 dpi: margins 300, line height 60
    {
        CPrinter printer(canvas);
        EXPECT_TRUE(printer.StartPrinting());
        for (const auto& l : Lines(6)) printer.PrintLine(l);
        printer.EndPrinting();
    }
    EXPECT_EQ(canvas.calls, (std::vector<std::string>{"Font", "StartDoc:Tessaly", "StartPage",
                                                      "EndPage", "EndDoc"}));
    // Header: title at top - 3h/2, number flush with the right margin, red rule.
    ASSERT_GE(canvas.texts.size(), 2u);
    EXPECT_EQ(canvas.texts[0].text, "Tessaly");
    EXPECT_EQ(canvas.texts[0].x, 300);
    EXPECT_EQ(canvas.texts[0].y, 300 - 90);
    EXPECT_EQ(canvas.texts[0].colour, 0x000000u);
    EXPECT_EQ(canvas.texts[1].text, "1");
    EXPECT_EQ(canvas.texts[1].x, 4800 - 300 - 30);
    EXPECT_EQ(canvas.texts[1].y, 210);
    ASSERT_EQ(canvas.rules.size(), 1u);
    const auto& rule = canvas.rules[0];
    EXPECT_EQ(rule.y1, 300 - 30);
    EXPECT_EQ(rule.y2, rule.y1);
    EXPECT_EQ(rule.x1, 300);
    EXPECT_EQ(rule.x2, 4500);
    EXPECT_EQ(rule.penWidth, 6);
    EXPECT_EQ(rule.colour, 0xFF0000u);
    EXPECT_EQ(canvas.saveDepth, 0);

    auto body = BodyTexts(canvas);
    ASSERT_EQ(body.size(), 6u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(body[i].x, 300);
        EXPECT_EQ(body[i].y, 300 + 60 * i);
    }
}

TEST(ReportPrinter, PageBreaksComeAfterTheLastLineThatFits) {
    struct Case {
        int height, lineHeight, leading;
    };
    // (H - 2*top)/h + 1 lines fit: e.g. (1000-600)/60+1 = 7; exact fit too.
    const Case cases[] = {{1000, 50, 10}, {960, 50, 10}, {1300, 40, 0}, {700, 90, 10}};
    for (const Case& c : cases) {
        RecordingCanvas canvas;
        canvas.height = c.height;
        canvas.fontHeight = c.lineHeight;
        canvas.internalLeading = c.leading;
        const int h = c.lineHeight + c.leading;
        const int top = 300;
        const int perPage = (c.height - 2 * top) / h + 1;
        CPrinter printer(canvas);
        printer.StartPrinting();
        const int total = perPage * 2 + 1;
        for (const auto& l : Lines(total)) printer.PrintLine(l);
        printer.EndPrinting();

        auto body = BodyTexts(canvas);
        ASSERT_EQ(static_cast<int>(body.size()), total);
        for (int i = 0; i < total; ++i) {
            EXPECT_EQ(body[i].page, i / perPage + 1) << "height " << c.height << " line " << i;
            EXPECT_EQ(body[i].y, top + (i % perPage) * h);
            EXPECT_LE(body[i].y, c.height - top);
        }
        EXPECT_EQ(printer.PageNumber(), 3);
        EXPECT_EQ(canvas.rules.size(), 3u);
        // Every page has its own number in its header.
        int numbers = 0;
        for (const auto& t : canvas.texts) {
            if (t.text == std::to_string(t.page)) ++numbers;
        }
        EXPECT_EQ(numbers, 3);
    }
}

TEST(ReportPrinter, DestroyingAnOpenJobEndsIt) {
    RecordingCanvas canvas;
    {
        CPrinter printer(canvas);
        printer.StartPrinting();
        printer.PrintLine("only");
    }
    ASSERT_GE(canvas.calls.size(), 2u);
    EXPECT_EQ(canvas.calls[canvas.calls.size() - 2], "EndPage");
    EXPECT_EQ(canvas.calls.back(), "EndDoc");
}

TEST(ReportPrinter, LongLinesAreDrawnWhole) {
    RecordingCanvas canvas;
    CPrinter printer(canvas);
    printer.StartPrinting();
    const std::string wide(500, 'W');
    printer.PrintLine(wide);
    printer.EndPrinting();
    EXPECT_EQ(BodyTexts(canvas).size(), 0u);
    EXPECT_EQ(canvas.texts.back().text, wide);
}

}  // namespace
