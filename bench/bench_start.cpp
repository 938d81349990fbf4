// The window's cold start to first paint, against a bare Qt window: each in
// a new process of this program, timed from just before the process is
// started to its first paint event (offscreen).

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/app.h"
#include "bench/bench.h"
#include "bench/start_probe.h"

extern char** environ;

namespace bench {
namespace {

constexpr int kProbeLimitMs = 20000;

long long MonotonicNs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint && object->isWidgetType()) {
            std::printf("%lld\n", MonotonicNs());
            std::fflush(stdout);
            std::_Exit(0);
        }
        return QObject::eventFilter(object, event);
    }
};

// Milliseconds from starting the probe to its first paint; 0 on failure.
double TimeProbe(const std::string& executable, const char* kind) {
    int out[2];
    if (::pipe(out) != 0) return 0;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string exe = executable;
    std::string option = kStartProbeOption;
    std::string what = kind;
    char* argv[] = {exe.data(), option.data(), what.data(), nullptr};
    pid_t child = 0;
    const long long start = MonotonicNs();
    const int spawned = posix_spawn(&child, exe.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (spawned != 0) {
        ::close(out[0]);
        return 0;
    }
    char text[64] = {};
    size_t got = 0;
    while (got < sizeof text - 1) {
        const ssize_t n = ::read(out[0], text + got, sizeof text - 1 - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    const long long painted = std::atoll(text);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || painted <= start) return 0;
    return static_cast<double>(painted - start) / 1e6;
}

}  // namespace

int RunStartProbe(int argc, char** argv) {
    const std::string kind = argv[2];
    FirstPaint filter;
    auto giveUp = [] { std::_Exit(3); };
    if (kind == "sheet") {
        // The program's own start: composition root, sheet, Comms page.
        int appArgc = 1;
        CKTUtilityApp app(appArgc, argv);
        qApp->installEventFilter(&filter);
        QTimer::singleShot(kProbeLimitMs, giveUp);
        return app.Run();
    }
    if (kind == "bare") {
        int appArgc = 1;
        QApplication application(appArgc, argv);
        application.installEventFilter(&filter);
        // A window sized by a line of text: the first text measured loads
        // the font configuration, which is Qt's start, not the program's.
        QLabel window(QStringLiteral("Tessaly"));
        window.resize(window.sizeHint().expandedTo(QSize(480, 400)));
        window.show();
        QTimer::singleShot(kProbeLimitMs, giveUp);
        return application.exec();
    }
    (void)argc;
    return 2;
}

void RunColdStart(const Options& options, std::vector<Row>& rows) {
    const int rounds = RatioPairs(options);
    std::vector<double> sheets, bares;
    bool faulty = false;
    auto probe = [&](const char* kind) {
        const double ms = TimeProbe(options.executable, kind);
        if (ms <= 0) faulty = true;
        return ms;
    };
    MeasurePairs(
        rounds, [&] { return probe("sheet"); }, [&] { return probe("bare"); }, sheets, bares);
    Row row;
    row.name = "Cold start to first paint (offscreen)";
    row.unit = "ms";
    if (!faulty) row.FromPairs(sheets, bares, [](double ms) { return ms; });
    row.baselineName = "bare Qt window sized by a line of text, same executable";
    row.goal = {Goal::RatioAtMost, 1.5};
    row.faulty = faulty;
    row.note =
        "process starts in interleaved pairs; both load the same libraries and the font "
        "configuration, so the difference is the program's own start (protocol object, sheet, "
        "Comms page)";
    rows.push_back(row);
}

}  // namespace bench
