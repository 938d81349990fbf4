#include "app/main_sheet.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include "pages/comms_pp.h"
#include "resources/strings.h"

namespace {

// Counts the sheet's own tab changes for the lifetime of a scope.
class ScopedCount {
public:
    explicit ScopedCount(int& count) : m_count(count) { ++m_count; }
    ~ScopedCount() { --m_count; }
    ScopedCount(const ScopedCount&) = delete;
    ScopedCount& operator=(const ScopedCount&) = delete;

private:
    int& m_count;
};

}  // namespace

CMainSheet::CMainSheet(CMessageIF& msg, IHostServices& host, tessaly::ProgramState& state,
                       FeaturePageFactory factory, QWidget* parent)
    : QDialog(parent), m_context{msg, host, *this, state}, m_factory(std::move(factory)) {
    setWindowTitle(QString::fromLatin1(strings::kSheetCaption));
    // The sheet is the program's main window, not a passing dialog, so it
    // can be minimized and maximized like one.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    const ScopedCount own(m_ownTabChanges);
    const CDialogUnits units(font());

    m_tabs = new QTabWidget(this);
    // All eight tabs stay in view; the sheet widens to hold them once the
    // feature pages arrive rather than hiding some behind scroll arrows.
    m_tabs->setUsesScrollButtons(false);
    m_comms = new CCommsPP(m_context);
    m_tabs->addTab(m_comms, m_comms->Title());
    connect(m_tabs, &QTabWidget::currentChanged, this, &CMainSheet::OnCurrentChanged);

    m_exit = new QPushButton(tr("Exit"), this);
    m_exit->setObjectName(QStringLiteral("1"));
    // Not the default button: Enter in the port box must not end the program.
    m_exit->setAutoDefault(false);
    m_exit->setMinimumSize(units.Size(50, 14));
    connect(m_exit, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_exit);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(units.X(4), units.Y(4), units.X(4), units.Y(4));
    layout->setSpacing(units.Y(4));
    layout->addWidget(m_tabs, 1);
    layout->addLayout(buttons);
}

CMainSheet::~CMainSheet() = default;

void CMainSheet::RebuildPages() {
    const QRect before = frameGeometry();
    {
        const ScopedCount own(m_ownTabChanges);
        RemoveFeaturePages();
        // A reconnect can start inside a handler of one of these very pages;
        // it must stay alive until that handler has returned.
        for (QPointer<CPageBase>& slot : m_featurePages) {
            if (slot) slot->deleteLater();
            slot = nullptr;
        }
        FeaturePages pages = m_factory(m_context);
        for (int i = 0; i < kFeaturePageCount; ++i) {
            if (!pages[i]) continue;
            CPageBase* page = pages[i].release();
            m_tabs->addTab(page, page->Title());
            m_featurePages[i] = page;
        }
        m_tabs->setCurrentIndex(kFirstFeatureIndex);
    }
    FitToPages(before);
    // Outside the guard: the activation queries the printer and may itself
    // lead to another rebuild.
    ActivatePage(m_tabs->currentIndex());
}

void CMainSheet::SetActivePage(int index) {
    if (index < 0 || index >= m_tabs->count()) return;
    {
        const ScopedCount own(m_ownTabChanges);
        m_tabs->setCurrentIndex(index);
    }
    ActivatePage(index);
}

void CMainSheet::EndDialog(int result) { done(result); }

void CMainSheet::RemoveFeaturePages() {
    const ScopedCount own(m_ownTabChanges);
    while (m_tabs->count() > kFirstFeatureIndex) {
        QWidget* page = m_tabs->widget(kFirstFeatureIndex);
        m_tabs->removeTab(kFirstFeatureIndex);
        page->hide();
    }
}

void CMainSheet::FitToPages(const QRect& before) {
    if (!isVisible() || isMaximized() || isMinimized()) return;
    // The layout has already grown the window to the new tabs' minimum, to
    // the right of where it stood; centre it where it was, on the screen.
    layout()->activate();
    QRect frame = frameGeometry();
    if (frame.size() == before.size()) return;
    frame.moveCenter(before.center());
    if (const QScreen* where = screen()) {
        const QRect available = where->availableGeometry();
        if (frame.right() > available.right()) frame.moveRight(available.right());
        if (frame.left() < available.left()) frame.moveLeft(available.left());
        if (frame.top() < available.top()) frame.moveTop(available.top());
    }
    move(frame.topLeft());
}

int CMainSheet::PageCount() const { return m_tabs->count(); }

CPageBase* CMainSheet::PageAt(int index) const {
    return qobject_cast<CPageBase*>(m_tabs->widget(index));
}

int CMainSheet::CurrentIndex() const { return m_tabs->currentIndex(); }

void CMainSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The page shown first is activated when the window first appears, as
    // every page is activated when it first becomes visible.
    CPageBase* page = PageAt(CurrentIndex());
    if (page && !page->IsInitialised()) page->Activate();
}

void CMainSheet::OnCurrentChanged(int index) {
    if (m_ownTabChanges > 0) return;
    ActivatePage(index);
}

void CMainSheet::ActivatePage(int index) {
    if (CPageBase* page = PageAt(index)) page->Activate();
}
