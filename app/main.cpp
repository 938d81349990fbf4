#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/app.h"

namespace {

// Without a display Qt's default platform aborts with a core dump and a page
// of hints; one line says it, and points to the program that needs none.
bool DisplayMissing(int argc, char** argv) {
#ifdef __linux__
    const auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    if (set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM")) return false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return false;
    }
    return true;
#else
    (void)argc;
    (void)argv;
    return false;
#endif
}

}  // namespace

int main(int argc, char** argv) {
    // Both come from CMake: the project's version, and the name of the
    // desktop entry, by which a Wayland shell gives the window the entry's
    // name and icon.
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TESSALY_APP_ID));
    if (const std::optional<int> answered = CKTUtilityApp::AnswerInformationOptions(argc, argv)) {
        return *answered;
    }
    if (DisplayMissing(argc, argv)) {
        std::fputs(
            "tessaly: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are "
            "unset); tessaly-cli does the same work from a shell\n",
            stderr);
        return 1;
    }
    CKTUtilityApp app(argc, argv);
    return app.Run();
}
