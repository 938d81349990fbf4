#include "pages/printer_identity_pp.h"

#include <QEvent>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <algorithm>
#include <iterator>

#include "links/program_state.h"
#include "protocol/message_if.h"
#include "seams/wait_cursor.h"
#include "tasks/identity.h"

namespace {

constexpr int kCommsPageIndex = 0;

// The template in dialog units.
constexpr int kWidth = 337;
constexpr int kHeight = 140;
constexpr int kEditHeight = 12;
constexpr int kButtonWidth = 60;
constexpr int kButtonHeight = 14;
constexpr int kFirstRow = 21;
constexpr int kRowPitch = 16;

// Only digits may be typed or pasted into a setting. A value the printer
// reported with other characters is still shown as it came, and the keys are
// refused while it is edited (a validator alone lets anything through once
// the text already fails it).
class CDigitKeyFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress) {
            const QString typed = static_cast<QKeyEvent*>(event)->text();
            const bool refused = std::any_of(typed.begin(), typed.end(), [](QChar c) {
                return c.isPrint() && (c < QLatin1Char('0') || c > QLatin1Char('9'));
            });
            if (refused) return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// The first pixel row a group box paints away from its caption: where its
// frame begins.
int FrameTop(QGroupBox* box) {
    const QImage image = box->grab().toImage();
    const int x = image.width() * 3 / 4;
    const QRgb background = image.pixel(x, 0);
    for (int y = 1; y < image.height(); ++y) {
        if (image.pixel(x, y) != background) return qRound(y / image.devicePixelRatio());
    }
    return 0;
}

}  // namespace

CPrinterIdentityPP::CPrinterIdentityPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Printer Identity"), parent) {
    SetTemplateSize(kWidth, kHeight);

    // Group boxes first, so the controls placed over them stay on top.
    auto* identityGroup = new QGroupBox(this);
    Place(identityGroup, 7, 7, 165, 82);
    auto* configGroup = new QGroupBox(tr("Configuration"), this);
    Place(configGroup, 180, 7, 150, 126);
    // The style draws a captioned frame below its caption; the uncaptioned
    // one starts that much lower so the two frames share a top edge.
    NudgePlacement(identityGroup,
                   QMargins(0, FrameTop(configGroup) - FrameTop(identityGroup), 0, 0));

    struct Row {
        QLineEdit*& edit;
        const char* id;
        QString label;
    };
    const Row identityRows[] = {
        {m_serial, Id::kSerialNumber, tr("Serial Number:")},
        {m_model, Id::kModel, tr("Model:")},
        {m_version, Id::kFirmwareVersion, tr("Firmware Version:")},
        {m_productId, Id::kProductId, tr("Product ID:")},
    };
    // Both columns share their rows.
    int y = kFirstRow;
    for (const Row& row : identityRows) {
        row.edit = AddEdit(row.id, true);
        Place(AddLabel(row.label, row.edit), 15, y + 2, 64, 8);
        Place(row.edit, 82, y, 82, kEditHeight);
        y += kRowPitch;
    }

    m_refresh = AddButton(tr("Refresh"), Id::kRefresh);
    Place(m_refresh, 60, 109, kButtonWidth, kButtonHeight);

    const Row settingRows[] = {
        {m_imageStart, Id::kImageStart, tr("Image Start:")},
        {m_imageEnd, Id::kImageEnd, tr("Image End:")},
        {m_density, Id::kDensity, tr("Printhead Density:")},
        {m_position, Id::kPosition, tr("Printhead Position:")},
    };
    auto* digitFilter = new CDigitKeyFilter(this);
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    y = kFirstRow;
    for (const Row& row : settingRows) {
        row.edit = AddEdit(row.id, false);
        row.edit->setValidator(new QRegularExpressionValidator(digits, row.edit));
        row.edit->installEventFilter(digitFilter);
        Place(AddLabel(row.label, row.edit), 188, y + 2, 72, 8);
        Place(row.edit, 262, y, 60, kEditHeight);
        // Typed or written by a refresh, a changed setting is what Enter
        // should save next.
        connect(row.edit, &QLineEdit::textChanged, this, [this] { SetDefaultButton(m_save); });
        y += kRowPitch;
    }

    m_save = AddButton(tr("Save"), Id::kSave);
    Place(AddLabel(tr("Save new settings:"), m_save), 188, 91, 72, 8);
    Place(m_save, 262, 88, kButtonWidth, kButtonHeight);

    m_reset = AddButton(tr("Reset"), Id::kReset);
    Place(AddLabel(tr("Reset to original\nfactory settings:"), m_reset), 188, 107, 72, 18);
    Place(m_reset, 262, 109, kButtonWidth, kButtonHeight);

    connect(m_refresh, &QPushButton::clicked, this, &CPrinterIdentityPP::OnRefreshClicked);
    connect(m_save, &QPushButton::clicked, this, &CPrinterIdentityPP::OnSave);
    connect(m_reset, &QPushButton::clicked, this, &CPrinterIdentityPP::OnReset);

    SetDefaultButton(m_refresh);
}

void CPrinterIdentityPP::OnInitDialog() { Refresh(); }

void CPrinterIdentityPP::OnSetActive() { Refresh(); }

void CPrinterIdentityPP::showEvent(QShowEvent* event) {
    CPageBase::showEvent(event);
    // The sheet's pages share one dialog and with it one default button;
    // while another page was shown it may have taken that role.
    SetDefaultButton(m_defaultButton);
}

void CPrinterIdentityPP::SetDefaultButton(QPushButton* button) {
    m_defaultButton = button;
    // A hidden page (one replaced by a reconnect while its handler still
    // runs) must not take the default from the page the operator sees.
    if (!isVisible()) return;
    for (QPushButton* other : {m_refresh, m_save}) {
        if (other != button) other->setDefault(false);
    }
    MakeDefault(button);
}

void CPrinterIdentityPP::Refresh() {
    // A model code 10 names the printer as the USB selection saw it when
    // the refresh began.
    const std::string oemName = State().oemModelName;
    identity::View view;
    {
        WaitCursor busy(Host());
        view = identity::Read(Msg(), oemName);
    }
    const std::pair<QLineEdit*, const std::string*> fields[] = {
        {m_serial, &view.serial},
        {m_version, &view.version},
        {m_productId, &view.productId},
        {m_density, &view.settings.density},
        {m_imageStart, &view.settings.imageStart},
        {m_imageEnd, &view.settings.imageEnd},
        {m_position, &view.settings.position},
    };
    for (const auto& [edit, text] : fields) edit->setText(FromLatin1(*text));
    // Every setting the refresh writes counts as a change, also one that
    // came back the same: what Enter saves next is what now stands here.
    SetDefaultButton(m_save);
    // Printers that do not report a model keep the last one shown.
    if (view.model) m_model->setText(FromLatin1(*view.model));
}

void CPrinterIdentityPP::OnRefreshClicked() {
    Refresh();
    SetDefaultButton(m_refresh);
}

void CPrinterIdentityPP::OnSave() {
    identity::Save(Msg(), Host(),
                   {ToLatin1(m_density->text()), ToLatin1(m_imageStart->text()),
                    ToLatin1(m_imageEnd->text()), ToLatin1(m_position->text())});
    // Show what the printer now holds, not what was typed.
    Refresh();
}

void CPrinterIdentityPP::OnReset() {
    if (identity::Reset(Msg(), Host()) != identity::ResetResult::Sent) return;
    // The printer restarts: back to the port choice, which takes the
    // feature pages away until the operator connects again.
    Sheet().SetActivePage(kCommsPageIndex);
}
