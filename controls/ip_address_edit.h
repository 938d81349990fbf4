#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

// An IPv4 address entry of four fields of 0 to 255 in one edit frame, with
// the keyboard habits operators know from the desktop's address control: the
// caret moves on by itself after three digits, "." or space jumps to the next
// field, Backspace in an empty field and the arrow keys at a field's edge
// cross into the neighbouring field.
//
// The value is the 32-bit address in host byte order, first field in the
// most significant byte; a blank field reads as 0.
class CIpAddressEdit : public QFrame {
    Q_OBJECT

public:
    static constexpr int kFieldCount = 4;

    explicit CIpAddressEdit(QWidget* parent = nullptr);

    uint32_t Address() const;
    void SetAddress(uint32_t address);
    // Empties all four fields and leaves the address unset.
    void Clear();
    bool IsBlank() const;
    // Nothing was set or typed since Clear (or since the control was made):
    // the control holds no address at all. Fields the operator emptied hold
    // one, the blanks reading as 0.
    bool IsUnset() const { return m_unset; }

    // Gives `field` (0 to 3) the keyboard focus with its text selected, so
    // typing replaces it.
    void SetFieldFocus(int field);
    // The field that has, or last had, the focus within this control.
    int CurrentField() const;
    QLineEdit* Field(int field) const { return m_fields[field]; }

    // Names the control and its fields for assistive technology.
    void SetAccessibleLabel(const QString& label);

    QSize sizeHint() const override;

signals:
    void AddressChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    bool HasFocusWithin() const;
    int IndexOf(QObject* field) const;
    void OnFieldEdited(int field);
    void MoveCaretTo(int field, bool atEnd);

    std::array<QLineEdit*, kFieldCount> m_fields{};
    int m_currentField = 0;
    bool m_autoAdvanced = false;  // the last keystroke filled a field and moved on
    bool m_unset = true;
};
