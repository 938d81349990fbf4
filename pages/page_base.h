#pragma once

#include <QFont>
#include <QPointer>
#include <QRect>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "controls/dialog_units.h"
#include "protocol/text_window.h"

class CMessageIF;
class IHostServices;
class IPageServices;
class QLabel;
class QLineEdit;
class QPushButton;
namespace tessaly {
struct ProgramState;
}

// What a page may ask of the sheet that holds it. The main sheet implements
// it; page tests use a recording stand-in, so a page runs without a sheet.
class IPageSheet {
public:
    virtual ~IPageSheet() = default;
    // Makes the page at `index` current and runs its activation, also when it
    // already was current (Comms at 0: the feature pages leave the sheet).
    virtual void SetActivePage(int index) = 0;
    // Ends the program's modal run, as Exit does.
    virtual void EndDialog(int result) = 0;
    // Takes every page after Comms out of the sheet without destroying it;
    // the next rebuild or the end of the sheet destroys them.
    virtual void RemoveFeaturePages() = 0;
};

// Everything a page talks to. Pages reach the printer only through `msg`
// and the desktop only through `host`.
struct PageContext {
    CMessageIF& msg;
    IHostServices& host;
    // The dialogs and programs only pages ask for.
    IPageServices& pages;
    IPageSheet& sheet;
    // The program-wide values the pages read and the Set IP dialog writes.
    tessaly::ProgramState& state;
};

// A property page: a tab of the main sheet with its title, created with the
// sheet's shared context. The sheet calls Activate whenever the page becomes
// current; the first activation runs OnInitDialog once, then every
// activation runs OnSetActive.
class CPageBase : public QWidget {
    Q_OBJECT

public:
    CPageBase(const PageContext& context, const QString& title, QWidget* parent = nullptr);

    const QString& Title() const { return m_title; }
    bool IsInitialised() const { return m_initialised; }

    void Activate();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    // Page creation: the window exists now (fill lists, first refresh).
    virtual void OnInitDialog() {}
    // The page has become the current tab.
    virtual void OnSetActive() {}

    CMessageIF& Msg() const { return m_context.msg; }
    IHostServices& Host() const { return m_context.host; }
    IPageServices& Pages() const { return m_context.pages; }
    tessaly::ProgramState& State() const { return m_context.state; }
    IPageSheet& Sheet() const { return m_context.sheet; }
    const PageContext& Context() const { return m_context; }

    // Template layout: the page's size and each control's place in dialog
    // units of the page's font. A height of 0 keeps the control's own height
    // (combo boxes, whose template height includes their drop-down list).
    // The template stays centred across a page made wider by the sheet.
    void SetTemplateSize(int width, int height);
    void Place(QWidget* control, int x, int y, int width, int height);
    // Gives the room a page gets beyond its template (a maximised sheet) to
    // one placed control instead of centring the template: the control
    // grows right and down, and what stands to its right or below it moves
    // along, so a list shows more lines.
    void SetGrowingControl(QWidget* control);
    // Moves a placed control's edges inward by whole pixels (outward when
    // negative), for edges that depend on the style rather than on the
    // template.
    void NudgePlacement(QWidget* control, const QMargins& pixels);
    const CDialogUnits& Units() const { return m_units; }

    // Makes `button` the one Enter presses. The sheet's pages share one
    // window and with it one default button, which another page may have
    // taken while this one was hidden.
    static void MakeDefault(QPushButton* button);

    // The one way a page adds its controls: each is named by its control id,
    // which the tests and the accessibility tree find it by. A label beside
    // an edit names it; one beside a button (push, radio or check) describes
    // it, the button keeping its own text as its name; one without a buddy
    // only shows its text. Place them afterwards.
    QLineEdit* AddEdit(const char* id, bool readOnly);
    QPushButton* AddButton(const QString& text, const char* id);
    QLabel* AddLabel(const QString& text, QWidget* buddy);

    void resizeEvent(QResizeEvent* event) override;

private:
    struct Placement {
        QPointer<QWidget> control;
        QRect rect;  // pixels, relative to the template's top-left
    };
    int TemplateOffset() const;
    QRect Arranged(const Placement& placement) const;
    void Arrange();

    PageContext m_context;
    QString m_title;
    CDialogUnits m_units;
    QSize m_templateSize;
    std::vector<Placement> m_placements;
    QPointer<QWidget> m_growing;
    bool m_initialised = false;
};

// Printer and operator texts are 8-bit Latin-1; characters outside it become
// '?' on the way out, as the printer could not store them either.
QString FromLatin1(const std::string& text);
std::string ToLatin1(const QString& text);

// An edit box as the protocol object's text window (ShowStatus,
// SendModifyFromControl). The edit must outlive the adapter.
class CLineEditText : public CTextWindow {
public:
    explicit CLineEditText(QLineEdit& edit) : m_edit(edit) {}
    std::string GetWindowText() const override;
    void SetWindowText(const std::string& text) override;

private:
    QLineEdit& m_edit;
};
