// The LED indicator button, rendered offscreen and judged by its pixels.

#include "controls/led_button.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGroupBox>
#include <QImage>
#include <QPalette>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "gui_helpers.h"

namespace {

// The LED drawing: . transparent, k black, g grey, W white, C the LED colour.
const char* const kLedMap[16] = {
    ".....kkkkk......", "...kkgggggkk....", "..kggCCCCCggk...", ".kgCCCCCCCCCgk..",
    ".kgCCCWWCCCCgk..", "kgCCCWWCCCCCCgk.", "kgCCWWCCCCCCCgk.", "kgCCWCCCCCCCCgk.",
    "kgCCCCCCCCCCCgk.", "kgCCCCCCCCCCCgk.", ".kgCCCCCCCCCgk..", ".kgCCCCCCCCCgk..",
    "..kggCCCCCggk...", "...kkgggggkk....", ".....kkkkk......", "................",
};

const QRgb kRed = qRgb(255, 0, 0);
const QRgb kGreen = qRgb(0, 255, 0);
const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kFace = qRgb(200, 210, 220);
const QRgb kInk = qRgb(0, 0, 0);

// A point well inside the LED colour of the map, and one that is transparent.
constexpr QPoint kLedInside(8, 8);
constexpr QPoint kLedCorner(0, 0);

QImage Render(CLedButton& led) {
    QImage image(led.size(), QImage::Format_RGB32);
    image.fill(Qt::magenta);
    led.render(&image);
    return image;
}

// An indicator as the Mag Read page sets it up: off, pass, fail, with a
// plain face colour so the background is easy to tell apart.
void SetUpTrackLed(CLedButton& led) {
    led.SetStateCount(4, true);
    ASSERT_TRUE(led.SetStateIcon(2, ledicon::kGreen));
    ASSERT_TRUE(led.SetStateIcon(3, ledicon::kRed));
    ASSERT_TRUE(led.SetStateIcon(1, ledicon::kDark));
    for (unsigned state = 0; state < 4; ++state) {
        ASSERT_TRUE(led.SetStateColors(state, QColor(kInk), QColor(kFace)));
    }
}

// Paint events the control receives while `action` runs and the event loop
// catches up.
int PaintsDuring(QWidget& widget, const std::function<void()>& action) {
    QApplication::processEvents();
    gui::PaintCounter counter;
    widget.installEventFilter(&counter);
    action();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    widget.removeEventFilter(&counter);
    return counter.paints;
}

// The bounding box of the pixels in `area` that `match` picks.
std::optional<QRect> Ink(const QImage& image, const QRect& area,
                         const std::function<bool(QRgb)>& match) {
    std::optional<QRect> box;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if (!match(image.pixel(x, y))) continue;
            box = box ? box->united(QRect(x, y, 1, 1)) : QRect(x, y, 1, 1);
        }
    }
    return box;
}

std::optional<QRect> InkOf(const QImage& image, QRgb color, const QRect& area) {
    return Ink(image, area, [color](QRgb pixel) { return pixel == (color | 0xFF000000u); });
}

// True when every pixel of the image is `color`.
bool Plain(const QImage& image, QRgb color) {
    return !Ink(image, image.rect(), [color](QRgb pixel) {
                return pixel != (color | 0xFF000000u);
            }).has_value();
}

// Each icon drawn exactly from its pixel map at one edge, centred
// vertically, with the face colour wherever the map is transparent.
TEST(LedButton, IconsAreDrawnFromTheirMapsAtOneEdgeCentredVertically) {
    struct Case {
        const char* name;
        uint32_t alignment;
        QSize size;
        QPoint iconAt;  // top-left of the 16 by 16 icon
        unsigned state;
        QRgb ledColour;
    };
    const std::vector<Case> cases = {
        {"icon left", 0, QSize(40, 30), QPoint(0, 7), 3, kRed},
        {"icon right with left text", CLedButton::kLeftText, QSize(40, 30), QPoint(24, 7), 2,
         kGreen},
        {"caption alignment does not move it", CLedButton::kCenter, QSize(40, 30), QPoint(0, 7), 1,
         kBlack},
        {"odd heights round toward zero", 0, QSize(40, 31), QPoint(0, 7), 3, kRed},
        {"taller than the control", 0, QSize(40, 10), QPoint(0, -3), 3, kRed},
        {"taller, at the right", CLedButton::kLeftText | CLedButton::kRight, QSize(20, 11),
         QPoint(4, -2), 3, kRed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CLedButton led;
        ASSERT_NO_FATAL_FAILURE(SetUpTrackLed(led));
        led.SetAlignment(c.alignment);
        led.resize(c.size);
        led.SetState(c.state);
        const QImage image = Render(led);
        for (int y = 0; y < c.size.height(); ++y) {
            for (int x = 0; x < c.size.width(); ++x) {
                const QPoint at = QPoint(x, y) - c.iconAt;
                const char code = QRect(0, 0, 16, 16).contains(at) ? kLedMap[at.y()][at.x()] : '.';
                const QRgb expected = code == '.'   ? kFace
                                      : code == 'k' ? kBlack
                                      : code == 'g' ? qRgb(128, 128, 128)
                                      : code == 'W' ? qRgb(255, 255, 255)
                                                    : c.ledColour;
                ASSERT_EQ(image.pixel(x, y), expected | 0xFF000000u)
                    << x << "," << y << " '" << code << "'";
            }
        }
    }
}

TEST(LedButton, EachStatePaintsItsOwnIconAndBackground) {
    CLedButton led;
    EXPECT_EQ(led.StateCount(), 2u);
    EXPECT_EQ(led.State(), 0u);
    ASSERT_NO_FATAL_FAILURE(SetUpTrackLed(led));
    led.resize(30, 16);
    // A state's own background (the icons themselves are checked above).
    ASSERT_TRUE(led.SetStateColors(2, QColor(kInk), QColor(Qt::yellow)));
    led.SetState(2);
    EXPECT_EQ(Render(led).pixel(kLedCorner), QColor(Qt::yellow).rgb());
    EXPECT_EQ(Render(led).pixel(29, 15), QColor(Qt::yellow).rgb());
    // State 0 never got an icon: the background alone.
    led.SetState(0);
    QImage image = Render(led);
    EXPECT_TRUE(Plain(image, kFace));

    EXPECT_FALSE(led.SetStateIcon(4, ledicon::kRed));
    EXPECT_FALSE(led.SetStateColors(4, Qt::red, Qt::red));
    EXPECT_FALSE(led.SetStateIcon(1, 999));  // no such icon
    EXPECT_FALSE(led.HasIcon(1));
    led.SetState(3);
    led.SetState(4);
    EXPECT_EQ(led.State(), 3u);

    // Fewer states than the current one: the control keeps its state and
    // paints in the button colours, without an icon, until a valid one.
    led.SetStateCount(2, true);
    EXPECT_EQ(led.State(), 3u);
    image = Render(led);
    const QRgb face = led.palette().color(QPalette::Button).rgb();
    EXPECT_TRUE(Plain(image, face));

    led.SetState(1);
    EXPECT_EQ(led.State(), 1u);
}

TEST(LedButton, SettingTheCurrentStateAgainDoesNotRepaint) {
    CLedButton led;
    ASSERT_NO_FATAL_FAILURE(SetUpTrackLed(led));
    led.resize(30, 20);
    led.SetState(1);
    led.show();
    // The first showing paints on its own.
    ASSERT_GE(PaintsDuring(led, [] {}), 1);
    EXPECT_EQ(PaintsDuring(led, [&] { led.SetState(1); }), 0);
    EXPECT_EQ(PaintsDuring(led, [&] { led.SetState(9); }), 0);
    EXPECT_GE(PaintsDuring(led, [&] { led.SetState(2); }), 1);
    EXPECT_GE(PaintsDuring(led, [&] { led.SetStateCount(4, true); }), 1);
    EXPECT_EQ(PaintsDuring(led, [&] { led.SetStateCount(4, false); }), 0);
}

TEST(LedButton, CaptionIsPlacedByTheAlignmentBits) {
    struct Case {
        const char* name;
        uint32_t alignment;
        // Where the ink must lie horizontally: [from, to] inclusive, and the
        // centre within 3 pixels of `centre` (when given).
        int from;
        int to;
        std::optional<int> centre;
        bool flushRight;
    };
    // 160 by 30 with a 16-pixel icon: the caption area is [19, 160) with the
    // icon at the left, [0, 141) with it at the right.
    const std::vector<Case> cases = {
        {"left", 0, 19, 159, std::nullopt, false},
        {"right", CLedButton::kRight, 19, 159, std::nullopt, true},
        {"centre", CLedButton::kCenter, 19, 159, (19 + 160) / 2, false},
        {"left text", CLedButton::kLeftText, 0, 140, std::nullopt, false},
        {"left text, right", CLedButton::kLeftText | CLedButton::kRight, 0, 140, std::nullopt,
         true},
        {"left text, centre", CLedButton::kLeftText | CLedButton::kCenter, 0, 140, 141 / 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CLedButton led;
        ASSERT_NO_FATAL_FAILURE(SetUpTrackLed(led));
        led.SetAlignment(c.alignment);
        led.setText(QStringLiteral("HIMH"));
        led.resize(160, 30);
        led.SetState(2);
        const int iconLeft = c.alignment & CLedButton::kLeftText ? 144 : 0;
        const QImage image = Render(led);
        const std::optional<QRect> ink =
            Ink(image, QRect(iconLeft == 0 ? 16 : 0, 0, 144, 30),
                [](QRgb pixel) { return pixel != (kFace | 0xFF000000u); });
        ASSERT_TRUE(ink.has_value());
        EXPECT_GE(ink->left(), c.from);
        EXPECT_LE(ink->right(), c.to);
        // Text starts near its area's edge unless placed otherwise.
        if (c.centre) {
            EXPECT_NEAR((ink->left() + ink->right()) / 2, *c.centre, 3);
        } else if (c.flushRight) {
            EXPECT_GE(ink->right(), c.to - 3);
        } else {
            EXPECT_LE(ink->left(), c.from + 3);
        }
        EXPECT_NEAR((ink->top() + ink->bottom()) / 2, 15, 3);
    }
}

TEST(LedButton, DisabledShowsAGreyedIconAndAnEmbossedCaption) {
    CLedButton led;
    ASSERT_NO_FATAL_FAILURE(SetUpTrackLed(led));
    QPalette palette = led.palette();
    palette.setColor(QPalette::Light, QColor(255, 255, 0));
    palette.setColor(QPalette::Dark, QColor(0, 0, 255));
    palette.setColor(QPalette::Button, QColor(kFace));
    led.setPalette(palette);
    led.setText(QStringLiteral("HIMH"));
    led.resize(100, 30);
    led.SetState(3);

    QImage image = Render(led);
    EXPECT_FALSE(InkOf(image, qRgb(255, 255, 0), image.rect()).has_value());

    led.setEnabled(false);
    image = Render(led);
    const QRgb greyed = image.pixel(kLedInside + QPoint(0, 7));
    EXPECT_NE(greyed, kRed | 0xFF000000u);
    EXPECT_NEAR(qRed(greyed), qGreen(greyed), 24);
    EXPECT_NEAR(qGreen(greyed), qBlue(greyed), 24);

    const QRect captionArea(19, 0, 81, 30);
    const std::optional<QRect> highlight = InkOf(image, qRgb(255, 255, 0), captionArea);
    const std::optional<QRect> shadow = InkOf(image, qRgb(0, 0, 255), captionArea);
    ASSERT_TRUE(highlight.has_value());
    ASSERT_TRUE(shadow.has_value());
    // The highlight shows one pixel right of and below the shadow.
    EXPECT_EQ(highlight->right(), shadow->right() + 1);
    EXPECT_EQ(highlight->bottom(), shadow->bottom() + 1);
}

TEST(LedButton, ChangedSystemColoursRepaintEveryState) {
    CLedButton led;
    ASSERT_NO_FATAL_FAILURE(SetUpTrackLed(led));
    led.resize(30, 20);
    led.SetState(2);
    led.show();
    PaintsDuring(led, [] {});

    struct RestorePalette {
        QPalette saved = QApplication::palette();
        ~RestorePalette() { QApplication::setPalette(saved); }
    } restore;
    QPalette changed = restore.saved;
    changed.setColor(QPalette::Window, QColor(0, 128, 128));
    EXPECT_GE(PaintsDuring(led, [&] { QApplication::setPalette(changed); }), 1);

    // Every state, not only the current one, gave up its own face for the
    // system's: no fill, so what lies behind the control (here the window
    // colour a lone control is drawn on) shows.
    for (unsigned state : {2u, 0u, 3u}) {
        led.SetState(state);
        EXPECT_EQ(Render(led).pixel(29, 19), qRgb(0, 128, 128)) << "state " << state;
    }
}

// On a group box the LED's rim is the group's own shading: no tile of a
// button colour shows around the icon, however large the control.
TEST(LedButton, ShowsTheSurfaceItSitsOnAroundItsIcon) {
    for (const int side : {17, 26}) {
        QGroupBox group(QStringLiteral("Tracks"));
        group.resize(160, 100);
        auto* led = new CLedButton(&group);
        led->SetStateCount(3, true);
        ASSERT_TRUE(led->SetStateIcon(2, ledicon::kGreen));
        led->SetState(2);
        led->setGeometry(100, 50, side, side);
        group.show();
        const QImage lit = group.grab().toImage();
        led->hide();
        const QImage bare = group.grab().toImage();

        const QPoint icon = led->geometry().topLeft() + QPoint(0, (side - 16) / 2);
        EXPECT_EQ(lit.pixel(icon + kLedInside), kGreen | 0xFF000000u);
        int differing = 0;  // outside the LED's own drawing
        for (int y = 50; y < 50 + side; ++y) {
            for (int x = 100; x < 100 + side; ++x) {
                const QPoint at = QPoint(x, y) - icon;
                const bool drawn =
                    QRect(0, 0, 16, 16).contains(at) && kLedMap[at.y()][at.x()] != '.';
                if (!drawn && lit.pixel(x, y) != bare.pixel(x, y)) ++differing;
            }
        }
        EXPECT_EQ(differing, 0) << "side " << side;
    }
}

}  // namespace
