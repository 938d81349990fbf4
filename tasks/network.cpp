#include "tasks/network.h"

#include <algorithm>

#include "protocol/message_if.h"
#include "seams/text_scan.h"

namespace network {
namespace {

constexpr const char* kDynamicValue = "1";
constexpr const char* kStaticValue = "0";
constexpr int kAddressCommands[kAddressCount] = {cmd::IPA, cmd::SNM, cmd::GWY};

}  // namespace

bool IsEthernetProduct(int32_t productId) {
    return std::find(kEthernetProductIds.begin(), kEthernetProductIds.end(), productId) !=
           kEthernetProductIds.end();
}

std::string AddressToWire(uint32_t address) {
    return std::to_string(static_cast<int32_t>(address));
}

std::optional<uint32_t> AddressFromWire(const std::string& text) {
    // A reply such as "IPA," carries no address; showing 0.0.0.0 for it
    // would put a value on screen that the printer never sent.
    if (!textscan::HasLeadingInteger(text)) return std::nullopt;
    return static_cast<uint32_t>(textscan::LeadingInteger(text));
}

Settings Read(CMessageIF& msg) {
    Settings settings;
    // Without a product id there is no telling whether the printer has an
    // interface to configure; treating it as one could write to a printer
    // that does not understand the settings.
    const std::optional<std::string> productId = msg.RequestStatus(cmd::PID);
    settings.productId = productId ? CMessageIF::ToInteger(*productId) : 0;
    settings.applicable = IsEthernetProduct(settings.productId);
    if (!settings.applicable) return settings;

    settings.mac = msg.RequestStatus(cmd::MAC);
    // Only the exact text "1" means dynamic addressing; a mode the printer
    // did not report is left unknown rather than guessed.
    if (const std::optional<std::string> mode = msg.RequestStatus(cmd::DYN)) {
        settings.mode = *mode == kDynamicValue ? kModeDynamic : kModeStatic;
    }
    for (int i = 0; i < kAddressCount; ++i) {
        const std::optional<std::string> value = msg.RequestStatus(kAddressCommands[i]);
        settings.addresses[static_cast<size_t>(i)] = value ? AddressFromWire(*value) : std::nullopt;
    }
    return settings;
}

bool SaveResult::AllSent() const {
    return applicable && std::all_of(writes.begin(), writes.end(),
                                     [](const SettingWrite& write) { return write.sent; });
}

SaveResult Save(CMessageIF& msg, int32_t productId, int mode,
                const std::array<std::optional<uint32_t>, kAddressCount>& addresses) {
    SaveResult result;
    result.applicable = IsEthernetProduct(productId);
    if (!result.applicable) return result;
    // A write that fails reconnects and the save goes on: each setting is
    // its own request, and those after a lost one may still reach the
    // printer. Which went out is the caller's to report.
    const auto write = [&](int command, std::string value) {
        const bool sent = msg.SendModify(command, value);
        result.writes.push_back({command, std::move(value), sent});
    };
    // With no mode reported and none chosen, the printer keeps the one it
    // has: writing "static" would be a choice nobody made.
    if (mode != kModeUnknown) write(cmd::DYN, mode == kModeDynamic ? kDynamicValue : kStaticValue);
    // The addresses go whatever the mode: a printer set to dynamic keeps
    // them for the day it is switched back to static. An address without a
    // value (the printer reported none and nobody gave one) is not sent as
    // 0.0.0.0, which would overwrite one the printer keeps.
    for (int i = 0; i < kAddressCount; ++i) {
        const std::optional<uint32_t>& address = addresses[static_cast<size_t>(i)];
        if (address) write(kAddressCommands[i], AddressToWire(*address));
    }
    return result;
}

}  // namespace network
