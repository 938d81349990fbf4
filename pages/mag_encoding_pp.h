#pragma once

#include <array>

#include "pages/page_base.h"
#include "tasks/magstripe.h"

class QCheckBox;
class QLineEdit;
class QPushButton;

// The "Mag Encode" page: the operator types up to three magnetic-stripe
// tracks and has the printer encode them on the card it holds, or starts the
// printer's own encoding self test. The encode command itself is built by
// the protocol object.
class CMagEncodingPP : public CPageBase {
    Q_OBJECT

public:
    static constexpr int kTrackCount = 3;
    // ISO/IEC 7811 track capacities (79, 40 and 107 characters) less start
    // sentinel, end sentinel and check character. They also keep the longest
    // encode command within the 262 bytes the printer accepts.
    static constexpr std::array<int, kTrackCount> kTrackLimits = magstripe::kTrackLimits;
    static constexpr const char* kNoTracksText = magstripe::kNoTracksText;

    // The controls' ids: their object names, by which tests and the
    // accessibility tree find them.
    struct Id {
        static constexpr const char* kSelfTest = "1104";
        static constexpr const char* kEncode = "1130";
        static constexpr std::array<const char*, kTrackCount> kTrackTicks = {"1131", "1132",
                                                                             "1133"};
        static constexpr std::array<const char*, kTrackCount> kTrackData = {"1134", "1136", "1137"};
        static constexpr const char* kHighCoercivity = "1152";
    };

    explicit CMagEncodingPP(const PageContext& context, QWidget* parent = nullptr);

private:
    void OnEncode();
    void OnSelfTest();

    std::array<QCheckBox*, kTrackCount> m_trackSelected{};
    std::array<QLineEdit*, kTrackCount> m_trackData{};
    QCheckBox* m_highCoercivity = nullptr;
    QPushButton* m_encode = nullptr;
    QPushButton* m_selfTest = nullptr;
};
