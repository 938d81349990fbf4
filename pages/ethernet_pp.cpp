#include "pages/ethernet_pp.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <utility>

#include "controls/ip_address_edit.h"
#include "links/program_state.h"
#include "protocol/command_table.h"
#include "protocol/message_if.h"
#include "seams/host_services.h"
#include "seams/text_scan.h"
#include "seams/wait_cursor.h"

namespace {

// The page's template in dialog units.
constexpr int kWidth = 348;
constexpr int kHeight = 146;

}  // namespace

CEthernetPP::CEthernetPP(const PageContext& context, QWidget* parent)
    : CPageBase(context, tr("Ethernet"), parent) {
    SetTemplateSize(kWidth, kHeight);

    // Frames first, so the controls they surround lie above them.
    // The left frame has no title; it starts where the titled frame's line
    // runs, below its caption, so the two read as one row.
    auto* leftColumn = new QGroupBox(this);
    Place(leftColumn, 7, 13, 156, 94);
    auto* modeFrame = new QGroupBox(this);
    Place(modeFrame, 82, 53, 72, 46);
    auto* staticFrame = new QGroupBox(tr("Static"), this);
    Place(staticFrame, 171, 7, 170, 100);

    // The MAC address is burnt into the printer: nothing typed here could
    // ever be sent, so the box only shows (and lets the operator copy) it.
    m_mac = AddEdit(Id::kMac, true);
    m_mac->setEnabled(false);
    Place(AddLabel(tr("MAC address (HEX)"), m_mac), 15, 22, 120, 9);
    Place(m_mac, 15, 33, 140, 13);

    m_dynamic = new QRadioButton(tr("Dynamic"), this);
    m_dynamic->setObjectName(QString::fromLatin1(Id::kDynamic));
    m_static = new QRadioButton(tr("Static"), this);
    m_static->setObjectName(QString::fromLatin1(Id::kStatic));
    Place(AddLabel(tr("IP address mode"), m_dynamic), 15, 72, 62, 9);
    Place(m_dynamic, 90, 62, 58, 10);
    Place(m_static, 90, 81, 58, 10);
    m_modeButtons = new QButtonGroup(this);
    m_modeButtons->addButton(m_dynamic, kModeDynamic);
    m_modeButtons->addButton(m_static, kModeStatic);
    connect(m_modeButtons, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) m_addressMode = id;
    });

    struct AddressRow {
        CIpAddressEdit*& field;
        const char* id;
        QString label;
        int y;
    };
    const AddressRow rows[] = {
        {m_ipAddress, Id::kIpAddress, tr("IP address"), 26},
        {m_subnetMask, Id::kSubnetMask, tr("Subnet mask"), 50},
        {m_gateway, Id::kGateway, tr("Default gateway"), 74},
    };
    for (const AddressRow& row : rows) {
        row.field = new CIpAddressEdit(this);
        row.field->setObjectName(QString::fromLatin1(row.id));
        QLabel* label = AddLabel(row.label, row.field);
        // Each of the four fields says which address it belongs to.
        row.field->SetAccessibleLabel(row.label);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        Place(label, 179, row.y, 58, 13);
        Place(row.field, 240, row.y, 94, 0);
    }

    m_readCurrent = AddButton(tr("Read Current"), Id::kReadCurrent);
    Place(m_readCurrent, 199, 120, 66, 14);
    connect(m_readCurrent, &QPushButton::clicked, this, &CEthernetPP::Refresh);

    m_save = AddButton(tr("Save to FLASH"), Id::kSave);
    Place(m_save, 275, 120, 66, 14);
    connect(m_save, &QPushButton::clicked, this, &CEthernetPP::SaveToFlash);
}

// Read on creation and again on every visit, so the page never shows
// settings that another tool or the printer's own panel has since changed.
void CEthernetPP::OnInitDialog() { Refresh(); }

void CEthernetPP::OnSetActive() { Refresh(); }

void CEthernetPP::Refresh() {
    network::Settings settings;
    {
        const WaitCursor wait(Host());
        settings = network::Read(Msg());
    }
    State().ethernetPageProductId = settings.productId;
    if (!settings.applicable) {
        ShowNotApplicable();
        return;
    }

    // A page that found no Ethernet printer on an earlier visit comes back
    // to life once the printer identifies as one.
    SetControlsEnabled(true);
    m_mac->setText(FromLatin1(settings.mac.value_or(std::string())));
    // A mode the printer did not report selects neither button rather than
    // guessing one.
    m_addressMode = settings.mode;
    CIpAddressEdit* const fields[] = {m_ipAddress, m_subnetMask, m_gateway};
    for (size_t i = 0; i < settings.addresses.size(); ++i) {
        if (settings.addresses[i]) {
            fields[i]->SetAddress(*settings.addresses[i]);
        } else {
            fields[i]->Clear();
        }
    }
    ShowAddressMode();
}

void CEthernetPP::ShowNotApplicable() {
    // Settings shown for an earlier answer do not belong to this one.
    m_addressMode = kModeUnknown;
    ShowAddressMode();
    for (CIpAddressEdit* field : {m_ipAddress, m_subnetMask, m_gateway}) field->Clear();
    m_mac->setText(tr(kNotApplicableText));
    SetControlsEnabled(false);
}

void CEthernetPP::SetControlsEnabled(bool enabled) {
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_mac, m_dynamic, m_static, m_ipAddress, m_subnetMask,
                                         m_gateway, m_readCurrent, m_save}) {
        control->setEnabled(enabled);
    }
}

void CEthernetPP::ShowAddressMode() {
    // An exclusive group cannot show "neither"; lift the rule to clear it.
    m_modeButtons->setExclusive(false);
    m_dynamic->setChecked(m_addressMode == kModeDynamic);
    m_static->setChecked(m_addressMode == kModeStatic);
    m_modeButtons->setExclusive(true);
}

void CEthernetPP::SaveToFlash() {
    if (!network::IsEthernetProduct(State().ethernetPageProductId)) return;
    const WaitCursor wait(Host());
    // Only a field the printer reported nothing for and nobody has touched
    // since holds no value, and is not sent. One the operator emptied is
    // sent as typed, its blanks as 0: clearing the gateway removes it.
    std::array<std::optional<uint32_t>, network::kAddressCount> addresses;
    CIpAddressEdit* const fields[] = {m_ipAddress, m_subnetMask, m_gateway};
    for (size_t i = 0; i < addresses.size(); ++i) {
        if (!fields[i]->IsUnset()) addresses[i] = fields[i]->Address();
    }
    network::Save(Msg(), State().ethernetPageProductId, m_addressMode, addresses);
}
