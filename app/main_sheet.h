#pragma once

#include <QDialog>
#include <QPointer>
#include <array>

#include "app/page_factory.h"
#include "pages/page_base.h"
#include "protocol/main_sheet_if.h"

class CCommsPP;
class CMessageIF;
class IHostServices;
class QPushButton;
class QTabWidget;

// The program's one window: a modal sheet of tabbed pages with a single Exit
// button. It owns the Comms page for its whole life and the feature pages
// from one rebuild to the next.
class CMainSheet : public QDialog, public IMainSheet, public IPageSheet {
    Q_OBJECT

public:
    static constexpr int kCommsIndex = 0;
    static constexpr int kFirstFeatureIndex = 1;

    CMainSheet(CMessageIF& msg, IHostServices& host, IPageServices& pages,
               tessaly::ProgramState& state, FeaturePageFactory factory = CreateFeaturePages,
               QWidget* parent = nullptr);
    ~CMainSheet() override;

    // IMainSheet: after every successful connect.
    void RebuildPages() override;

    // IPageSheet
    void SetActivePage(int index) override;
    void EndDialog(int result) override;
    void RemoveFeaturePages() override;

    int PageCount() const;
    CPageBase* PageAt(int index) const;
    int CurrentIndex() const;
    CCommsPP* CommsPage() const { return m_comms; }
    QTabWidget* Tabs() const { return m_tabs; }
    QPushButton* ExitButton() const { return m_exit; }

    void setVisible(bool visible) override;

protected:
    void showEvent(QShowEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnCurrentChanged(int index);
    void ActivatePage(int index);
    void FitToPages(const QRect& before);
    int SteadyWidth() const;
    int ScreenWidthLimit() const;
    void KeepOnScreen();
    void FitToFrame();

    PageContext m_context;
    FeaturePageFactory m_factory;
    QTabWidget* m_tabs = nullptr;
    CCommsPP* m_comms = nullptr;
    QPushButton* m_exit = nullptr;
    // The current feature pages. They belong to the tab widget as Qt children
    // (also while taken out of the sheet); the slots only observe them.
    std::array<QPointer<CPageBase>, kFeaturePageCount> m_featurePages;
    // Tab changes made by the sheet itself are not operator choices and must
    // not run a page's activation.
    int m_ownTabChanges = 0;
    bool m_widthSettled = false;
    bool m_frameSeen = false;
};
