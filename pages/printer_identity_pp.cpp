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

namespace {

constexpr int kCommsPageIndex = 0;
// The settings are read back into a 64-byte area before they are joined.
constexpr int kSettingTextLimit = 63;
// The product ID is read back from its field through a 10-byte area.
constexpr int kProductIdDigits = 9;
// The printer takes each setting more slowly than its modify request admits.
constexpr int kSettingPauseMs = 200;
// Time for the printer to start its reset before the operator is told.
constexpr int kResetPauseMs = 500;

constexpr int32_t kOemModelCode = 10;
constexpr int32_t kFirstSpecialCode = 101;
constexpr int32_t kLastSpecialCode = 120;
constexpr int32_t kSpecialCodeBase = 100;
// Model codes 0 to 9, by code.
constexpr const char* kModelNames[] = {
    "Standard", "Kestrel Vista", "ZEF",   "Custom Logo", "Bastion Mifare",
    "Quill",    "Quill Mag",     "Sable", "Sable Mag",   "Halden",
};

constexpr const char* kResetQuestion =
    "This command will set the printer configuration to default values.\n"
    "Are you sure you wish to do this?";
constexpr const char* kReconnectNotice = "Please allow the printer to reset before reconnecting";

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

std::string LimitedText(const QLineEdit* edit) {
    return ToLatin1(edit->text().left(kSettingTextLimit));
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

QString CPrinterIdentityPP::ModelLabel(int32_t code, const std::string& oemName) {
    if (code >= 0 && code < static_cast<int32_t>(std::size(kModelNames))) {
        return QString::fromLatin1(kModelNames[code]);
    }
    if (code == kOemModelCode) return FromLatin1(oemName);
    if (code >= kFirstSpecialCode && code <= kLastSpecialCode) {
        return QString::asprintf("Special %d", code - kSpecialCodeBase);
    }
    return QString::asprintf("Unassigned - %d", code);
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
    WaitCursor busy(Host());

    // Each page decides between request variants by the family, so learn it
    // afresh: the printer on the link may have changed since the connect.
    Msg().DetectPrinterFamily();

    CLineEditText serial(*m_serial);
    Msg().ShowStatus(cmd::MSR, serial);
    CLineEditText version(*m_version);
    Msg().ShowStatus(cmd::VRS, version);

    CLineEditText productId(*m_productId);
    Msg().ShowStatus(cmd::PID, productId);
    const int32_t id = CMessageIF::ToInteger(ToLatin1(m_productId->text().left(kProductIdDigits)));
    m_productId->setText(QString::asprintf("0x%04X", static_cast<unsigned>(id)));

    CLineEditText density(*m_density);
    Msg().ShowStatus(cmd::FDC, density);
    CLineEditText imageStart(*m_imageStart);
    Msg().ShowStatus(cmd::FSP, imageStart);
    CLineEditText imageEnd(*m_imageEnd);
    Msg().ShowStatus(cmd::FEP, imageEnd);
    CLineEditText position(*m_position);
    Msg().ShowStatus(cmd::FPP, position);
    // Every setting the refresh writes counts as a change, also one that
    // came back the same: what Enter saves next is what now stands here.
    SetDefaultButton(m_save);

    // Printers that do not report a model keep the last one shown.
    if (const std::optional<std::string> model = Msg().RequestStatus(cmd::MDL)) {
        m_model->setText(ModelLabel(CMessageIF::ToInteger(*model), oemName));
    }
}

void CPrinterIdentityPP::OnRefreshClicked() {
    Refresh();
    SetDefaultButton(m_refresh);
}

void CPrinterIdentityPP::OnSave() {
    {
        WaitCursor busy(Host());
        const uint32_t printerFamily = Msg().GetPrinterFamily();
        if ((printerFamily & (family::kJ | family::kQ | family::kU)) != 0) {
            // These printers take all four settings in one request, the
            // text joined straight onto the mnemonic.
            const std::string text = LimitedText(m_density) + ':' + LimitedText(m_imageStart) +
                                     ':' + LimitedText(m_imageEnd) + ':' + LimitedText(m_position);
            Msg().SendCommandAndWait(cmd::MIP, text);
        } else {
            const std::pair<int, QLineEdit*> settings[] = {
                {cmd::FDC, m_density},
                {cmd::FSP, m_imageStart},
                {cmd::FEP, m_imageEnd},
                {cmd::FPP, m_position},
            };
            for (const auto& [command, edit] : settings) {
                const CLineEditText field(*edit);
                Msg().SendModifyFromControl(command, field);
                Host().Pause(kSettingPauseMs);
            }
        }
    }
    // Show what the printer now holds, not what was typed.
    Refresh();
}

void CPrinterIdentityPP::OnReset() {
    if (Host().Message(kResetQuestion, MsgButtons::YesNo) != MsgResult::Yes) return;
    {
        WaitCursor busy(Host());
        // A reset that never left leaves the printer as it was: nothing to
        // wait for, and no restart to reconnect after.
        if (!Msg().SendCommand(cmd::DEF_RST)) return;
        Host().Pause(kResetPauseMs);
    }
    Host().Message(kReconnectNotice, MsgButtons::Ok);
    // The printer restarts: back to the port choice, which takes the
    // feature pages away until the operator connects again.
    Sheet().SetActivePage(kCommsPageIndex);
}
