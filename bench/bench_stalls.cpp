// The longest the window goes without its event loop running while the
// program waits for the printer: a 10 ms timer notes the largest gap
// between its ticks, as a desktop would see the window answer or not. The
// program's own host does the waiting (its idle call, its sliced pauses);
// only its boxes are answered here, and its pauses run a tenth as long.

#include <QAbstractButton>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <fstream>
#include <memory>
#include <string>

#include "app/qt_host_services.h"
#include "bench/bench.h"
#include "gui/gui_helpers.h"
#include "gui/page_harness.h"
#include "links/ethernet_if.h"
#include "links/parallel_if.h"
#include "links/program_state.h"
#include "links/usb_device.h"
#include "pages/ethernet_pp.h"
#include "pages/firmware_pp.h"
#include "pages/printer_identity_pp.h"
#include "pages/query_printer_pp.h"
#include "protocol/main_sheet_if.h"
#include "protocol/message_if.h"
#include "sim/sim_parallel_port.h"
#include "sim/sim_printer.h"
#include "sim/sim_tcp_server.h"
#include "sim/sim_usb_backend.h"
#include "support/scripted_selection.h"

namespace bench {
namespace {

// The pauses (2200 ms after a setting, the 10 s countdown) slice the same
// way whatever their length; a tenth keeps the run short.
constexpr int kPauseDivisor = 10;
// A silent printer is waited for this long per request instead of 10 s.
constexpr int kShortReceiveWaitMs = 150;
constexpr double kStallGoalMs = 50;

class BenchHost : public QtHostServices {
public:
    std::string openFile;

    MsgResult ShowMessageBox(const std::string&, MsgButtons buttons, MsgIcon) override {
        switch (buttons) {
            case MsgButtons::YesNo:
                return MsgResult::Yes;
            case MsgButtons::RetryCancel:
                return MsgResult::Cancel;
            default:
                return MsgResult::Ok;
        }
    }
    void Pause(int milliseconds) override { QtHostServices::Pause(milliseconds / kPauseDivisor); }
    std::optional<std::string> GetOpenFileName(const std::string&) override { return openFile; }
};

// The simulated printer behind one link kind, and a page's world on it.
struct StallWorld {
    tessaly::ProgramState state;
    BenchHost host;
    ScriptedSelection selection;
    CMessageIF msg{host};
    RecordingSheet sheet;
    PageContext context{msg, host, host, sheet, state};
    std::shared_ptr<CSimPrinter> printer = std::make_shared<CSimPrinter>();
    CSimTcpServer server{printer};
    std::shared_ptr<CSimUsbBackend> usb = std::make_shared<CSimUsbBackend>();
    std::shared_ptr<CSimParallelPort> port = std::make_shared<CSimParallelPort>(printer);
    bool connected = false;

    explicit StallWorld(const std::string& portName,
                        int receiveWaitMs = CEthernetIF::kReceiveTimeoutMs) {
        if (!server.Start(0)) return;
        SimUsbDevice device;
        device.printer = printer;
        usb->AddDevice(device);
        msg.SetMainSheet(&sheet);
        msg.SetLinkFactory(
            [this, receiveWaitMs](int kind,
                                  const std::string& name) -> std::unique_ptr<CCharacterInterface> {
                switch (kind) {
                    case kLinkEthernet:
                        return std::make_unique<CEthernetIF>(
                            state, CEthernetIF::Settings{
                                       server.Port(), receiveWaitMs, CEthernetIF::kConnectTimeoutMs,
                                       CEthernetIF::kSendTimeoutMs, net::kLoopbackAddress});
                    case kLinkUsb:
                        return std::make_unique<CUSBDevice>(
                            UsbLinkParts{usb, usb, selection, host, state});
                    default:
                        return std::make_unique<CParallelIF>(name, port);
                }
            });
        connected = msg.SelectPort(portName) == 1;
    }

    void Time(const std::function<void(SimTiming&)>& change) {
        printer->UpdateState([&](SimPrinterState& s) { change(s.timing); });
    }
};

// The longest gap between the ticks of a 10 ms timer while `action` runs,
// from its start to its end, in milliseconds.
double LongestStallMs(const std::function<void()>& action) {
    gui::StallProbe probe;
    action();
    return static_cast<double>(probe.LongestMs());
}

// Runs `once` (which sets up its world and returns the stall, or a negative
// value when the action did not do what it should) the bench's repeats.
Row StallRow(const Options& options, const std::string& name, const std::string& shortened,
             const std::function<double()>& once) {
    std::vector<double> stalls;
    bool faulty = false;
    for (int i = 0; i < Repeats(options); ++i) {
        const double stall = once();
        if (stall < 0) faulty = true;
        stalls.push_back(std::max(stall, 0.0));
    }
    Row row;
    row.name = "Longest stall: " + name;
    row.unit = "ms";
    row.FromRepeats(stalls);
    row.baselineName = "desktop's \"not responding\" after 5000 ms";
    row.goal = {Goal::AtMost, kStallGoalMs};
    row.faulty = faulty;
    row.note = shortened;
    return row;
}

}  // namespace

void RunStalls(const Options& options, std::vector<Row>& rows) {
    // The firmware page remembers its file in the settings: not the user's.
    QTemporaryDir settings;
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat}) {
        QSettings::setPath(format, QSettings::UserScope, settings.path());
        QSettings::setPath(format, QSettings::SystemScope, settings.path());
    }

    rows.push_back(StallRow(options, "Identity refresh, silent TCP printer",
                            "receive wait 150 ms instead of 10 s per request; nine requests", [] {
                                StallWorld world("Ethernet", kShortReceiveWaitMs);
                                world.Time([](SimTiming& t) { t.offAfterFrames = 0; });
                                CPrinterIdentityPP page(world.context);
                                page.show();
                                const auto start = Clock::now();
                                const double stall = LongestStallMs([&] { page.Activate(); });
                                const bool waited =
                                    SecondsSince(start) * 1000 >= 9 * kShortReceiveWaitMs;
                                return world.connected && waited ? stall : -1;
                            }));

    const size_t imageSize = (options.quick ? 1u : 8u) << 20;
    rows.push_back(StallRow(
        options,
        "firmware upgrade " + std::to_string(imageSize >> 20) + " MiB over TCP with its countdown",
        "the 500 ms reply pause and the 10 s countdown a tenth as long", [imageSize] {
            StallWorld world("Ethernet");
            std::string image(imageSize, '\0');
            for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7 + i / 3);
            QTemporaryDir dir;
            world.host.openFile = dir.filePath(QStringLiteral("image.cfe")).toStdString();
            std::ofstream(world.host.openFile, std::ios::binary)
                .write(image.data(), static_cast<std::streamsize>(image.size()));
            CFirmwarePP page(world.context);
            page.show();
            page.Activate();
            QAbstractButton* select = gui::Button(page, CFirmwarePP::Id::kPrinterSelect);
            QAbstractButton* upgrade = gui::Button(page, CFirmwarePP::Id::kPrinterUpgrade);
            if (!select || !upgrade) return -1.0;
            select->click();
            const double stall = LongestStallMs([&] { upgrade->click(); });
            bool upgraded = false;
            for (const SimFrame& frame : world.printer->Frames()) {
                upgraded = upgraded || frame.mnemonic == "UPG";
            }
            return world.connected && upgraded ? stall : -1;
        }));

    rows.push_back(
        StallRow(options, "Query of 126 items and its end over TCP, each reply after 4 ms", "", [] {
            StallWorld world("Ethernet");
            // The last item a request can name carries the end of the report.
            constexpr int kItems = 126;
            world.printer->UpdateState([](SimPrinterState& state) {
                state.queryItems.clear();
                for (int i = 1; i <= kItems; ++i) {
                    state.queryItems.push_back("ITEM " + std::to_string(i) + ":\n   STATE OK");
                }
                state.timing.replyDelayMs = 4;
            });
            CQueryPrinterPP page(world.context);
            page.show();
            page.Activate();
            QAbstractButton* query = gui::Button(page, CQueryPrinterPP::Id::kQuery);
            auto* list = page.findChild<QListWidget*>();
            if (!query || !list) return -1.0;
            const double stall = LongestStallMs([&] { query->click(); });
            return world.connected && list->count() == 6 + 2 * kItems ? stall : -1;
        }));

    rows.push_back(StallRow(options, "Ethernet page Save to FLASH with its pauses",
                            "the four 2200 ms pauses a tenth as long", [] {
                                StallWorld world("Ethernet");
                                world.printer->SetValue("PID", "6144");
                                CEthernetPP page(world.context);
                                page.show();
                                page.Activate();
                                QAbstractButton* save = gui::Button(page, CEthernetPP::Id::kSave);
                                if (!save) return -1.0;
                                world.printer->ClearFrames();
                                const double stall = LongestStallMs([&] { save->click(); });
                                return world.connected && world.printer->Frames().size() == 4
                                           ? stall
                                           : -1;
                            }));

    rows.push_back(StallRow(options, "read on USB, printer silent (100 attempts)", "", [] {
        StallWorld world("USB");
        world.Time([](SimTiming& t) { t.lateReplyMs = 5000; });
        bool answered = true;
        const double stall =
            LongestStallMs([&] { answered = world.msg.RequestStatus(cmd::MSR).has_value(); });
        return world.connected && !answered ? stall : -1;
    }));

    rows.push_back(StallRow(options, "parallel write through a 1 s busy window", "", [] {
        StallWorld world("LPT1:");
        world.Time([](SimTiming& t) {
            t.busyMs = 1000;
            t.busyAfterBytes = 100;
        });
        std::string file(2000, 'P');
        CMemoryFile print(file);
        const auto start = Clock::now();
        const double stall = LongestStallMs([&] { world.msg.SendFile(print); });
        return world.connected && SecondsSince(start) >= 0.9 ? stall : -1;
    }));
}

}  // namespace bench
