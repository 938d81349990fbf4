// identity and reset: what the printer is, its engine settings, and its
// factory configuration.

#include "tasks/identity.h"

#include <CLI/CLI.hpp>
#include <cstdlib>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "links/program_state.h"
#include "protocol/message_if.h"

namespace {

struct IdentityOptions {
    std::vector<std::string> settings;
};

void ShowIdentity(Result& result, const identity::View& view) {
    AddField(result, "Serial Number", "serial_number", view.serial);
    AddField(result, "Model", "model", view.model);
    AddField(result, "Firmware Version", "firmware_version", view.version);
    AddField(result, "Product ID", "product_id", view.productId);
    // The field's text is hexadecimal, and 0x0000 when the printer reported
    // nothing that reads as a number.
    result.data["product_id"] = ProductIdJson(std::strtoll(view.productId.c_str(), nullptr, 16));
    AddNumberField(result, "Image Start", "image_start", view.settings.imageStart);
    AddNumberField(result, "Image End", "image_end", view.settings.imageEnd);
    AddNumberField(result, "Printhead Density", "printhead_density", view.settings.density);
    AddNumberField(result, "Printhead Position", "printhead_position", view.settings.position);
}

std::optional<std::string> CheckSettings(const IdentityOptions& options) {
    for (const std::string& set : options.settings) {
        const std::string name = set.substr(0, set.find('='));
        if (set.find('=') == std::string::npos ||
            (name != "FDC" && name != "FSP" && name != "FEP" && name != "FPP")) {
            return "--set takes FDC=, FSP=, FEP= or FPP= and a value, not " + set;
        }
        // The value goes into its request as it stands, so it takes what the
        // page's field takes: anything else could end the frame early or be
        // cut.
        if (!identity::IsSettingText(set.substr(set.find('=') + 1))) {
            return "the setting " + name + " takes digits only, at most " +
                   std::to_string(identity::kSettingTextLimit) + ": " + set;
        }
    }
    return std::nullopt;
}

Result RunIdentity(const IdentityOptions& options, Session& session) {
    Result result;
    result.data["saved"] = nullptr;
    CMessageIF& msg = session.msg;
    CCliHost& host = session.host;
    identity::View view = identity::Read(msg, session.state.oemModelName);
    if (!options.settings.empty()) {
        identity::Settings settings = view.settings;
        const std::pair<const char*, std::string*> fields[] = {{"FDC", &settings.density},
                                                               {"FSP", &settings.imageStart},
                                                               {"FEP", &settings.imageEnd},
                                                               {"FPP", &settings.position}};
        std::string unreported;
        for (const auto& [name, field] : fields) {
            bool given = false;
            for (const std::string& set : options.settings) {
                if (set.substr(0, set.find('=')) != name) continue;
                *field = set.substr(set.find('=') + 1);
                given = true;
            }
            // The save writes all four: one the printer did not report
            // would be overwritten with nothing.
            if (!given && field->empty())
                unreported += (unreported.empty() ? "" : ", ") + std::string(name);
        }
        if (!unreported.empty()) {
            host.Tell("Nothing was saved: the printer did not report its current " + unreported +
                      ", which the save would overwrite with nothing.");
            result.data["saved"] = false;
            result.code = cli_exit::kRefused;
            ShowIdentity(result, view);
            return result;
        }
        const bool saved = identity::Save(msg, host, settings);
        view = identity::Read(msg, session.state.oemModelName);
        result.data["saved"] = saved;
        if (!saved) {
            host.Tell(
                "The save was cut off: the printer may hold some of the new settings and "
                "some of its earlier ones.");
            result.code = cli_exit::kRefused;
        }
    }
    ShowIdentity(result, view);
    if (view.serial.empty() && view.version.empty()) {
        host.Message("The printer reported neither its serial number nor its firmware version.",
                     MsgButtons::Ok);
        result.code = cli_exit::kRefused;
    }
    return result;
}

Result RunReset(Session& session) {
    Result result;
    switch (identity::Reset(session.msg, session.host)) {
        case identity::ResetResult::Declined:
            result.code = cli_exit::kUsage;
            break;
        case identity::ResetResult::NotSent:
            session.host.Tell("The reset request did not reach the printer.");
            result.code = cli_exit::kRefused;
            break;
        case identity::ResetResult::Sent:
            result.lines.push_back("Reset sent");
            break;
    }
    result.data["reset"] = result.code == cli_exit::kDone;
    return result;
}

}  // namespace

void AddIdentityCommands(CommandLine& line) {
    auto options = std::make_shared<IdentityOptions>();
    Command identityCommand{"identity"};
    identityCommand.check = [options](const CommonOptions&, const std::vector<Target>&) {
        return CheckSettings(*options);
    };
    identityCommand.run = [options](Session& session) { return RunIdentity(*options, session); };
    AddCommand(line, "read serial number, model, firmware, product ID and settings",
               std::move(identityCommand))
        ->add_option("--set", options->settings,
                     "save a setting first: FDC (density), FSP (image start), FEP (image end), "
                     "FPP (position); digits only, at most 63; repeatable")
        ->type_name("MN=VALUE");

    Command reset{"reset"};
    reset.run = RunReset;
    AddCommand(line, "reset the printer's configuration to its defaults (needs --yes)",
               std::move(reset));
}
