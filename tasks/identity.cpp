#include "tasks/identity.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <utility>

#include "protocol/message_if.h"
#include "seams/host_services.h"
#include "seams/text_scan.h"
#include "seams/wait_cursor.h"

namespace identity {
namespace {

// The product ID is read back from its field through a 10-byte area.
constexpr size_t kProductIdDigits = 9;
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

std::string Limited(const std::string& text) { return text.substr(0, kSettingTextLimit); }

}  // namespace

std::string ModelLabel(int32_t code, const std::string& oemName) {
    if (code >= 0 && code < static_cast<int32_t>(std::size(kModelNames))) return kModelNames[code];
    if (code == kOemModelCode) return oemName;
    char text[32];
    if (code >= kFirstSpecialCode && code <= kLastSpecialCode) {
        std::snprintf(text, sizeof text, "Special %d", code - kSpecialCodeBase);
    } else {
        std::snprintf(text, sizeof text, "Unassigned - %d", code);
    }
    return text;
}

bool IsSettingText(std::string_view text) {
    return text.size() <= kSettingTextLimit &&
           std::all_of(text.begin(), text.end(), textscan::IsDigit);
}

std::string ProductIdText(const std::string& reported) {
    const int32_t id = CMessageIF::ToInteger(reported.substr(0, kProductIdDigits));
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
    return text;
}

View Read(CMessageIF& msg, const std::string& oemName) {
    View view;
    // Each decision between request variants goes by the family, so learn
    // it afresh: the printer on the link may have changed since the connect.
    msg.DetectPrinterFamily();
    view.family = msg.GetPrinterFamily();
    view.serial = msg.RequestStatus(cmd::MSR).value_or(std::string());
    view.version = msg.RequestStatus(cmd::VRS).value_or(std::string());
    view.productId = ProductIdText(msg.RequestStatus(cmd::PID).value_or(std::string()));
    view.settings.density = msg.RequestStatus(cmd::FDC).value_or(std::string());
    view.settings.imageStart = msg.RequestStatus(cmd::FSP).value_or(std::string());
    view.settings.imageEnd = msg.RequestStatus(cmd::FEP).value_or(std::string());
    view.settings.position = msg.RequestStatus(cmd::FPP).value_or(std::string());
    if (const std::optional<std::string> model = msg.RequestStatus(cmd::MDL)) {
        view.model = ModelLabel(CMessageIF::ToInteger(*model), oemName);
    }
    return view;
}

bool Save(CMessageIF& msg, IHostServices& host, const Settings& settings) {
    WaitCursor busy(host);
    if ((msg.GetPrinterFamily() & (family::kJ | family::kQ | family::kU)) != 0) {
        // These printers take all four settings in one request, the text
        // joined straight onto the mnemonic.
        const std::string text = Limited(settings.density) + ':' + Limited(settings.imageStart) +
                                 ':' + Limited(settings.imageEnd) + ':' +
                                 Limited(settings.position);
        return msg.SendCommandAndWait(cmd::MIP, text);
    }
    const std::pair<int, const std::string*> fields[] = {
        {cmd::FDC, &settings.density},
        {cmd::FSP, &settings.imageStart},
        {cmd::FEP, &settings.imageEnd},
        {cmd::FPP, &settings.position},
    };
    bool allSent = true;
    for (const auto& [command, text] : fields) {
        allSent = msg.SendModify(command, Limited(*text)) && allSent;
        host.Pause(kSettingPauseMs);
    }
    return allSent;
}

ResetResult Reset(CMessageIF& msg, IHostServices& host) {
    if (host.Message(kResetQuestion, MsgButtons::YesNo) != MsgResult::Yes) {
        return ResetResult::Declined;
    }
    {
        WaitCursor busy(host);
        // A reset that never left leaves the printer as it was: nothing to
        // wait for, and no restart to reconnect after.
        if (!msg.SendCommand(cmd::DEF_RST)) return ResetResult::NotSent;
        host.Pause(kResetPauseMs);
    }
    host.Message(kReconnectNotice, MsgButtons::Ok);
    return ResetResult::Sent;
}

}  // namespace identity
