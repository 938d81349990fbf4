#pragma once

#include <QApplication>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/qt_host_services.h"
#include "app/usb_selection_dialog.h"
#include "protocol/message_if.h"
#include "sim/sim_options.h"

class CMainSheet;
class CTraceFile;
class CSimulatedPrinterPorts;

// The composition root: the desktop services, the program's protocol object
// and the main sheet, wired once and run.
class CKTUtilityApp {
public:
    CKTUtilityApp(int& argc, char** argv);
    ~CKTUtilityApp();

    CKTUtilityApp(const CKTUtilityApp&) = delete;
    CKTUtilityApp& operator=(const CKTUtilityApp&) = delete;

    // Runs the sheet modally; returns the program's exit code (2 for a bad
    // command line).
    int Run();

    // Answers --help and --version on standard output before any window or
    // display is needed; returns the exit code when one of them was asked for.
    static std::optional<int> AnswerInformationOptions(int argc, char** argv);

    // The program's own command-line option: the real program with one
    // simulated printer behind all three port kinds; simulator options follow.
    static constexpr const char* kSimulatedPrinterOption = ::kSimulatedPrinterOption;
    static constexpr const char* kSimulatedTitleSuffix = " - simulated printer";
    // The protocol trace: --trace FILE, before any simulator options.
    static constexpr const char* kTraceOption = "--trace";
    // The exit code when the trace file cannot be opened: no window opens.
    static constexpr int kTraceFailedStatus = 4;

    // The steps after the sheet has ended: the last Ethernet link's socket is
    // closed, then the sheet goes with all its pages. Returns whether there
    // was a socket to close.
    static bool CloseDown(tessaly::ProgramState& state, CMessageIF& msg,
                          std::unique_ptr<CMainSheet>& sheet);

private:
    // Takes --trace FILE out of the arguments and opens the file. False when
    // the command line cannot be followed.
    bool TakeTraceOption(std::vector<std::string>& args);
    // The factory with the trace in front when one was asked for.
    LinkFactory Traced(LinkFactory factory) const;
    // What the connection doctor finds for a port the printer did not
    // answer on, for the details of the retry box.
    std::string DiagnoseConnection(int linkKind, const std::string& portName);

    // Declaration order is destruction order in reverse: the protocol object
    // outlives the sheet and destroys the last link at program exit.
    QApplication m_application;
    QtHostServices m_host;
    CQtUsbSelectionRunner m_usbSelection;
    // Outlives the protocol object, whose links reach into it.
    std::unique_ptr<CSimulatedPrinterPorts> m_simulated;
    // The program-wide values; the links and the pages reach them from here.
    tessaly::ProgramState m_state;
    // Why the command line could not be followed; empty when it could.
    std::string m_startProblem;
    std::string m_traceProblem;
    std::shared_ptr<CTraceFile> m_trace;
    CMessageIF m_msg;
    std::unique_ptr<CMainSheet> m_sheet;
};
