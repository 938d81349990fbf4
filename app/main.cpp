#include <QCoreApplication>

#include "app/app.h"

int main(int argc, char** argv) {
    // TESSALY_VERSION comes from the project's version in CMake.
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSALY_VERSION));
    if (const std::optional<int> answered = CKTUtilityApp::AnswerInformationOptions(argc, argv)) {
        return *answered;
    }
    CKTUtilityApp app(argc, argv);
    return app.Run();
}
