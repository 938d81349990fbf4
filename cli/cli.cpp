#include "cli/cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <thread>

#include "cli/cli_host.h"
#include "cli/cli_text.h"
#include "cli/command_watch.h"
#include "cli/doctor_command.h"
#include "cli/regular_file.h"
#include "links/ethernet_if.h"
#include "links/link_factory.h"
#include "links/parallel_if.h"
#include "links/trace_link.h"
#include "links/usb_device.h"
#include "links/usb_discovery.h"
#include "links/usb_selection.h"
#include "protocol/message_if.h"
#include "seams/file_save.h"
#include "seams/text_scan.h"
#include "sim/sim_options.h"
#include "sim/simulated_printer_ports.h"
#include "tasks/counters.h"
#include "tasks/firmware.h"
#include "tasks/identity.h"
#include "tasks/magstripe.h"
#include "tasks/network.h"
#include "tasks/query_report.h"

using Json = nlohmann::ordered_json;

namespace {

constexpr const char* kProgram = "tessaly-cli";
constexpr int kDefaultJobs = 8;
constexpr const char* kSimulatedOption = "--simulated-printer";
// Stands for each printer's address in a fleet's --save pattern.
constexpr const char* kAddressField = "{addr}";
constexpr size_t kAddressFieldSize = std::char_traits<char>::length(kAddressField);

constexpr const char* kExitCodesText =
    "Exit codes:\n"
    "  0  done\n"
    "  1  the printer refused, did not answer, or a check failed (checksum, tracks, not\n"
    "     applicable); a request that got no answer at all ends the command at once\n"
    "  2  usage: a bad command line, or a question asked without --yes\n"
    "  3  could not connect to the printer\n"
    "  4  a file could not be read or written, or is not a regular file (also a trace\n"
    "     that could not be written on)\n"
    "A fleet ends with the highest code of its printers.\n";

// --- the command line ---------------------------------------------------------

struct Options {
    std::vector<std::string> ethernet;
    std::string ethernetFile;
    std::optional<std::string> usb;  // "" for the only printer
    int lpt = 0;
    bool simulated = false;
    SimPrinterState simState;
    bool json = false;
    bool yes = false;
    int retries = 0;
    int timeoutSeconds = 0;  // 0: none
    int jobs = kDefaultJobs;
    std::string trace;

    std::string command;
    // identity
    std::vector<std::string> settings;
    // send, print, upgrade, upgrade-laminator
    std::string text;
    std::string file;
    // query, sensors
    std::string save;
    bool saveIncomplete = false;
    // network
    std::string ip, mask, gateway;
    bool dhcp = false, isStatic = false;
    // encode
    std::array<std::optional<std::string>, cardread::kTrackCount> tracks;
    bool hiCo = false;
    bool selfTest = false;
    // read-card
    std::string trackList = "1,2,3";
};

// One printer to work on.
struct Target {
    std::string label;
    std::string portName;  // "Ethernet", "USB", "LPTn:"
    uint32_t address = 0;
    uint16_t port = CEthernetIF::kPrinterPort;
};

struct Result {
    int code = cli_exit::kDone;
    Json json = Json::object();
    std::vector<std::string> lines;
};

std::optional<Target> ParseEthernetTarget(const std::string& text) {
    const std::optional<textscan::AddressAndPort> parsed =
        textscan::DottedAddressAndPort(text, CEthernetIF::kPrinterPort);
    if (!parsed) return std::nullopt;
    Target target;
    target.portName = "Ethernet";
    target.label = text;
    target.address = parsed->address;
    target.port = parsed->port;
    return target;
}

// --- one printer ---------------------------------------------------------------

// Answers the USB selection from the command line: the printer with the
// serial asked for, or the only one.
class CCliUsbSelection : public IUsbSelectionRunner {
public:
    explicit CCliUsbSelection(std::string serial) : m_serial(std::move(serial)) {}

    void RunSelection(CUsbDiscovery& discovery, IHostServices& host) override {
        const UsbSelectionLines lines = PrepareUsbSelection(discovery, host);
        tessaly::ProgramState& state = discovery.State();
        std::vector<int> candidates;
        for (int i = 0; i < static_cast<int>(lines.lines.size()); ++i) {
            const tessaly::UsbPrinterEntry& entry = state.usbPrinterTable[static_cast<size_t>(i)];
            if (entry.devicePath.empty()) continue;
            if (m_serial.empty() || textscan::EqualNoCase(entry.instanceSegment, m_serial)) {
                candidates.push_back(i);
            }
        }
        if (candidates.size() == 1) {
            ConfirmUsbSelection(state, candidates.front());
            return;
        }
        std::string listed;
        for (int i = 0; i < static_cast<int>(lines.lines.size()); ++i) {
            const tessaly::UsbPrinterEntry& entry = state.usbPrinterTable[static_cast<size_t>(i)];
            if (entry.devicePath.empty()) continue;
            listed += "\n  " + entry.instanceSegment + "  " + lines.lines[static_cast<size_t>(i)];
        }
        // The link falls back to the first printer it finds when the
        // selection makes no choice, as the window does after a cancelled
        // dialog; a script that named a printer, or could not, must not
        // reach another. A path that names no device keeps the link closed.
        state.selectedUsbDevicePath = kNoDevicePath;
        if (!m_serial.empty() && candidates.empty()) {
            host.Message("No USB printer with the serial " + m_serial + ":" + listed,
                         MsgButtons::Ok);
        } else if (candidates.size() > 1) {
            host.Message("Several USB printers: name one with --usb SERIAL:" + listed,
                         MsgButtons::Ok);
        }
    }

private:
    static constexpr const char* kNoDevicePath = "(no printer chosen)";
    std::string m_serial;
};

Json OptionalJson(const std::optional<std::string>& value) {
    return value ? Json(Utf8(*value)) : Json(nullptr);
}

void AddField(Result& result, const char* label, const char* key,
              const std::optional<std::string>& value) {
    result.json[key] = OptionalJson(value);
    result.lines.push_back(std::string(label) + ":" +
                           (value && !value->empty() ? " " + Utf8(*value) : std::string()));
}

void ShowIdentity(Result& result, const identity::View& view) {
    AddField(result, "Serial Number", "serial_number", view.serial);
    AddField(result, "Model", "model", view.model);
    AddField(result, "Firmware Version", "firmware_version", view.version);
    AddField(result, "Product ID", "product_id", view.productId);
    AddField(result, "Image Start", "image_start", view.settings.imageStart);
    AddField(result, "Image End", "image_end", view.settings.imageEnd);
    AddField(result, "Printhead Density", "printhead_density", view.settings.density);
    AddField(result, "Printhead Position", "printhead_position", view.settings.position);
}

void ShowCounters(Result& result, CMessageIF& msg, IHostServices& host) {
    const auto values = counters::Read(msg);
    bool any = false;
    for (size_t i = 0; i < values.size(); ++i) {
        AddField(result, counters::kCounters[i].label, counters::kCounters[i].key, values[i]);
        any = any || values[i].has_value();
    }
    if (!any) {
        host.Message("The printer reported none of the counters.", MsgButtons::Ok);
        result.code = cli_exit::kRefused;
    }
}

std::string AddressText(const std::optional<uint32_t>& address) {
    return address ? tessaly::FormatIpAddress(*address) : std::string();
}

void ShowNetwork(Result& result, const network::Settings& settings) {
    result.json["product_id"] = settings.productId;
    result.json["applicable"] = settings.applicable;
    if (!settings.applicable) {
        result.lines.push_back(std::string("MAC address (HEX): ") + network::kNotApplicableText);
        return;
    }
    AddField(result, "MAC address (HEX)", "mac_address", settings.mac);
    const char* mode = settings.mode == network::kModeDynamic  ? "dynamic"
                       : settings.mode == network::kModeStatic ? "static"
                                                               : nullptr;
    result.json["ip_address_mode"] = mode ? Json(mode) : Json(nullptr);
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
    result.json["saved"] = saved.AllSent();
    result.json["writes"] = writes;
    if (saved.AllSent()) return;
    result.code = cli_exit::kRefused;
    host.Tell(sentNames.empty()
                  ? "The save did not go out: the printer may still hold its earlier " + lostNames +
                        "."
                  : "The save was cut off: " + lostNames +
                        " did not go out. The printer may now hold the new " + sentNames +
                        " with its earlier " + lostNames + ".");
}

const char* LedName(cardread::TrackLed led) {
    switch (led) {
        case cardread::TrackLed::Pass:
            return "pass";
        case cardread::TrackLed::Fail:
            return "fail";
        case cardread::TrackLed::Off:
            break;
    }
    return "off";
}

// The file a printer's report goes to: in a fleet the pattern names each
// printer's own by its address, in a form every file system takes.
std::string SavePath(const std::string& pattern, const std::string& label) {
    const size_t at = pattern.find(kAddressField);
    if (at == std::string::npos) return pattern;
    std::string address = label;
    for (char& c : address) {
        const bool kept = textscan::IsDigit(c) || (c >= 'A' && c <= 'Z') ||
                          (c >= 'a' && c <= 'z') || c == '.' || c == '-';
        if (!kept) c = '_';
    }
    return pattern.substr(0, at) + address +
           SavePath(pattern.substr(at + kAddressFieldSize), label);
}

// An incomplete report replaces an earlier, perhaps whole, one only when
// asked to.
void SaveReport(const Options& options, const query_report::RunResult& report, const Target& target,
                CCliHost& host, Result& result) {
    const std::string path = SavePath(options.save, target.label);
    result.json["saved"] = nullptr;
    if (!report.Complete() && !options.saveIncomplete) {
        host.Message(
            "The incomplete report was not saved to\n" + path + "\n(--save-incomplete saves it)",
            MsgButtons::Ok);
        return;
    }
    if (const std::optional<std::string> reason =
            filesave::SaveReplacing(path, query_report::SavedText(report.lines))) {
        host.Message("The report could not be saved to\n" + path + "\n\n" + *reason,
                     MsgButtons::Ok);
        result.code = std::max(result.code, cli_exit::kFileError);
        return;
    }
    result.json["saved"] = Utf8(path);
}

// Runs the command on a connected printer.
Result RunCommand(const Options& options, const Target& target, CCommandWatch& watch,
                  CMessageIF& msg, CCliHost& host, tessaly::ProgramState& state) {
    Result result;
    const std::string& command = options.command;
    if (command == "identity") {
        identity::View view = identity::Read(msg, state.oemModelName);
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
                    *field = *Latin1(set.substr(set.find('=') + 1));
                    given = true;
                }
                // The save writes all four: one the printer did not report
                // would be overwritten with nothing.
                if (!given && field->empty())
                    unreported += (unreported.empty() ? "" : ", ") + std::string(name);
            }
            if (!unreported.empty()) {
                host.Tell("Nothing was saved: the printer did not report its current " +
                          unreported + ", which the save would overwrite with nothing.");
                result.json["saved"] = false;
                result.code = cli_exit::kRefused;
                ShowIdentity(result, view);
                return result;
            }
            const bool saved = identity::Save(msg, host, settings);
            view = identity::Read(msg, state.oemModelName);
            result.json["saved"] = saved;
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
    } else if (command == "reset") {
        switch (identity::Reset(msg, host)) {
            case identity::ResetResult::Declined:
                result.code = cli_exit::kUsage;
                break;
            case identity::ResetResult::NotSent:
                host.Tell("The reset request did not reach the printer.");
                result.code = cli_exit::kRefused;
                break;
            case identity::ResetResult::Sent:
                result.lines.push_back("Reset sent");
                break;
        }
        result.json["reset"] = result.code == cli_exit::kDone;
    } else if (command == "counters") {
        ShowCounters(result, msg, host);
    } else if (command == "send") {
        const std::string text = Latin1Upper(*Latin1(options.text));
        const bool sent = counters::SendQuickCommand(msg, host, text);
        result.json["sent"] = sent ? Json(Utf8(text)) : Json(nullptr);
        result.lines.push_back(sent ? "Sent: " + Utf8(text) : "Not sent");
        // A command that prints or cleans shows its effect on the counters.
        ShowCounters(result, msg, host);
        if (!sent) result.code = cli_exit::kRefused;
    } else if (command == "print") {
        const counters::PrintReport sent =
            counters::SendPrintFile(msg, host, options.file, options.file);
        result.json["printed"] = sent.result == counters::PrintResult::Sent;
        result.json["bytes_sent"] = sent.sent;
        result.json["bytes"] = sent.length;
        switch (sent.result) {
            case counters::PrintResult::Sent:
                result.lines.push_back("Sent " + options.file);
                break;
            case counters::PrintResult::OpenFailed:
                host.Message("Cannot read " + options.file + ": " + sent.reason, MsgButtons::Ok);
                result.code = cli_exit::kFileError;
                break;
            case counters::PrintResult::ReadFailed:
                result.code = cli_exit::kFileError;
                break;
            case counters::PrintResult::TooLarge:
            case counters::PrintResult::Cut:
                result.code = cli_exit::kRefused;
                break;
        }
    } else if (command == "upgrade" || command == "upgrade-laminator") {
        firmware::UpgradeOutcome upgraded;
        std::optional<std::string> versionBefore;
        if (command == "upgrade") {
            versionBefore = msg.RequestStatus(cmd::VRS);
            const std::string extension = firmware::ExtensionForVersion(versionBefore);
            upgraded = firmware::UpgradePrinter(msg, host, options.file, extension);
        } else if (msg.GetPrinterFamily() != family::kH) {
            host.Message("Laminator firmware: Not applicable", MsgButtons::Ok);
            upgraded.result = firmware::UpgradeResult::SendFailed;
            result.json["applicable"] = false;
        } else {
            upgraded = firmware::UpgradeLaminator(msg, host, options.file);
        }
        static constexpr const char* kNames[] = {"declined",  "open failed", "bad extension",
                                                 "failed",    "upgraded",    "empty file",
                                                 "too large", "read failed"};
        static constexpr int kCodes[] = {
            cli_exit::kUsage, cli_exit::kFileError, cli_exit::kRefused, cli_exit::kRefused,
            cli_exit::kDone,  cli_exit::kRefused,   cli_exit::kRefused, cli_exit::kFileError};
        const size_t index = static_cast<size_t>(upgraded.result);
        result.code = kCodes[index];
        result.json["result"] = kNames[index];
        result.lines.push_back(std::string("Upgrade: ") + kNames[index]);
        if (upgraded.result == firmware::UpgradeResult::OpenFailed) {
            host.Message("Cannot read " + options.file + ": " + upgraded.fileError, MsgButtons::Ok);
        } else if (upgraded.result == firmware::UpgradeResult::ReadFailed) {
            host.Message("Reading " + options.file + " failed part-way: " + upgraded.fileError,
                         MsgButtons::Ok);
        }
        if (command == "upgrade" && upgraded.result == firmware::UpgradeResult::Upgraded) {
            watch.ExpectRestart();
            const std::optional<std::string> versionAfter = firmware::VersionAfterRestart(msg);
            result.json["version_before"] = OptionalJson(versionBefore);
            result.json["version_after"] = OptionalJson(versionAfter);
            result.lines.push_back("Firmware version before: " +
                                   Utf8(versionBefore.value_or(std::string())));
            result.lines.push_back("Firmware version after: " +
                                   Utf8(versionAfter.value_or(std::string())));
            if (!versionAfter) {
                host.Message("The printer did not answer VRS after its restart", MsgButtons::Ok);
                result.code = cli_exit::kRefused;
            }
        }
    } else if (command == "query" || command == "sensors") {
        const bool sensors = command == "sensors";
        const query_report::RunResult report =
            query_report::Run(msg, sensors ? query_report::kSensorTitle : query_report::kQueryTitle,
                              sensors ? cmd::SNR : cmd::QPR, query_report::LocalTimeNow());
        Json list = Json::array();
        for (const std::string& line : report.lines) {
            list.push_back(Utf8(line));
            // On screen a line break inside a report line would split it; the
            // saved file and the JSON keep the printer's bytes.
            std::string shown = Utf8(line);
            std::erase_if(shown, [](char c) { return c == '\r' || c == '\n'; });
            result.lines.push_back(shown);
        }
        result.json["lines"] = list;
        result.json["complete"] = report.Complete();
        result.json["stopped_at_item"] = report.Complete() ? Json() : Json(report.stoppedAt);
        result.json["unanswered_items"] = report.unanswered;
        if (const std::optional<std::string> why = query_report::IncompleteText(report)) {
            host.Message(*why, MsgButtons::Ok);
            result.code = cli_exit::kRefused;
        }
        if (!options.save.empty()) SaveReport(options, report, target, host, result);
    } else if (command == "network") {
        network::Settings settings = network::Read(msg);
        const bool change = options.dhcp || options.isStatic || !options.ip.empty() ||
                            !options.mask.empty() || !options.gateway.empty();
        if (!settings.applicable) {
            host.Message(network::kNotApplicableText, MsgButtons::Ok);
            result.code = cli_exit::kRefused;
        } else if (change) {
            int mode = settings.mode;
            if (options.dhcp) mode = network::kModeDynamic;
            if (options.isStatic) mode = network::kModeStatic;
            auto addresses = settings.addresses;
            const std::string* given[] = {&options.ip, &options.mask, &options.gateway};
            for (size_t i = 0; i < addresses.size(); ++i) {
                if (!given[i]->empty()) addresses[i] = ParseEthernetTarget(*given[i])->address;
            }
            const network::SaveResult saved =
                network::Save(msg, settings.productId, mode, addresses);
            ShowSaveWrites(result, saved, host);
            settings = network::Read(msg);
            // A printer that no longer answers is not one without Ethernet.
            if (!settings.applicable) {
                host.Tell("The settings could not be read back after the save.");
                result.code = cli_exit::kRefused;
                result.json["read_back"] = false;
                return result;
            }
        }
        ShowNetwork(result, settings);
    } else if (command == "encode") {
        if (options.selfTest) {
            const bool sent = magstripe::SelfTest(msg, host);
            result.json["self_test"] = sent;
            result.lines.push_back(sent ? "Self test started" : "Self test not sent");
            if (!sent) result.code = cli_exit::kRefused;
        } else {
            magstripe::EncodeRequest request;
            Json tracks = Json::object();
            for (size_t i = 0; i < request.text.size(); ++i) {
                if (!options.tracks[i]) continue;
                request.selected[i] = true;
                request.text[i] = *Latin1(*options.tracks[i]);
                if (i == 0) request.text[i] = Latin1Upper(request.text[i]);
                tracks[std::to_string(i + 1)] = Utf8(request.text[i]);
            }
            request.highCoercivity = options.hiCo;
            const magstripe::EncodeResult encoded = magstripe::Encode(msg, host, request);
            if (host.Declined()) {
                result.code = cli_exit::kUsage;
            } else if (encoded != magstripe::EncodeResult::Sent) {
                result.code = cli_exit::kRefused;
                result.json["encoded"] = nullptr;
                result.lines.push_back("Not encoded");
            } else {
                result.json["encoded"] = tracks;
                result.json["hi_co"] = options.hiCo;
                result.lines.push_back(std::string("Encoded") +
                                       (options.hiCo ? " (high coercivity)" : ""));
            }
        }
    } else if (command == "read-card") {
        uint8_t selection = 0;
        for (char c : options.trackList) {
            if (c >= '1' && c <= '3') selection |= cardread::TrackBit(c - '0');
        }
        const magstripe::ReadResult read = magstripe::ReadCard(msg, host, selection);
        if (read.outcome != magstripe::ReadOutcome::Read) {
            result.code = cli_exit::kRefused;
            result.json["read"] = false;
        } else {
            static constexpr const char* kVerdicts[] = {"decoded", "invalid data",
                                                        "firmware incompatibility"};
            result.json["verdict"] = kVerdicts[static_cast<size_t>(read.view.verdict)];
            if (read.view.verdict != cardread::RecordVerdict::Decoded) {
                result.code = cli_exit::kRefused;
            }
            Json tracks = Json::array();
            for (int i = 0; i < cardread::kTrackCount; ++i) {
                const cardread::TrackView& track = read.view.tracks[static_cast<size_t>(i)];
                const bool selected = (selection & cardread::TrackBit(i + 1)) != 0;
                tracks.push_back({{"track", i + 1},
                                  {"selected", selected},
                                  {"result", LedName(track.led)},
                                  {"text", Utf8(track.text)}});
                result.lines.push_back("Track" + std::to_string(i + 1) + " " + LedName(track.led) +
                                       (track.text.empty() ? "" : ": " + Utf8(track.text)));
                if (selected && track.led != cardread::TrackLed::Pass) {
                    result.code = cli_exit::kRefused;
                }
            }
            result.json["tracks"] = tracks;
        }
    } else if (command == "eject") {
        const bool sent = magstripe::Eject(msg);
        result.json["ejected"] = sent;
        result.lines.push_back(sent ? "Ejected" : "Not sent");
        if (!sent) {
            host.Tell("The eject request did not reach the printer.");
            result.code = cli_exit::kRefused;
        }
    }
    return result;
}

struct Shared {
    CSharedStream* out;
    CSharedStream* err;
    std::shared_ptr<CTraceFile> trace;
    CliEnvironment environment;
    bool fleet = false;
};

// One attempt at the command on one printer: connect, then run it, unless
// the printer let the connection's first request pass in silence.
Result RunAttempt(const Options& options, const Target& target, const Shared& shared,
                  CCliHost& host, CCommandWatch& watch, std::ostream& usbDiagnostics) {
    tessaly::ProgramState state;
    state.printerIpAddress = target.address;
    CCliUsbSelection selection(options.usb.value_or(std::string()));

    // Each printer its own simulated printer, so a fleet of them runs side
    // by side as real ones do.
    std::unique_ptr<CSimulatedPrinterPorts> simulated;
    LinkFactory factory;
    Result result;
    if (options.simulated) {
        simulated = std::make_unique<CSimulatedPrinterPorts>(options.simState);
        std::string error;
        if (!simulated->Start(&error)) {
            host.Message("The simulated printer cannot listen on the loopback: " + error,
                         MsgButtons::Ok);
            result.code = cli_exit::kNoConnection;
            return result;
        }
        factory = simulated->Factory(state, host, selection);
    } else if (target.portName == "USB") {
        // One libusb session and one print-queue source for the printer.
        std::shared_ptr<IUsbBackend> backend = MakeSystemUsbBackend();
        std::shared_ptr<IPrintQueueSource> queues = MakeSystemPrintQueues();
        factory = [&, backend, queues](int,
                                       const std::string&) -> std::unique_ptr<CCharacterInterface> {
            UsbLinkParts parts{backend, queues, selection, host, state};
            // The link's diagnostic line must not land in the output a
            // script reads.
            parts.diagnostics = &usbDiagnostics;
            return std::make_unique<CUSBDevice>(parts);
        };
    } else {
        const uint16_t port = target.port;
        const int receiveWaitMs = shared.environment.receiveWaitMs > 0
                                      ? shared.environment.receiveWaitMs
                                      : CEthernetIF::kReceiveTimeoutMs;
        factory = [&state, port, receiveWaitMs](
                      int kind,
                      const std::string& portName) -> std::unique_ptr<CCharacterInterface> {
            if (kind == kLinkEthernet) {
                return std::make_unique<CEthernetIF>(state, port, receiveWaitMs);
            }
            return std::make_unique<CParallelIF>(portName);
        };
    }
    if (shared.trace) factory = TracedLinkFactory(std::move(factory), shared.trace, target.label);
    factory = CCommandWatch::Watched(std::move(factory), watch);

    CMessageIF msg(host, std::move(factory));
    if (!msg.SelectPort(target.portName)) {
        if (const std::optional<std::string>& why = watch.OpenFailure()) host.Tell(*why);
        result.code = cli_exit::kNoConnection;
        return result;
    }
    // The connection's own request may have gone unanswered already.
    watch.RequestOver();
    if (watch.Stopped()) return result;
    result = RunCommand(options, target, watch, msg, host, state);
    watch.RequestOver();
    return result;
}

Result RunOnPrinter(const Options& options, const Target& target, const Shared& shared) {
    // Set while a stopped command winds down: its remaining requests fail at
    // once, and what the task then says of the values it did not get would
    // mislead; the reason of the stop is said instead.
    CCommandWatch* winding = nullptr;
    CliHostOptions hostOptions;
    hostOptions.yes = options.yes;
    hostOptions.retries = options.retries;
    hostOptions.progressBar = shared.environment.stderrIsTerminal && !shared.fleet;
    hostOptions.prefix = shared.fleet ? target.label + ": " : std::string();
    hostOptions.sleep = shared.environment.sleep;
    hostOptions.muted = [&winding] { return winding && winding->Stopped(); };
    CCliHost host(*shared.err, hostOptions);
    std::ostringstream usbDiagnostics;

    using Clock = CCommandWatch::Clock;
    std::optional<Clock::time_point> deadline;
    if (options.timeoutSeconds > 0) {
        deadline = Clock::now() + std::chrono::seconds(options.timeoutSeconds);
    }
    const bool reportGoesOn = options.command == "query" || options.command == "sensors";
    Result result;
    for (;;) {
        CCommandWatch watch(deadline, options.timeoutSeconds, shared.trace, reportGoesOn);
        if (options.command == "print") watch.NeedsNoReply();
        winding = &watch;
        result = RunAttempt(options, target, shared, host, watch, usbDiagnostics);
        winding = nullptr;
        if (!watch.Stopped()) break;
        const CCommandWatch::Stop& stop = *watch.Stopped();
        // A question a stopped command could not put to anyone was not
        // declined by the command line: the stop's code says what happened.
        result.code =
            result.code == cli_exit::kUsage ? stop.exitCode : std::max(result.code, stop.exitCode);
        result.json["stopped"] = stop.reason;
        // A printer that said nothing at all is tried again like one that
        // could not be reached; one that stopped half-way is not, since
        // part of the command may have taken effect.
        const bool timeLeft = !deadline || Clock::now() < *deadline;
        if (stop.printerSilent && stop.exitCode == cli_exit::kRefused && timeLeft) {
            if (host.Message(stop.reason, MsgButtons::RetryCancel) == MsgResult::Retry) {
                host.Pause(CMessageIF::kRetryPauseMs);
                continue;
            }
        } else {
            host.Message(stop.reason, MsgButtons::Ok);
        }
        break;
    }
    // A question answered No for want of --yes is a command line that asked
    // for something it did not allow.
    if (host.Declined()) result.code = cli_exit::kUsage;
    if (!usbDiagnostics.str().empty()) host.Message(usbDiagnostics.str(), MsgButtons::Ok);
    if (result.code != cli_exit::kDone && host.Messages().empty()) {
        // Every failure says something: a script's log must show why.
        host.Message(
            options.command + " did not succeed (exit status " + std::to_string(result.code) + ")",
            MsgButtons::Ok);
    }
    Json messages = Json::array();
    for (const std::string& line : host.Messages()) messages.push_back(Utf8(line));
    result.json["messages"] = messages;
    return result;
}

// --- the command line ----------------------------------------------------------

void Print(const Options& options, const Target& target, Result& result, const Shared& shared) {
    if (options.json) {
        Json document = {
            {"printer", target.label}, {"command", options.command}, {"exit_code", result.code}};
        document.update(result.json);
        // Paths from the command line need not be UTF-8; a stray byte must
        // not cost the printer's result.
        shared.out->Write(
            document.dump(shared.fleet ? -1 : 2, ' ', false, Json::error_handler_t::replace) +
            "\n");
        return;
    }
    std::string text;
    for (const std::string& line : result.lines) {
        text += (shared.fleet ? target.label + ": " : std::string()) + line + "\n";
    }
    shared.out->Write(text);
}

int ListPorts(const Options& options, const Shared& shared) {
    tessaly::ProgramState state;
    CliHostOptions hostOptions;
    hostOptions.sleep = shared.environment.sleep;
    CCliHost host(*shared.err, hostOptions);
    std::unique_ptr<CSimulatedPrinterPorts> simulated;
    std::shared_ptr<IUsbBackend> backend;
    std::shared_ptr<IPrintQueueSource> queues;
    if (options.simulated) {
        simulated = std::make_unique<CSimulatedPrinterPorts>(options.simState);
        backend = simulated->UsbBackend();
        queues = simulated->UsbBackend();
    } else {
        backend = MakeSystemUsbBackend();
        queues = MakeSystemPrintQueues();
    }
    CUsbDiscovery discovery(*backend, *queues, state);
    const bool found = discovery.DiscoverUsbPrinters("") != 0;
    Json usb = Json::array();
    std::vector<std::string> lines;
    for (int i = 0; found && i <= state.usbPrinterLastIndex; ++i) {
        const tessaly::UsbPrinterEntry& entry = state.usbPrinterTable[static_cast<size_t>(i)];
        if (entry.devicePath.empty()) continue;
        const std::string line = BuildUsbPrinterLabel(entry, state);
        usb.push_back({{"serial", Utf8(entry.instanceSegment)},
                       {"product_id", entry.pidText},
                       {"queue", Utf8(entry.printerName)},
                       {"line", Utf8(line)}});
        lines.push_back("USB " + Utf8(entry.instanceSegment) + ": " + Utf8(line));
    }
    if (usb.empty()) lines.push_back("USB: no printers");
    // Every LPT name reaches the machine's one parallel port.
    std::error_code error;
    const bool parallel = options.simulated || std::filesystem::exists("/dev/parport0", error);
    Json lpt = Json::array();
    if (parallel) {
        for (const char* name : {"LPT1:", "LPT2:", "LPT3:", "LPT4:"}) lpt.push_back(name);
    }
    lines.push_back(parallel ? (options.simulated ? "Parallel: LPT1: to LPT4: (simulated)"
                                                  : "Parallel: LPT1: to LPT4: (/dev/parport0)")
                             : "Parallel: none");
    if (options.json) {
        shared.out->Write(Json{{"usb", usb}, {"parallel", lpt}}.dump(
                              2, ' ', false, Json::error_handler_t::replace) +
                          "\n");
    } else {
        std::string text;
        for (const std::string& line : lines) text += line + "\n";
        shared.out->Write(text);
    }
    return cli_exit::kDone;
}

std::optional<std::string> CheckOptions(Options& options, std::vector<Target>& targets) {
    if (options.command == "send" && options.text.empty()) return "send: the command is empty";
    if (options.command == "send" && !Latin1(options.text)) {
        return "the command holds characters beyond Latin-1";
    }
    // The printer's command field holds no more; a command cut to fit would
    // be another command.
    if (options.command == "send" && Latin1(options.text)->size() > counters::kCommandLimit) {
        return "send: the command holds " + std::to_string(Latin1(options.text)->size()) +
               " characters; the printer's command field takes at most " +
               std::to_string(counters::kCommandLimit);
    }
    if (options.command == "identity") {
        for (const std::string& set : options.settings) {
            const std::string name = set.substr(0, set.find('='));
            if (set.find('=') == std::string::npos ||
                (name != "FDC" && name != "FSP" && name != "FEP" && name != "FPP")) {
                return "--set takes FDC=, FSP=, FEP= or FPP= and a value, not " + set;
            }
            const std::optional<std::string> value = Latin1(set.substr(set.find('=') + 1));
            if (!value) return "the setting holds characters beyond Latin-1: " + set;
            // The value goes into its request as it stands: a control
            // character (0x1C 0x03 ends a frame) would make the rest a request
            // of its own, and a longer value would be cut.
            if (std::any_of(value->begin(), value->end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
                return "the setting holds a control character: " + name;
            }
            if (value->size() > identity::kSettingTextLimit) {
                return "the setting " + name + " takes at most " +
                       std::to_string(identity::kSettingTextLimit) + " characters";
            }
        }
    }
    if (options.command == "network") {
        for (const std::string* address : {&options.ip, &options.mask, &options.gateway}) {
            if (!address->empty() && !textscan::DottedAddress(*address)) {
                return "not an IPv4 address: " + *address;
            }
        }
    }
    if (options.command == "encode" && !options.selfTest) {
        bool any = false;
        for (size_t i = 0; i < options.tracks.size(); ++i) {
            if (!options.tracks[i]) continue;
            any = true;
            const std::optional<std::string> text = Latin1(*options.tracks[i]);
            if (!text) return "track " + std::to_string(i + 1) + " holds characters beyond Latin-1";
            if (!magstripe::IsTrackText(*text)) {
                return "track " + std::to_string(i + 1) +
                       " holds a control character; a track takes none below 0x20";
            }
            if (text->size() > static_cast<size_t>(magstripe::kTrackLimits[i])) {
                return "track " + std::to_string(i + 1) + " holds at most " +
                       std::to_string(magstripe::kTrackLimits[i]) + " characters";
            }
        }
        if (!any) return "encode: give --track1, --track2 or --track3, or --self-test";
    }
    if (options.command == "read-card") {
        for (char c : options.trackList) {
            if (c != ',' && (c < '1' || c > '3')) return "--tracks takes 1, 2 and 3, as 1,2,3";
        }
        if (options.trackList.find_first_of("123") == std::string::npos) {
            return "--tracks names no track";
        }
    }

    for (const std::string& text : options.ethernet) {
        std::optional<Target> target = ParseEthernetTarget(text);
        if (!target) return "not an IPv4 address with an optional :PORT: " + text;
        targets.push_back(*target);
    }
    const int kinds = (targets.empty() ? 0 : 1) + (options.usb ? 1 : 0) + (options.lpt ? 1 : 0);
    if (kinds > 1) return "name USB, a parallel port, or Ethernet printers, not several kinds";
    if (options.usb) {
        targets.push_back({options.usb->empty() ? "USB" : "USB " + *options.usb, "USB"});
    }
    if (options.lpt) {
        const std::string name = "LPT" + std::to_string(options.lpt) + ":";
        targets.push_back({name, name});
    }
    if (targets.empty() && options.simulated) targets.push_back({"simulated", "Ethernet"});
    if (targets.empty()) return "name a printer: --ethernet ADDR, --usb [SERIAL] or --lpt N";
    if (!options.save.empty() && targets.size() > 1) {
        // Printers that run at once must not write one file between them.
        if (options.save.find(kAddressField) == std::string::npos) {
            return std::string("--save in a fleet takes a pattern with ") + kAddressField +
                   ", not one file for every printer: " + options.save;
        }
        std::set<std::string> paths;
        for (const Target& target : targets) {
            if (!paths.insert(SavePath(options.save, target.label)).second) {
                return "two printers would save to " + SavePath(options.save, target.label);
            }
        }
    }
    return std::nullopt;
}

}  // namespace

int RunCli(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err,
           const CliEnvironment& environment) {
    Options options;
    std::vector<std::string> args = arguments;
    const auto usage = [&](const std::string& why) {
        err << kProgram << ": " << why << "\nRun " << kProgram << " --help for more.\n";
        return cli_exit::kUsage;
    };
    if (const std::optional<std::string> simulator =
            TakeSimulatedPrinterOptions(args, options.simulated, options.simState)) {
        return usage(*simulator);
    }

    CLI::App app(
        "Maintenance of ID-card printers from a shell: one printer, or a fleet on "
        "Ethernet.",
        kProgram);
    app.footer(std::string("\n") + kExitCodesText);
    app.set_version_flag("--version", std::string(kProgram) + " " + TESSALY_VERSION);
    app.fallthrough();
    app.require_subcommand(1);
    app.option_defaults()->group("Connection");
    app.add_option("--ethernet", options.ethernet,
                   "a printer on the network, IPv4 address and optional :PORT (default 9100); "
                   "repeat for a fleet")
        ->type_name("ADDR[:PORT]");
    app.add_option("--ethernet-file", options.ethernetFile,
                   "a regular file of Ethernet printers, one ADDR[:PORT] a line ('#' starts a "
                   "comment)")
        ->type_name("FILE");
    app.add_option("--usb", options.usb,
                   "the USB printer with this serial number; without one, the only USB printer "
                   "(of several, none: they are listed, exit 3)")
        ->expected(0, 1)
        ->type_name("[SERIAL]");
    app.add_option("--lpt", options.lpt, "the parallel port LPTN: (1 to 4)")
        ->check(CLI::Range(1, 4))
        ->type_name("N");
    app.add_flag(kSimulatedOption, options.simulated,
                 "a built-in simulated printer behind every port kind; simulator options "
                 "(tessaly-printer-sim --help) may follow it");
    app.option_defaults()->group("Behaviour");
    app.add_flag("--json", options.json,
                 "one JSON document (one JSON line per printer in a fleet) instead of text");
    app.add_flag("--yes", options.yes, "answer yes to the questions reset and upgrade ask");
    app.add_option("--retries", options.retries,
                   "retry a printer that cannot be reached, or that answers its first request "
                   "with nothing at all, this many times, 2 s apart (default 0)")
        ->check(CLI::NonNegativeNumber)
        ->type_name("N");
    app.add_option("--timeout", options.timeoutSeconds,
                   "end a printer's command, its retries included, after SECONDS; checked "
                   "between requests, so a request waiting for its reply ends its wait (up to "
                   "10 s) first (default: no limit)")
        ->check(CLI::Range(1, 86400))
        ->type_name("SECONDS");
    app.add_option("--jobs", options.jobs, "printers of a fleet at work at once (default 8)")
        ->check(CLI::Range(1, 256))
        ->type_name("N");
    app.add_option("--trace", options.trace,
                   "append every frame written and reply read to FILE (time, link, hex dump); "
                   "a regular file only; a record that cannot be written ends the run (exit 4)")
        ->type_name("FILE");

    // The commands' own options.
    app.option_defaults()->group("Options");
    const auto command = [&](const char* name, const char* what) {
        CLI::App* sub = app.add_subcommand(name, what);
        sub->callback([&options, name] { options.command = name; });
        return sub;
    };
    command("ports", "list the USB printers with their print queues, and the parallel ports");
    CLI::App* identityCmd =
        command("identity", "read serial number, model, firmware, product ID and settings");
    identityCmd
        ->add_option("--set", options.settings,
                     "save a setting first: FDC (density), FSP (image start), FEP (image end), "
                     "FPP (position); at most 63 characters, no control characters; repeatable")
        ->type_name("MN=VALUE");
    command("reset", "reset the printer's configuration to its defaults (needs --yes)");
    command("counters", "read the four usage counters");
    command("send",
            "send a typed command, as the Quick Commands field does; sent as typed, "
            "control characters included")
        ->add_option("TEXT", options.text, "the command, at most 63 characters, e.g. TST")
        ->required();
    command("print", "send a print file unchanged, every byte as it is")
        ->add_option("FILE", options.file, "the print file (.prn)")
        ->required();
    CLI::App* upgradeCmd = command(
        "upgrade", "upgrade the printer's firmware (needs --yes), then read its version again");
    upgradeCmd->footer(
        "\nAfter \"UPG\" the printer is given 10 s to restart, then asked its firmware "
        "version.\nA printer that has not answered within the receive wait (10 s), nor after "
        "one\nreconnect (retried as --retries says, 2 s apart), ends the command with exit 1.");
    upgradeCmd->add_option("FILE", options.file, "the firmware image (.bin, .cf?)")->required();
    command("upgrade-laminator", "upgrade an attached laminator's firmware (needs --yes)")
        ->add_option("FILE", options.file, "the laminator firmware (.hex)")
        ->required();
    for (const auto& [name, what] :
         {std::pair{"query", "the query report"}, std::pair{"sensors", "the sensor test report"}}) {
        CLI::App* report = command(name, what);
        CLI::Option* save =
            report
                ->add_option("--save", options.save,
                             "also save it, each line ending in CR LF; in a fleet FILE must hold "
                             "{addr}, which becomes each printer's address")
                ->type_name("FILE");
        report
            ->add_flag("--save-incomplete", options.saveIncomplete,
                       "save a report the printer stopped answering in (else FILE is left as "
                       "it was)")
            ->needs(save);
    }
    CLI::App* networkCmd = command("network", "read, or save, the printer's network settings");
    networkCmd->add_option("--ip", options.ip, "the fixed IP address")->type_name("A.B.C.D");
    networkCmd->add_option("--mask", options.mask, "the subnet mask")->type_name("A.B.C.D");
    networkCmd->add_option("--gateway", options.gateway, "the default gateway")
        ->type_name("A.B.C.D");
    CLI::Option* dhcp = networkCmd->add_flag("--dhcp", options.dhcp, "dynamic addressing");
    networkCmd->add_flag("--static", options.isStatic, "a fixed address")->excludes(dhcp);
    CLI::App* encodeCmd = command("encode", "encode magnetic tracks on the card in the printer");
    for (int i = 0; i < cardread::kTrackCount; ++i) {
        const std::string name = "--track" + std::to_string(i + 1);
        encodeCmd
            ->add_option(name, options.tracks[static_cast<size_t>(i)],
                         "the data of track " + std::to_string(i + 1) +
                             ", without sentinels; no control characters")
            ->type_name("TEXT");
    }
    encodeCmd->add_flag("--hi-co", options.hiCo, "high-coercivity encoding");
    encodeCmd->add_flag("--self-test", options.selfTest, "the printer's own encoding self test");
    command("read-card", "read the card's tracks back and check each")
        ->add_option("--tracks", options.trackList, "the tracks to read (default 1,2,3)")
        ->type_name("1,2,3");
    command("eject", "eject the card");
    command("doctor",
            "find why a printer cannot be reached, and say what to do; with no connection, "
            "every USB printer, the parallel port and each --ethernet");

    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        // The help of the command named, when one was.
        const std::vector<CLI::App*> named = app.get_subcommands();
        std::string help = named.empty() ? app.help() : named.front()->help();
        if (!named.empty()) {
            out << help;
            return cli_exit::kDone;
        }
        const std::string generic = std::string(kProgram) + " [OPTIONS] SUBCOMMAND";
        if (const size_t at = help.find(generic); at != std::string::npos) {
            help.replace(at, generic.size(),
                         std::string(kProgram) + " [connection] COMMAND [options]");
        }
        out << help << "\nSimulator options, after " << kSimulatedOption << ":\n"
            << SimPrinterOptionsHelp();
        return cli_exit::kDone;
    } catch (const CLI::CallForVersion&) {
        out << kProgram << " " << TESSALY_VERSION << "\n";
        return cli_exit::kDone;
    } catch (const CLI::ParseError& e) {
        return usage(e.what());
    }

    CSharedStream sharedOut(out);
    CSharedStream sharedErr(err);
    Shared shared{&sharedOut, &sharedErr, nullptr, environment, false};

    if (!options.ethernetFile.empty()) {
        std::string error;
        const std::optional<std::string> content = ReadRegularFile(options.ethernetFile, error);
        if (!content) {
            err << kProgram << ": cannot read " << options.ethernetFile << ": " << error << "\n";
            return cli_exit::kFileError;
        }
        std::istringstream file(*content);
        std::string line;
        while (std::getline(file, line)) {
            const std::string text(textscan::Trim(line.substr(0, line.find('#'))));
            if (!text.empty()) options.ethernet.push_back(text);
        }
    }
    if (options.command == "ports") return ListPorts(options, shared);
    if (options.command == "doctor") {
        if (options.simulated) return usage("doctor checks the machine's own ports");
        return RunDoctorCommand({options.ethernet, options.usb, options.lpt, options.json}, out);
    }

    std::vector<Target> targets;
    if (const std::optional<std::string> why = CheckOptions(options, targets)) return usage(*why);
    if (!options.trace.empty()) {
        std::string error;
        shared.trace = CTraceFile::Open(options.trace, error);
        if (!shared.trace) {
            err << kProgram << ": cannot open the trace file " << options.trace << ": " << error
                << "\n";
            return cli_exit::kFileError;
        }
    }
    shared.fleet = targets.size() > 1;

    std::vector<int> codes(targets.size(), cli_exit::kDone);
    std::atomic<size_t> next{0};
    const auto work = [&] {
        for (size_t i = next++; i < targets.size(); i = next++) {
            Result result = RunOnPrinter(options, targets[i], shared);
            codes[i] = result.code;
            Print(options, targets[i], result, shared);
        }
    };
    const size_t workers = std::min(targets.size(), static_cast<size_t>(options.jobs));
    if (workers <= 1) {
        work();
    } else {
        std::vector<std::thread> threads;
        for (size_t i = 0; i < workers; ++i) threads.emplace_back(work);
        for (std::thread& thread : threads) thread.join();
    }
    return *std::max_element(codes.begin(), codes.end());
}
