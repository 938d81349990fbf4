#pragma once

#include <QColor>
#include <QPixmap>
#include <QPushButton>
#include <QString>
#include <cstdint>
#include <vector>

class QPainter;

// The LED icons among the program's resources, 16 by 16 pixels.
namespace ledicon {
inline constexpr int kRed = 140;
inline constexpr int kDark = 141;
inline constexpr int kGreen = 142;
}  // namespace ledicon

// A button that shows one of a fixed number of states, each with its own
// icon, caption colour and background, and draws itself entirely: the style
// never paints it, so it looks the same under every theme. Used as an LED
// beside a result; clicking it does nothing.
//
// Icon and caption are placed by alignment bits as button templates carry
// them: kLeftText puts the icon at the right edge and the caption before
// it; kRight sets the caption flush right, kCenter centres it.
class CLedButton : public QPushButton {
    Q_OBJECT

public:
    static constexpr uint32_t kLeftText = 0x20;
    static constexpr uint32_t kLeft = 0x100;
    static constexpr uint32_t kRight = 0x200;
    static constexpr uint32_t kCenter = kLeft | kRight;
    static constexpr uint32_t kAlignmentBits = kLeftText | kCenter;
    // Space between the icon and the caption area, in pixels.
    static constexpr int kCaptionGap = 3;
    static constexpr unsigned kInitialStateCount = 2;

    explicit CLedButton(QWidget* parent = nullptr);
    ~CLedButton() override;

    // Bits outside kAlignmentBits are ignored.
    void SetAlignment(uint32_t bits);
    uint32_t Alignment() const { return m_style; }

    // Starts over with `count` states, none with an icon, all in the system
    // colours: button text over no fill of their own. The current state
    // stays as it was, even when it is now out of range: the control then
    // paints those colours alone.
    void SetStateCount(unsigned count, bool repaint);
    // Gives `state` the icon with resource number `iconId`, scaled to
    // width x height (0 x 0: the icon's own size). False for a state out of
    // range, or when the icon cannot be loaded (the state is then without).
    bool SetStateIcon(unsigned state, int iconId, int width = 0, int height = 0);
    // Caption and background colours of one state, until the system colours
    // change; a transparent background shows what lies behind the control.
    // False for a state out of range.
    bool SetStateColors(unsigned state, const QColor& text, const QColor& background);
    // Shows `state` when it is in range and differs from the current one;
    // otherwise nothing happens, not even a repaint.
    void SetState(unsigned state);

    unsigned State() const { return m_state; }
    unsigned StateCount() const { return static_cast<unsigned>(m_states.size()); }
    bool HasIcon(unsigned state) const;

    // Where the icon with a resource number lives.
    static QString IconResource(int iconId);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Fills the control behind icon and caption; a derived control may draw
    // something else.
    virtual void PaintBackground(QPainter& painter, const QRect& area, const QColor& color);

private:
    struct LedData {
        QColor text;
        QColor background;
        QPixmap icon;  // null: the state has no icon
        int iconWidth = 0;
        int iconHeight = 0;
    };

    LedData SystemColours() const;

    // The state records; their number is the number of states.
    std::vector<LedData> m_states;
    unsigned m_state = 0;
    uint32_t m_style = 0;
};
