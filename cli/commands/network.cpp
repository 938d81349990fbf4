// network: the printer's network settings, read or saved.

#include "tasks/network.h"

#include <CLI/CLI.hpp>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "links/program_state.h"
#include "protocol/message_if.h"
#include "seams/text_scan.h"

namespace {

struct NetworkOptions {
    std::string ip, mask, gateway;
    bool dhcp = false, isStatic = false;

    bool Change() const {
        return dhcp || isStatic || !ip.empty() || !mask.empty() || !gateway.empty();
    }
};

std::string AddressText(const std::optional<uint32_t>& address) {
    return address ? tessaly::FormatIpAddress(*address) : std::string();
}

void ShowNetwork(Result& result, const network::Settings& settings) {
    result.data["product_id"] = ProductIdJson(settings.productId);
    result.data["applicable"] = settings.applicable;
    if (!settings.applicable) {
        for (const char* key :
             {"mac_address", "ip_address_mode", "ip_address", "subnet_mask", "default_gateway"}) {
            result.data[key] = nullptr;
        }
        result.lines.push_back(std::string("MAC address (HEX): ") + network::kNotApplicableText);
        return;
    }
    AddField(result, "MAC address (HEX)", "mac_address", settings.mac);
    const char* mode = settings.mode == network::kModeDynamic  ? "dynamic"
                       : settings.mode == network::kModeStatic ? "static"
                                                               : nullptr;
    result.data["ip_address_mode"] = mode ? Json(mode) : Json(nullptr);
    result.lines.push_back(std::string("IP address mode: ") +
                           (settings.mode == network::kModeDynamic  ? "Dynamic"
                            : settings.mode == network::kModeStatic ? "Static"
                                                                    : ""));
    const char* labels[] = {"IP address", "Subnet mask", "Default gateway"};
    const char* keys[] = {"ip_address", "subnet_mask", "default_gateway"};
    for (size_t i = 0; i < settings.addresses.size(); ++i) {
        const std::optional<uint32_t>& address = settings.addresses[i];
        AddField(result, labels[i], keys[i],
                 address ? std::optional<std::string>(AddressText(address)) : std::nullopt);
    }
}

// Each write of a network save, and, when one did not go out, which
// settings the printer may now hold.
void ShowSaveWrites(Result& result, const network::SaveResult& saved, CCliHost& host) {
    struct Setting {
        int command;
        const char* label;
        const char* key;
    };
    static constexpr Setting kSettings[] = {
        {cmd::DYN, "IP address mode", "ip_address_mode"},
        {cmd::IPA, "IP address", "ip_address"},
        {cmd::SNM, "Subnet mask", "subnet_mask"},
        {cmd::GWY, "Default gateway", "default_gateway"},
    };
    Json writes = Json::array();
    std::string sentNames, lostNames;
    for (const network::SettingWrite& write : saved.writes) {
        const Setting* setting = &kSettings[0];
        for (const Setting& s : kSettings) {
            if (s.command == write.command) setting = &s;
        }
        const bool mode = write.command == cmd::DYN;
        const bool dynamic = mode && write.value == "1";
        const std::string shown = mode ? (dynamic ? "Dynamic" : "Static")
                                       : AddressText(network::AddressFromWire(write.value));
        writes.push_back({{"setting", setting->key},
                          {"value", mode ? (dynamic ? "dynamic" : "static") : shown},
                          {"sent", write.sent}});
        result.lines.push_back(std::string(write.sent ? "Sent " : "Not sent ") + setting->label +
                               ": " + shown);
        std::string& names = write.sent ? sentNames : lostNames;
        names += (names.empty() ? "" : ", ") + std::string(setting->label);
    }
    result.data["saved"] = saved.AllSent();
    result.data["writes"] = writes;
    if (saved.AllSent()) return;
    result.code = cli_exit::kRefused;
    host.Tell(sentNames.empty()
                  ? "The save did not go out: the printer may still hold its earlier " + lostNames +
                        "."
                  : "The save was cut off: " + lostNames +
                        " did not go out. The printer may now hold the new " + sentNames +
                        " with its earlier " + lostNames + ".");
}

std::optional<std::string> CheckNetwork(const NetworkOptions& options, const CommonOptions& common,
                                        const std::vector<Target>& targets) {
    for (const std::string* address : {&options.ip, &options.mask, &options.gateway}) {
        if (!address->empty() && !textscan::DottedAddress(*address)) {
            return "not an IPv4 address: " + *address;
        }
    }
    // Two printers with one fixed address lose each other on the network.
    if (!options.ip.empty() && targets.size() > 1) {
        return "--ip gives one printer its fixed address: name one printer, not " +
               std::to_string(targets.size());
    }
    // A printer with the wrong settings may not be reachable to put right.
    if (options.Change() && !common.yes) {
        return "network changes the printer's settings only with --yes";
    }
    return std::nullopt;
}

Result RunNetwork(const NetworkOptions& options, Session& session) {
    Result result;
    result.data["saved"] = nullptr;
    result.data["writes"] = Json::array();
    result.data["read_back"] = nullptr;
    CMessageIF& msg = session.msg;
    network::Settings settings = network::Read(msg);
    if (!settings.applicable) {
        session.host.Message(network::kNotApplicableText, MsgButtons::Ok);
        result.code = cli_exit::kRefused;
    } else if (options.Change()) {
        int mode = settings.mode;
        if (options.dhcp) mode = network::kModeDynamic;
        if (options.isStatic) mode = network::kModeStatic;
        auto addresses = settings.addresses;
        const std::string* given[] = {&options.ip, &options.mask, &options.gateway};
        for (size_t i = 0; i < addresses.size(); ++i) {
            if (!given[i]->empty()) addresses[i] = textscan::DottedAddress(*given[i]);
        }
        const network::SaveResult saved = network::Save(msg, settings.productId, mode, addresses);
        ShowSaveWrites(result, saved, session.host);
        settings = network::Read(msg);
        // A printer that no longer answers is not one without Ethernet.
        if (!settings.applicable) {
            session.host.Tell("The settings could not be read back after the save.");
            result.code = cli_exit::kRefused;
            result.data["read_back"] = false;
        } else {
            result.data["read_back"] = true;
        }
    }
    ShowNetwork(result, settings);
    return result;
}

}  // namespace

void AddNetworkCommand(CommandLine& line) {
    auto options = std::make_shared<NetworkOptions>();
    Command network{"network"};
    network.check = [options](const CommonOptions& common, const std::vector<Target>& targets) {
        return CheckNetwork(*options, common, targets);
    };
    network.run = [options](Session& session) { return RunNetwork(*options, session); };
    CLI::App* networkCmd = AddCommand(
        line, "read, or save (needs --yes), the printer's network settings", std::move(network));
    networkCmd->add_option("--ip", options->ip, "the fixed IP address")->type_name("A.B.C.D");
    networkCmd->add_option("--mask", options->mask, "the subnet mask")->type_name("A.B.C.D");
    networkCmd->add_option("--gateway", options->gateway, "the default gateway")
        ->type_name("A.B.C.D");
    CLI::Option* dhcp = networkCmd->add_flag("--dhcp", options->dhcp, "dynamic addressing");
    networkCmd->add_flag("--static", options->isStatic, "a fixed address")->excludes(dhcp);
}
