#include "pages/mag_encoding_pp.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>
#include <string>

#include "protocol/command_table.h"
#include "protocol/message_if.h"
#include "seams/host_services.h"

namespace {

// The page's template in dialog units.
constexpr int kWidth = 348;
constexpr int kHeight = 158;

constexpr int kLatin1Last = 0xFF;

// Track texts go to the printer as 8-bit characters. A character that has no
// 8-bit form would reach the stripe as "?", the end sentinel, so it is
// refused as it is typed, and so is one the track may not hold (a control
// character, pasted in, could end the encode frame early). Track 1 takes letters in capitals only
// (its six-bit code has no small letters), converted as the operator types.
class TrackValidator : public QValidator {
public:
    TrackValidator(bool capitals, QObject* parent) : QValidator(parent), m_capitals(capitals) {}

    State validate(QString& input, int&) const override {
        for (QChar& c : input) {
            if (c.unicode() > kLatin1Last ||
                !magstripe::IsTrackCharacter(static_cast<char>(c.unicode()))) {
                return Invalid;
            }
            if (!m_capitals) continue;
            // Some small letters have capitals outside the 8-bit range
            // (y with diaeresis); those stay as typed.
            const QChar upper = c.toUpper();
            if (upper.unicode() <= kLatin1Last) c = upper;
        }
        return Acceptable;
    }

private:
    bool m_capitals;
};

struct TrackRow {
    const char* tickId;
    const char* tickText;
    const char* startSentinel;  // as the printer's encode field shows it
    const char* dataId;
};

using Id = CMagEncodingPP::Id;
constexpr TrackRow kRows[CMagEncodingPP::kTrackCount] = {
    {Id::kTrackTicks[0], "Track1", "~1,%", Id::kTrackData[0]},
    {Id::kTrackTicks[1], "Track2", "~2,;", Id::kTrackData[1]},
    {Id::kTrackTicks[2], "Track3", "~3,;", Id::kTrackData[2]},
};

}  // namespace

CMagEncodingPP::CMagEncodingPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Mag Encode"), parent) {
    SetTemplateSize(kWidth, kHeight);

    m_selfTest = AddButton(tr("Self Test Magnetic Encode"), Id::kSelfTest);
    Place(m_selfTest, 7, 7, 110, 14);
    connect(m_selfTest, &QPushButton::clicked, this, &CMagEncodingPP::OnSelfTest);

    auto* frame = new QGroupBox(tr("Direct Magnetic Encoding"), this);
    Place(frame, 7, 28, 334, 123);

    QLabel* hint = AddLabel(tr("<Enter data only>"), nullptr);
    // Shown as written, not read as markup.
    hint->setTextFormat(Qt::PlainText);
    Place(hint, 92, 45, 90, 9);

    for (int track = 0; track < kTrackCount; ++track) {
        const TrackRow& row = kRows[track];
        const int y = 57 + 19 * track;

        auto* tick = new QCheckBox(QString::fromLatin1(row.tickText), this);
        tick->setObjectName(QString::fromLatin1(row.tickId));
        Place(tick, 15, y, 46, 13);
        m_trackSelected[track] = tick;

        QLabel* start = AddLabel(QString::fromLatin1(row.startSentinel), nullptr);
        start->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        Place(start, 64, y, 24, 13);

        QLineEdit* data = AddEdit(row.dataId, false);
        data->setMaxLength(kTrackLimits[track]);
        data->setValidator(new TrackValidator(track == 0, data));
        data->setAccessibleName(tr("%1 data").arg(tick->text()));
        Place(data, 90, y, 226, 13);
        m_trackData[track] = data;

        QLabel* end = AddLabel(QStringLiteral("?"), nullptr);
        end->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        Place(end, 319, y, 8, 13);
    }

    m_highCoercivity = new QCheckBox(tr("Hi Co"), this);
    m_highCoercivity->setObjectName(QString::fromLatin1(Id::kHighCoercivity));
    Place(m_highCoercivity, 15, 126, 46, 10);

    m_encode = AddButton(tr("Encode"), Id::kEncode);
    Place(m_encode, 266, 124, 66, 14);
    connect(m_encode, &QPushButton::clicked, this, &CMagEncodingPP::OnEncode);
}

void CMagEncodingPP::OnEncode() {
    magstripe::EncodeRequest request;
    for (int track = 0; track < kTrackCount; ++track) {
        const size_t i = static_cast<size_t>(track);
        request.selected[i] = m_trackSelected[track]->isChecked();
        request.text[i] = ToLatin1(m_trackData[track]->text());
    }
    request.highCoercivity = m_highCoercivity->isChecked();
    magstripe::Encode(Msg(), Host(), request);
}

void CMagEncodingPP::OnSelfTest() { magstripe::SelfTest(Msg()); }
