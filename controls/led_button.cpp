#include "controls/led_button.h"

#include <QEvent>
#include <QFontMetrics>
#include <QIcon>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>

// The icons are compiled into this static library; a resource that nothing
// references would be dropped by the linker. (Outside any namespace, as the
// registration function it declares lives in the global one.)
static void EnsureIconResources() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(led_icons);
        return true;
    }();
    (void)registered;
}

CLedButton::CLedButton(QWidget* parent) : QPushButton(parent) {
    EnsureIconResources();
    // An indicator, not a control: no focus, and never the button that
    // Enter presses.
    setFocusPolicy(Qt::NoFocus);
    setAutoDefault(false);
    setDefault(false);
    m_states.assign(kInitialStateCount, SystemColours());
}

CLedButton::~CLedButton() = default;

QString CLedButton::IconResource(int iconId) { return QStringLiteral(":/icons/%1").arg(iconId); }

void CLedButton::SetAlignment(uint32_t bits) {
    m_style = bits & kAlignmentBits;
    update();
}

CLedButton::LedData CLedButton::SystemColours() const {
    LedData data;
    data.text = palette().color(QPalette::ButtonText);
    // No face of its own: an LED shows the surface it sits on, whose shading
    // (a group box's, say) a plain button colour would cut a tile out of.
    data.background = QColor(Qt::transparent);
    return data;
}

void CLedButton::SetStateCount(unsigned count, bool repaint) {
    m_states.assign(count, SystemColours());
    if (repaint) update();
}

bool CLedButton::SetStateIcon(unsigned state, int iconId, int width, int height) {
    if (state >= m_states.size()) return false;
    LedData& data = m_states[state];
    data.icon = QPixmap();
    data.iconWidth = 0;
    data.iconHeight = 0;

    QPixmap icon(IconResource(iconId));
    if (icon.isNull()) return false;
    if (width > 0 && height > 0 && icon.size() != QSize(width, height)) {
        icon = icon.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    data.icon = icon;
    data.iconWidth = icon.width();
    data.iconHeight = icon.height();
    return true;
}

bool CLedButton::SetStateColors(unsigned state, const QColor& text, const QColor& background) {
    if (state >= m_states.size()) return false;
    m_states[state].text = text;
    m_states[state].background = background;
    if (state == m_state) update();
    return true;
}

void CLedButton::SetState(unsigned state) {
    if (state == m_state || state >= m_states.size()) return;
    m_state = state;
    update();
}

bool CLedButton::HasIcon(unsigned state) const {
    return state < m_states.size() && !m_states[state].icon.isNull();
}

void CLedButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    // The system colours changed (or someone set ours): every state goes back
    // to the system colours.
    if (event->type() == QEvent::PaletteChange) {
        const LedData colours = SystemColours();
        for (LedData& data : m_states) {
            data.text = colours.text;
            data.background = colours.background;
        }
        update();
    }
}

void CLedButton::PaintBackground(QPainter& painter, const QRect& area, const QColor& color) {
    painter.fillRect(area, color);
}

void CLedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const bool disabled = !isEnabled();
    const QRect item = rect();

    const bool valid = m_state < m_states.size();
    const LedData data = valid ? m_states[m_state] : SystemColours();
    PaintBackground(painter, item, data.background);

    // Icon at one edge, vertically centred (above the top when taller than
    // the control); the caption takes the rest, kCaptionGap away from it.
    int captionLeft = item.left();
    int captionRight = item.left() + item.width();  // exclusive
    int iconLeft = 0;
    if (m_style & kLeftText) {
        iconLeft = captionRight - data.iconWidth;
        captionRight = iconLeft - kCaptionGap;
    } else {
        iconLeft = item.left();
        captionLeft = iconLeft + data.iconWidth + kCaptionGap;
    }
    const int iconTop = item.top() + (item.height() - data.iconHeight) / 2;

    if (!data.icon.isNull()) {
        const QRect target(iconLeft, iconTop, data.iconWidth, data.iconHeight);
        if (disabled) {
            QStyleOption option;
            option.initFrom(this);
            painter.drawPixmap(target,
                               style()->generatedIconPixmap(QIcon::Disabled, data.icon, &option));
        } else {
            painter.drawPixmap(target, data.icon);
        }
    }

    const QString caption = text();
    if (caption.isEmpty() || captionRight <= captionLeft) return;

    int flags = Qt::TextWordWrap | Qt::TextShowMnemonic | Qt::AlignVCenter;
    const uint32_t horizontal = m_style & kCenter;
    if (horizontal == kCenter) {
        flags |= Qt::AlignHCenter;
    } else if (horizontal == kRight) {
        flags |= Qt::AlignRight;
    } else {
        flags |= Qt::AlignLeft;
    }
    const QRect area(captionLeft, item.top(), captionRight - captionLeft, item.height());
    const QSize measured =
        painter.fontMetrics()
            .boundingRect(QRect(0, 0, area.width(), area.height()), flags, caption)
            .size();
    int left = area.left();
    if (horizontal == kCenter) {
        left += (area.width() - measured.width()) / 2;
    } else if (horizontal == kRight) {
        left = area.left() + area.width() - measured.width();
    }
    const int top = area.top() + (area.height() - measured.height()) / 2;
    const QRect place(QPoint(left, top), measured);

    if (disabled) {
        // Embossed: a highlight one pixel down and right under the shadow.
        painter.setPen(palette().color(QPalette::Light));
        painter.drawText(place.translated(1, 1), flags, caption);
        painter.setPen(palette().color(QPalette::Dark));
        painter.drawText(place, flags, caption);
    } else {
        painter.setPen(data.text);
        painter.drawText(place, flags, caption);
    }
}
