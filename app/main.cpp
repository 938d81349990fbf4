#include <QGuiApplication>

#include "app/app.h"

int main(int argc, char** argv) {
    // Both come from CMake: the project's version, and the name of the
    // desktop entry, by which a Wayland shell gives the window the entry's
    // name and icon.
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TESSALY_APP_ID));
    if (const std::optional<int> answered = CKTUtilityApp::AnswerInformationOptions(argc, argv)) {
        return *answered;
    }
    CKTUtilityApp app(argc, argv);
    return app.Run();
}
