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

constexpr const char* kDynamicValue = "1";
constexpr const char* kStaticValue = "0";

}  // namespace

bool CEthernetPP::IsEthernetProduct(int32_t productId) {
    return std::find(kEthernetProductIds.begin(), kEthernetProductIds.end(), productId) !=
           kEthernetProductIds.end();
}

std::string CEthernetPP::AddressToWire(uint32_t address) {
    return std::to_string(static_cast<int32_t>(address));
}

std::optional<uint32_t> CEthernetPP::AddressFromWire(const std::string& text) {
    // A reply such as "IPA," carries no address; showing 0.0.0.0 for it
    // would put a value on screen that the printer never sent.
    if (!textscan::HasLeadingInteger(text)) return std::nullopt;
    return static_cast<uint32_t>(textscan::LeadingInteger(text));
}

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
    const WaitCursor wait(Host());

    // Without a product id there is no telling whether the printer has an
    // interface to configure; treating it as one could write to a printer
    // that does not understand the settings.
    const std::optional<std::string> productId = Msg().RequestStatus(cmd::PID);
    State().ethernetPageProductId = productId ? CMessageIF::ToInteger(*productId) : 0;
    if (!IsEthernetProduct(State().ethernetPageProductId)) {
        ShowNotApplicable();
        return;
    }

    // A page that found no Ethernet printer on an earlier visit comes back
    // to life once the printer identifies as one.
    SetControlsEnabled(true);
    CLineEditText macText(*m_mac);
    Msg().ShowStatus(cmd::MAC, macText);

    // Only the exact text "1" means dynamic addressing; a mode the printer
    // did not report selects neither button rather than guessing one.
    const std::optional<std::string> mode = Msg().RequestStatus(cmd::DYN);
    if (!mode) {
        m_addressMode = kModeUnknown;
    } else {
        m_addressMode = *mode == kDynamicValue ? kModeDynamic : kModeStatic;
    }
    ShowAddress(m_ipAddress, cmd::IPA);
    ShowAddress(m_subnetMask, cmd::SNM);
    ShowAddress(m_gateway, cmd::GWY);
    ShowAddressMode();
}

void CEthernetPP::ShowAddress(CIpAddressEdit* field, int command) {
    const std::optional<std::string> value = Msg().RequestStatus(command);
    const std::optional<uint32_t> address = value ? AddressFromWire(*value) : std::nullopt;
    if (address) {
        field->SetAddress(*address);
    } else {
        field->Clear();
    }
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
    if (!IsEthernetProduct(State().ethernetPageProductId)) return;
    const WaitCursor wait(Host());

    // With no mode reported and none chosen, the printer keeps the one it
    // has: writing "static" would be a choice nobody made.
    if (m_addressMode != kModeUnknown) {
        Msg().SendModify(cmd::DYN, m_addressMode == kModeDynamic ? kDynamicValue : kStaticValue);
    }
    // The addresses go whatever the mode: a printer set to dynamic keeps
    // them for the day it is switched back to static. A field left wholly
    // blank holds no value (the printer reported none and nobody typed one):
    // sending it as 0.0.0.0 would overwrite an address the printer keeps.
    const std::pair<int, CIpAddressEdit*> addresses[] = {
        {cmd::IPA, m_ipAddress},
        {cmd::SNM, m_subnetMask},
        {cmd::GWY, m_gateway},
    };
    for (const auto& [command, field] : addresses) {
        if (!field->IsBlank()) Msg().SendModify(command, AddressToWire(field->Address()));
    }
}
