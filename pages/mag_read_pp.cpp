#include "pages/mag_read_pp.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <algorithm>
#include <optional>
#include <string>

#include "controls/led_button.h"
#include "protocol/message_if.h"
#include "seams/wait_cursor.h"
#include "tasks/magstripe.h"

namespace {

// State 0 stays without an icon; the page never shows it.
constexpr unsigned kLedStateCount = 4;

// Template rows: one per track, each an edit box of three lines with its
// check box and LED centred beside it.
constexpr int kRowTop = 20;
constexpr int kRowPitch = 32;
constexpr int kRowHeight = 28;

QString IdName(const char* id) { return QString::fromLatin1(id); }

QString TrackName(int index) { return QStringLiteral("Track%1").arg(index + 1); }

QString LedDescription(cardread::TrackLed led) {
    switch (led) {
        case cardread::TrackLed::Off:
            return QStringLiteral("off");
        case cardread::TrackLed::Pass:
            return QStringLiteral("pass");
        case cardread::TrackLed::Fail:
            return QStringLiteral("fail");
    }
    return {};
}

}  // namespace

CMagReadPP::CMagReadPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Mag Read"), parent) {
    SetTemplateSize(348, 153);

    auto* group = new QGroupBox(tr("ISO data verification"), this);
    Place(group, 7, 7, 334, 112);

    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const int top = kRowTop + kRowPitch * i;
        m_select[i] = new QCheckBox(TrackName(i), this);
        m_select[i]->setObjectName(IdName(Id::kSelects[i]));
        Place(m_select[i], 16, top + 9, 38, 10);
    }
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const int top = kRowTop + kRowPitch * i;
        m_text[i] = new QPlainTextEdit(this);
        m_text[i]->setObjectName(IdName(Id::kTexts[i]));
        m_text[i]->setReadOnly(true);
        // Track data has long runs without blanks; break them anywhere.
        m_text[i]->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        m_text[i]->setAccessibleName(tr("%1 result").arg(TrackName(i)));
        Place(m_text[i], 58, top, 254, kRowHeight);
    }
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const int top = kRowTop + kRowPitch * i;
        m_led[i] = new CLedButton(this);
        m_led[i]->setObjectName(IdName(Id::kLeds[i]));
        m_led[i]->setAccessibleName(tr("%1 indicator").arg(TrackName(i)));
        m_led[i]->SetStateCount(kLedStateCount, true);
        m_led[i]->SetStateIcon(static_cast<unsigned>(cardread::TrackLed::Pass), ledicon::kGreen);
        m_led[i]->SetStateIcon(static_cast<unsigned>(cardread::TrackLed::Fail), ledicon::kRed);
        m_led[i]->SetStateIcon(static_cast<unsigned>(cardread::TrackLed::Off), ledicon::kDark);
        SetLed(i, cardread::TrackLed::Off);
        // About the icon's own size, on the group's own background.
        Place(m_led[i], 321, top + 9, 10, 10);
    }

    m_read = AddButton(tr("&Read"), Id::kRead);
    m_read->setDefault(true);
    Place(m_read, 229, 128, 54, 14);

    m_eject = AddButton(tr("Eject"), Id::kEject);
    Place(m_eject, 287, 128, 54, 14);

    connect(m_read, &QPushButton::clicked, this, &CMagReadPP::OnRead);
    connect(m_eject, &QPushButton::clicked, this, &CMagReadPP::OnEject);
}

void CMagReadPP::OnSetActive() {
    // Every page of the sheet shares one default button; on this tab it is
    // "Read".
    MakeDefault(m_read);
}

void CMagReadPP::SetLed(int index, cardread::TrackLed led) {
    m_led[index]->SetState(static_cast<unsigned>(led));
    m_led[index]->setAccessibleDescription(LedDescription(led));
}

void CMagReadPP::ClearTracks() {
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        m_text[i]->clear();
        SetLed(i, cardread::TrackLed::Off);
    }
}

void CMagReadPP::OnRead() {
    // The read blocks the page until the record is in; the operator sees the
    // old result go before it starts, not after.
    ClearTracks();
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        m_text[i]->repaint();
        m_led[i]->repaint();
    }

    uint8_t selection = 0;
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        if (m_select[i]->isChecked()) selection |= cardread::TrackBit(i + 1);
    }
    const magstripe::ReadResult result = magstripe::ReadCard(Msg(), Host(), selection);
    if (result.outcome == magstripe::ReadOutcome::Read) ShowTracks(result.view);
}

void CMagReadPP::ShowTracks(const cardread::CardReadView& view) {
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const cardread::TrackView& track = view.tracks[static_cast<size_t>(i)];
        m_text[i]->setPlainText(FromLatin1(track.text));
        SetLed(i, track.led);
    }
}

void CMagReadPP::OnEject() {
    magstripe::Eject(Msg());
    ClearTracks();
}
