// upgrade and upgrade-laminator: firmware transfers.

#include <CLI/CLI.hpp>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/command_watch.h"
#include "cli/commands/command.h"
#include "protocol/message_if.h"
#include "tasks/firmware.h"

namespace {

struct UpgradeOptions {
    std::string file;
};

Result RunUpgrade(const UpgradeOptions& options, Session& session, bool laminator) {
    Result result;
    CMessageIF& msg = session.msg;
    CCliHost& host = session.host;
    firmware::UpgradeOutcome upgraded;
    std::optional<std::string> versionBefore;
    std::optional<std::string> versionAfter;
    if (laminator) result.data["applicable"] = true;
    if (!laminator) {
        versionBefore = msg.RequestStatus(cmd::VRS);
        const std::string extension = firmware::ExtensionForVersion(versionBefore);
        upgraded = firmware::UpgradePrinter(msg, host, options.file, extension);
    } else if (msg.GetPrinterFamily() != family::kH) {
        host.Message("Laminator firmware: Not applicable", MsgButtons::Ok);
        upgraded.result = firmware::UpgradeResult::SendFailed;
        result.data["applicable"] = false;
    } else {
        upgraded = firmware::UpgradeLaminator(msg, host, options.file);
    }
    static constexpr const char* kNames[] = {"declined",  "open failed", "bad extension",
                                             "failed",    "upgraded",    "empty file",
                                             "too large", "read failed"};
    static constexpr int kCodes[] = {cli_exit::kUsage,   cli_exit::kFileError, cli_exit::kRefused,
                                     cli_exit::kRefused, cli_exit::kDone,      cli_exit::kRefused,
                                     cli_exit::kRefused, cli_exit::kFileError};
    const size_t index = static_cast<size_t>(upgraded.result);
    result.code = kCodes[index];
    result.data["result"] = kNames[index];
    result.lines.push_back(std::string("Upgrade: ") + kNames[index]);
    if (upgraded.result == firmware::UpgradeResult::OpenFailed) {
        host.Message("Cannot read " + options.file + ": " + upgraded.fileError, MsgButtons::Ok);
    } else if (upgraded.result == firmware::UpgradeResult::ReadFailed) {
        host.Message("Reading " + options.file + " failed part-way: " + upgraded.fileError,
                     MsgButtons::Ok);
    }
    if (!laminator && upgraded.result == firmware::UpgradeResult::Upgraded) {
        session.watch.ExpectRestart();
        versionAfter = firmware::VersionAfterRestart(msg);
        result.lines.push_back("Firmware version before: " +
                               Utf8(versionBefore.value_or(std::string())));
        result.lines.push_back("Firmware version after: " +
                               Utf8(versionAfter.value_or(std::string())));
        if (!versionAfter) {
            host.Message("The printer did not answer VRS after its restart", MsgButtons::Ok);
            result.code = cli_exit::kRefused;
        }
    }
    if (!laminator) {
        result.data["version_before"] = OptionalJson(versionBefore);
        result.data["version_after"] = OptionalJson(versionAfter);
    }
    return result;
}

}  // namespace

void AddUpgradeCommands(CommandLine& line) {
    auto printer = std::make_shared<UpgradeOptions>();
    Command upgrade{"upgrade"};
    upgrade.run = [printer](Session& session) { return RunUpgrade(*printer, session, false); };
    CLI::App* upgradeCmd = AddCommand(
        line, "upgrade the printer's firmware (needs --yes), then read its version again",
        std::move(upgrade));
    upgradeCmd->footer(
        "\nAfter \"UPG\" the printer is given 10 s to restart, then asked its firmware "
        "version.\nA printer that has not answered within the receive wait (10 s), nor after "
        "one\nreconnect (retried as --retries says, 2 s apart), ends the command with exit 1.");
    upgradeCmd->add_option("FILE", printer->file, "the firmware image (.bin, .cf?)")->required();

    auto laminator = std::make_shared<UpgradeOptions>();
    Command laminatorUpgrade{"upgrade-laminator"};
    laminatorUpgrade.run = [laminator](Session& session) {
        return RunUpgrade(*laminator, session, true);
    };
    AddCommand(line, "upgrade an attached laminator's firmware (needs --yes)",
               std::move(laminatorUpgrade))
        ->add_option("FILE", laminator->file, "the laminator firmware (.hex)")
        ->required();
}
