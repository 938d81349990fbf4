#include "cli/doctor_command.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/cli.h"
#include "cli/cli_text.h"
#include "cli/commands/command.h"
#include "links/ethernet_if.h"
#include "protocol/connection_doctor.h"

int RunDoctorCommand(const DoctorRequest& request, doctor::Rig& rig, std::ostream& out) {
    std::vector<doctor::Diagnosis> diagnoses;
    const bool none = request.ethernet.empty() && !request.usb && request.lpt == 0;
    if (none || request.usb) {
        for (doctor::Diagnosis& diagnosis : doctor::DiagnoseUsb(rig, request.usb.value_or(""))) {
            diagnoses.push_back(std::move(diagnosis));
        }
    }
    // Every port name reaches the machine's one parallel port.
    if (none || request.lpt != 0) {
        const int number = request.lpt != 0 ? request.lpt : 1;
        diagnoses.push_back(doctor::DiagnoseParallel(rig, "LPT" + std::to_string(number) + ":"));
    }
    for (const std::string& address : request.ethernet) {
        diagnoses.push_back(doctor::DiagnoseEthernet(rig, address, CEthernetIF::kPrinterPort));
    }

    bool answered = false;
    for (const doctor::Diagnosis& diagnosis : diagnoses) answered = answered || diagnosis.answered;
    const int code = answered ? cli_exit::kDone : cli_exit::kNoConnection;
    if (request.json) {
        Json printers = Json::array();
        for (const doctor::Diagnosis& diagnosis : diagnoses) {
            Json checks = Json::array();
            for (const doctor::CheckResult& check : diagnosis.checks) {
                checks.push_back({{"check", check.check},
                                  {"status", check.status == doctor::Status::Ok     ? "ok"
                                             : check.status == doctor::Status::Fail ? "fail"
                                                                                    : "skip"},
                                  {"found", Utf8(check.found)},
                                  {"fix", check.fix.empty() ? Json(nullptr) : Json(check.fix)}});
            }
            printers.push_back({{"printer", Utf8(diagnosis.printer)},
                                {"answered", diagnosis.answered},
                                {"checks", checks}});
        }
        const Json document =
            Envelope(std::nullopt, "doctor", code, Json::array(), Json{{"printers", printers}});
        out << document.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
        return code;
    }
    for (size_t i = 0; i < diagnoses.size(); ++i) {
        if (i > 0) out << "\n";
        for (const std::string& line : doctor::TextLines(diagnoses[i])) out << Utf8(line) << "\n";
    }
    return code;
}

int RunDoctorCommand(const DoctorRequest& request, std::ostream& out) {
    const std::unique_ptr<doctor::IDoctorProbes> probes = doctor::MakeSystemDoctorProbes();
    doctor::Rig rig{*probes, MakeSystemUsbBackend(), MakeSystemPrintQueues()};
    return RunDoctorCommand(request, rig, out);
}
