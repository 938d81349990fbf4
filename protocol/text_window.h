#pragma once

#include <string>

// A control whose text the protocol object may read or set (ShowStatus,
// SendModifyFromControl). The pages adapt their edit boxes to it, so the
// protocol object never sees a widget.
class CTextWindow {
public:
    virtual ~CTextWindow() = default;
    virtual std::string GetWindowText() const = 0;
    virtual void SetWindowText(const std::string& text) = 0;
};

// A plain text holder, for callers and tests without a widget.
class CTextValue : public CTextWindow {
public:
    CTextValue() = default;
    explicit CTextValue(std::string text) : m_text(std::move(text)) {}
    std::string GetWindowText() const override { return m_text; }
    void SetWindowText(const std::string& text) override { m_text = text; }

private:
    std::string m_text;
};
