#pragma once

#include <array>

#include "pages/page_base.h"
#include "protocol/card_record.h"

class CLedButton;
class QCheckBox;
class QPlainTextEdit;
class QPushButton;

// The "Mag Read" page: the operator ticks tracks, the printer reads the card
// in it, and each track's text appears beside an LED: green when it decoded
// up to its end sentinel, red when it did not or the printer failed it.
class CMagReadPP : public CPageBase {
    Q_OBJECT

public:
    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        using Tracks = std::array<const char*, cardread::kTrackCount>;
        static constexpr const char* kEject = "1136";
        static constexpr const char* kRead = "1137";
        static constexpr Tracks kTexts = {"1138", "1139", "1140"};
        static constexpr Tracks kSelects = {"1141", "1142", "1143"};
        static constexpr Tracks kLeds = {"1144", "1145", "1146"};
    };

    explicit CMagReadPP(const PageContext& context, QWidget* parent = nullptr);

protected:
    void OnSetActive() override;

private:
    void OnRead();
    void OnEject();
    // Empties the track boxes and turns the LEDs off.
    void ClearTracks();
    void SetLed(int index, cardread::TrackLed led);
    void ShowTracks(const cardread::CardReadView& view);

    std::array<QCheckBox*, cardread::kTrackCount> m_select{};
    std::array<QPlainTextEdit*, cardread::kTrackCount> m_text{};
    std::array<CLedButton*, cardread::kTrackCount> m_led{};
    QPushButton* m_read = nullptr;
    QPushButton* m_eject = nullptr;
};
