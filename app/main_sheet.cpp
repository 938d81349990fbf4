#include "app/main_sheet.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

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

CMainSheet::CMainSheet(CMessageIF& msg, IHostServices& host, IPageServices& pages,
                       tessaly::ProgramState& state, FeaturePageFactory factory, QWidget* parent)
    : QDialog(parent), m_context{msg, host, pages, *this, state}, m_factory(std::move(factory)) {
    setWindowTitle(QString::fromLatin1(strings::kSheetCaption));
    // The sheet is the program's main window, not a passing dialog, so it
    // can be minimized and maximized like one.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);

    const ScopedCount own(m_ownTabChanges);
    const CDialogUnits units(font());

    m_tabs = new QTabWidget(this);
    // The window takes the width of all eight tabs from the start (see
    // SteadyWidth); where the screen is narrower than that, the tab strip
    // scrolls rather than pushing the window off the screen.
    m_tabs->setUsesScrollButtons(true);
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
    // The layout has already grown the window to the new pages' minimum, to
    // the right of where it stood; centre it where it was, on the screen.
    layout()->activate();
    QRect frame = frameGeometry();
    const bool tooWide = width() > std::max(ScreenWidthLimit(), minimumWidth());
    if (frame.size() == before.size() && !tooWide) return;
    if (frame.size() != before.size()) {
        frame.moveCenter(before.center());
        move(frame.topLeft());
    }
    KeepOnScreen();
}

void CMainSheet::KeepOnScreen() {
    if (!isVisible() || isMaximized() || isMinimized()) return;
    const int limit = std::max(ScreenWidthLimit(), minimumWidth());
    if (width() > limit) resize(limit, height());
    const QScreen* where = screen();
    if (!where) return;
    const QRect available = where->availableGeometry();
    QRect frame = frameGeometry();
    if (frame.right() > available.right()) frame.moveRight(available.right());
    if (frame.left() < available.left()) frame.moveLeft(available.left());
    if (frame.top() < available.top()) frame.moveTop(available.top());
    if (frame.topLeft() != frameGeometry().topLeft()) move(frame.topLeft());
}

int CMainSheet::PageCount() const { return m_tabs->count(); }

CPageBase* CMainSheet::PageAt(int index) const {
    return qobject_cast<CPageBase*>(m_tabs->widget(index));
}

int CMainSheet::CurrentIndex() const { return m_tabs->currentIndex(); }

int CMainSheet::SteadyWidth() const {
    // The sheet's own wish with all eight titles in its tab strip, whether
    // or not the feature pages are there yet, so connecting does not make
    // the window jump. A tab widget like the sheet's, holding every title
    // over empty pages and not allowed to scroll, says what the strip needs.
    QTabWidget probe;
    probe.setFont(m_tabs->font());
    probe.setUsesScrollButtons(false);
    probe.addTab(new QWidget, m_comms->Title());
    for (const QString& title : FeaturePageTitles()) probe.addTab(new QWidget, title);
    const int tabs = m_tabs->sizeHint().width();
    const int width = sizeHint().width() - tabs + std::max(tabs, probe.minimumSizeHint().width());
    return std::max(std::min(width, ScreenWidthLimit()), minimumWidth());
}

int CMainSheet::ScreenWidthLimit() const {
    const QScreen* where = screen();
    if (!where) return QWIDGETSIZE_MAX;
    // The window manager's frame is known once the window has been mapped.
    const int decoration = frameGeometry().width() - geometry().width();
    return where->availableGeometry().width() - decoration;
}

void CMainSheet::setVisible(bool visible) {
    // Sized before it first appears, so the window is placed for the size
    // it keeps.
    if (visible && !m_widthSettled && !isMaximized()) {
        m_widthSettled = true;
        ensurePolished();
        layout()->activate();
        resize(SteadyWidth(), sizeHint().height());
    }
    QDialog::setVisible(visible);
}

void CMainSheet::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    FitToFrame();
}

bool CMainSheet::eventFilter(QObject* watched, QEvent* event) {
    // A window manager frames the window before it first shows it.
    if (watched == windowHandle() && event->type() == QEvent::Expose) FitToFrame();
    return QDialog::eventFilter(watched, event);
}

void CMainSheet::FitToFrame() {
    // The window manager's frame is known only once the window is up (at
    // once on some platforms, by its first exposure or move on others); a
    // frame that takes the window past the screen's edge is made room for,
    // once. Later moves are the operator's own.
    if (isVisible() && !m_frameSeen && frameGeometry() != geometry()) {
        m_frameSeen = true;
        if (windowHandle()) windowHandle()->removeEventFilter(this);
        KeepOnScreen();
    }
}

void CMainSheet::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_frameSeen && windowHandle()) windowHandle()->installEventFilter(this);
    FitToFrame();
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
