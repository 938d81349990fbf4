#include "app/app.h"

#include <QCommandLineParser>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/main_sheet.h"
#include "links/ethernet_if.h"
#include "links/trace_link.h"
#include "links/usb_backend.h"
#include "protocol/connection_doctor.h"
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
    std::vector<std::string> args = ProgramArguments();
    if (!TakeTraceOption(args)) return;
    if (args.empty()) {
        m_msg.SetLinkFactory(Traced(DefaultLinkFactory(m_state, m_host, m_usbSelection)));
        m_msg.SetConnectDiagnosis([this](int kind, const std::string& portName) {
            return DiagnoseConnection(kind, portName);
        });
        return;
    }
    SimPrinterState state;
    bool asked = false;
    if (args.front() == kSimulatedPrinterOption) {
        if (std::optional<std::string> problem = TakeSimulatedPrinterOptions(args, asked, state)) {
            m_startProblem = std::move(*problem);
            return;
        }
    }
    // Every word after the simulated printer's is one of its options.
    if (!args.empty()) {
        m_startProblem = "unknown option " + args.front();
        return;
    }
    m_simulated = std::make_unique<CSimulatedPrinterPorts>(std::move(state));
    std::string error;
    if (!m_simulated->Start(&error)) {
        m_startProblem = "the simulated printer cannot listen on the loopback: " + error;
        return;
    }
    m_msg.SetLinkFactory(Traced(m_simulated->Factory(m_state, m_host, m_usbSelection)));
}

bool CKTUtilityApp::TakeTraceOption(std::vector<std::string>& args) {
    // Before the simulated printer's words, which are its own.
    for (size_t i = 0; i < args.size() && args[i] != kSimulatedPrinterOption; ++i) {
        std::string path;
        size_t words = 1;
        if (args[i] == kTraceOption) {
            if (i + 1 >= args.size()) {
                m_startProblem = std::string(kTraceOption) + ": expected a file";
                return false;
            }
            path = args[i + 1];
            words = 2;
        } else if (args[i].rfind(std::string(kTraceOption) + "=", 0) == 0) {
            path = args[i].substr(std::strlen(kTraceOption) + 1);
        } else {
            continue;
        }
        args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                   args.begin() + static_cast<std::ptrdiff_t>(i + words));
        --i;
        // Opened before anything is sent: a technician who asked for a
        // trace must not find out afterwards that there is none.
        std::string error;
        m_trace = CTraceFile::Open(path, error);
        if (!m_trace) {
            m_traceProblem = "cannot open the trace file " + path + ": " + error;
            return false;
        }
    }
    return true;
}

std::string CKTUtilityApp::DiagnoseConnection(int linkKind, const std::string& portName) {
    // Bounded, and every wait in it lets the window paint; the wait cursor
    // says the box is on its way.
    m_host.SetWaitCursor(true);
    const std::unique_ptr<doctor::IDoctorProbes> probes = doctor::MakeSystemDoctorProbes();
    doctor::Rig rig{*probes, MakeSystemUsbBackend(), MakeSystemPrintQueues(), &m_host};
    const std::string details = doctor::DetailsText(doctor::DiagnoseConnection(
        rig, linkKind, portName, m_state.PrinterAddressText(), CEthernetIF::kPrinterPort));
    m_host.SetWaitCursor(false);
    return details;
}

LinkFactory CKTUtilityApp::Traced(LinkFactory factory) const {
    return m_trace ? TracedLinkFactory(std::move(factory), m_trace) : factory;
}

CKTUtilityApp::~CKTUtilityApp() = default;

std::optional<int> CKTUtilityApp::AnswerInformationOptions(int argc, char** argv) {
    // Words after --simulated-printer belong to the simulated printer, and
    // Qt's own (-platform, -style) are QApplication's: neither is an error
    // here; the constructor judges what is left once QApplication has run.
    QStringList own;
    for (int i = 0; i < argc; ++i) {
        const QString word = QString::fromLocal8Bit(argv[i]);
        if (i > 0 && word == QLatin1String(kSimulatedPrinterOption)) break;
        own << word;
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Maintenance of ID-card printers attached by USB, a parallel port or Ethernet.\n"
        "Without options the program opens its window."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(QCommandLineOption(
        QLatin1String(kSimulatedPrinterOption + 2),
        QStringLiteral("Connect every port kind to one built-in simulated printer; the "
                       "simulator options below may follow.")));
    parser.addOption(QCommandLineOption(
        QLatin1String(kTraceOption + 2),
        QStringLiteral("Append every frame written to the printer and every reply read to FILE, "
                       "with the time, the link and a hex dump."),
        QStringLiteral("FILE")));
    parser.parse(own);
    if (!parser.isSet(help) && !parser.isSet(version)) return std::nullopt;

    // A core application, no GUI: it gives both texts the program's name.
    QCoreApplication core(argc, argv);
    if (parser.isSet(help)) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        std::printf("\nSimulator options, after %s:\n%s", kSimulatedPrinterOption,
                    SimPrinterOptionsHelp().c_str());
    } else {
        std::printf("%s %s\n", QCoreApplication::applicationName().toLocal8Bit().constData(),
                    QCoreApplication::applicationVersion().toLocal8Bit().constData());
    }
    return 0;
}

int CKTUtilityApp::Run() {
    if (!m_traceProblem.empty()) {
        std::fprintf(stderr, "tessaly: %s\n", m_traceProblem.c_str());
        return kTraceFailedStatus;
    }
    if (!m_startProblem.empty()) {
        std::fprintf(stderr, "tessaly: %s\nusage: tessaly [%s [simulator options]]\n%s",
                     m_startProblem.c_str(), kSimulatedPrinterOption,
                     SimPrinterOptionsHelp().c_str());
        return 2;
    }
    m_sheet = std::make_unique<CMainSheet>(m_msg, m_host, m_host, m_state);
    if (m_simulated) m_sheet->setWindowTitle(m_sheet->windowTitle() + kSimulatedTitleSuffix);
    m_msg.SetMainSheet(m_sheet.get());
    m_sheet->exec();
    CloseDown(m_state, m_msg, m_sheet);
    return 0;
}

bool CKTUtilityApp::CloseDown(tessaly::ProgramState& state, CMessageIF& msg,
                              std::unique_ptr<CMainSheet>& sheet) {
    const bool closed = state.CloseActiveEthernetSocket();
    msg.SetMainSheet(nullptr);
    sheet.reset();
    return closed;
}
