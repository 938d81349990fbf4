#include "app/app.h"

#include <cstdio>
#include <vector>

#include "app/main_sheet.h"
#include "links/ethernet_if.h"
#include "sim/sim_options.h"
#include "sim/simulated_printer_ports.h"

namespace {

// The arguments Qt left, after the program's name.
std::vector<std::string> ProgramArguments() {
    std::vector<std::string> args;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all[i].toLocal8Bit().toStdString());
    return args;
}

}  // namespace

CKTUtilityApp::CKTUtilityApp(int& argc, char** argv)
    : m_application(argc, argv),
      m_usbSelection([this]() -> QWidget* { return m_sheet.get(); }),
      m_msg(m_host) {
    const std::vector<std::string> args = ProgramArguments();
    if (args.empty() || args.front() != kSimulatedPrinterOption) {
        m_msg.SetLinkFactory(DefaultLinkFactory(m_host, m_usbSelection));
        return;
    }
    SimPrinterState state;
    for (size_t i = 1; i < args.size() && m_startProblem.empty(); ++i) {
        std::string problem;
        switch (ParseSimPrinterOption(args, i, state, problem)) {
            case SimOptionResult::Taken:
                break;
            case SimOptionResult::Bad:
                m_startProblem = problem;
                break;
            case SimOptionResult::NotAnOption:
                m_startProblem = "unknown option " + args[i];
                break;
        }
    }
    if (!m_startProblem.empty()) return;
    m_simulated = std::make_unique<CSimulatedPrinterPorts>(std::move(state));
    std::string error;
    if (!m_simulated->Start(&error)) {
        m_startProblem = "the simulated printer cannot listen on the loopback: " + error;
        return;
    }
    m_msg.SetLinkFactory(m_simulated->Factory(m_host, m_usbSelection));
}

CKTUtilityApp::~CKTUtilityApp() = default;

int CKTUtilityApp::Run() {
    if (!m_startProblem.empty()) {
        std::fprintf(stderr, "tessaly: %s\nusage: tessaly [%s [simulator options]]\n%s",
                     m_startProblem.c_str(), kSimulatedPrinterOption, kSimPrinterOptionsHelp);
        return 2;
    }
    m_sheet = std::make_unique<CMainSheet>(m_msg, m_host);
    if (m_simulated) m_sheet->setWindowTitle(m_sheet->windowTitle() + kSimulatedTitleSuffix);
    m_msg.SetMainSheet(m_sheet.get());
    m_sheet->exec();
    CloseDown(m_msg, m_sheet);
    return 0;
}

bool CKTUtilityApp::CloseDown(CMessageIF& msg, std::unique_ptr<CMainSheet>& sheet) {
    const bool closed = CloseActiveEthernetSocket();
    msg.SetMainSheet(nullptr);
    sheet.reset();
    return closed;
}
