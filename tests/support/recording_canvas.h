#pragma once

#include <string>
#include <vector>

#include "seams/print_canvas.h"

// A print canvas that records what is drawn, with chosen device numbers.
class RecordingCanvas : public CPrintCanvas {
public:
    struct Text {
        int page;
        int x, y;
        std::string text;
        uint32_t colour;
    };
    struct Rule {
        int page;
        int x1, y1, x2, y2;
        int penWidth;
        uint32_t colour;
    };

    int dpiX = 600, dpiY = 600, width = 4800, height = 6600;
    int fontHeight = 50, internalLeading = 10, charWidth = 30;

    std::vector<std::string> calls;  // StartDoc:name, StartPage, EndPage, EndDoc, Font
    std::vector<Text> texts;
    std::vector<Rule> rules;
    int page = 0;
    int saveDepth = 0;

    int LogPixelsX() const override { return dpiX; }
    int LogPixelsY() const override { return dpiY; }
    int HorzRes() const override { return width; }
    int VertRes() const override { return height; }
    void SelectFixedFont() override { calls.push_back("Font"); }
    int FontHeight() const override { return fontHeight; }
    int FontInternalLeading() const override { return internalLeading; }
    int TextWidth(const std::string& t) const override {
        return static_cast<int>(t.size()) * charWidth;
    }
    void StartDoc(const std::string& name) override { calls.push_back("StartDoc:" + name); }
    void StartPage() override {
        ++page;
        calls.push_back("StartPage");
    }
    void EndPage() override { calls.push_back("EndPage"); }
    void EndDoc() override { calls.push_back("EndDoc"); }
    void SaveState() override {
        ++saveDepth;
        saved.push_back({textColour, penWidth, penColour});
    }
    void RestoreState() override {
        --saveDepth;
        if (saved.empty()) return;
        textColour = saved.back().text;
        penWidth = saved.back().width;
        penColour = saved.back().pen;
        saved.pop_back();
    }
    void SetTextColor(uint32_t rgb) override { textColour = rgb; }
    void SelectPen(int w, uint32_t rgb) override {
        penWidth = w;
        penColour = rgb;
    }
    void TextOut(int x, int y, const std::string& t) override {
        texts.push_back({page, x, y, t, textColour});
    }
    void Line(int x1, int y1, int x2, int y2) override {
        rules.push_back({page, x1, y1, x2, y2, penWidth, penColour});
    }

private:
    struct Saved {
        uint32_t text;
        int width;
        uint32_t pen;
    };
    std::vector<Saved> saved;
    uint32_t textColour = 0;
    int penWidth = 1;
    uint32_t penColour = 0;
};
