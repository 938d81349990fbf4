#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFont>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <utility>

// Readable QString values in test failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// Input synthesised the way the windowing system delivers it, so widgets see
// the same events an operator's keyboard and mouse produce.
namespace gui {

inline void KeyClick(QWidget* target, int key, const QString& text = {},
                     Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(target, &release);
}

// Types each character into whichever widget of `window` has the focus at
// that moment, so controls that move the focus themselves are followed.
inline void Type(QWidget* window, const QString& text) {
    for (QChar c : text) {
        QWidget* target = window->focusWidget() ? window->focusWidget() : window;
        int key = c.toUpper().unicode();
        if (c == QLatin1Char('.')) key = Qt::Key_Period;
        KeyClick(target, key, QString(c));
    }
}

inline void Click(QWidget* target, QPoint position) {
    const QPointF global = target->mapToGlobal(QPointF(position));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(position), global, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(position), global, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

inline void Click(QWidget* target) { Click(target, target->rect().center()); }

// Chooses `text` from the combo box's drop-down list as an operator does:
// open the list, move to the entry, press Enter.
inline bool ChooseListEntry(QComboBox* combo, const QString& text) {
    const int row = combo->findText(text, Qt::MatchExactly);
    if (row < 0) return false;
    combo->showPopup();
    combo->view()->setCurrentIndex(combo->model()->index(row, combo->modelColumn()));
    KeyClick(combo->view(), Qt::Key_Return);
    return true;
}

// Runs `action` on the next modal window to open (checked every few ms,
// from inside that window's own event loop). Returns a handle that reports
// whether the action ran; the watch stops when the handle goes.
class ModalWatch {
public:
    explicit ModalWatch(std::function<void(QWidget*)> action) : m_action(std::move(action)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || modal == m_ignore) return;
            m_timer.stop();
            m_ran = true;
            m_action(modal);
        });
        m_ignore = QApplication::activeModalWidget();
        m_timer.start();
    }
    bool Ran() const { return m_ran; }

private:
    std::function<void(QWidget*)> m_action;
    QTimer m_timer;
    QPointer<QWidget> m_ignore;
    bool m_ran = false;
};

// The application font `scale` times its size for the helper's lifetime;
// widgets made meanwhile lay themselves out for it.
class ScaledAppFont {
public:
    explicit ScaledAppFont(double scale) : m_normal(QApplication::font()) {
        QFont font = m_normal;
        font.setPointSizeF(m_normal.pointSizeF() * scale);
        QApplication::setFont(font);
    }
    ~ScaledAppFont() { QApplication::setFont(m_normal); }

private:
    QFont m_normal;
};

// A page's control by its id (its object name); none when it has no such
// control of that type.
template <typename T>
T* Control(const QWidget& page, const char* id) {
    return page.findChild<T*>(QString::fromLatin1(id));
}
inline QLineEdit* Edit(const QWidget& page, const char* id) { return Control<QLineEdit>(page, id); }
inline QPushButton* Button(const QWidget& page, const char* id) {
    return Control<QPushButton>(page, id);
}

// Counts the paint events of the widgets it is installed on as event filter.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Deletes the objects handed to deleteLater, as returning to the event loop
// would.
inline void FlushDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A 10 ms timer noting how long the event loop went without running it: the
// longest the window could not paint. `atFirstTick` runs once, at the first
// tick, that is once the loop runs inside whatever is being watched.
class StallProbe {
public:
    explicit StallProbe(std::function<void()> atFirstTick = {}) : m_first(std::move(atFirstTick)) {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_since.restart());
            if (m_first) std::exchange(m_first, {})();
        });
        m_since.start();
        m_timer.start();
    }
    qint64 LongestMs() const { return std::max(m_longest, m_since.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_since;
    qint64 m_longest = 0;
    std::function<void()> m_first;
};

}  // namespace gui
