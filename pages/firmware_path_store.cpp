#include "pages/firmware_path_store.h"

#include <QDir>
#include <QFile>
#include <QVariant>

#include "pages/local_path.h"

namespace {

constexpr const char* kDefaultFileName = "coldfire.cfa";

}  // namespace

QString CFirmwarePathStore::DefaultPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("C:\\") + QString::fromLatin1(kDefaultFileName);
#else
    return QDir(QDir::homePath()).filePath(QString::fromLatin1(kDefaultFileName));
#endif
}

std::string CFirmwarePathStore::Load() {
    QSettings store(kScope, QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    if (store.status() != QSettings::NoError) return {};
    const QVariant value = store.value(QString::fromLatin1(kValueName));
    if (value.typeId() == QMetaType::QString) {
        return LocalPath(value.toString());
    }
    if (store.isWritable()) store.setValue(QString::fromLatin1(kValueName), DefaultPath());
    return {};
}

void CFirmwarePathStore::Store(const std::string& path) {
    QSettings store(kScope, QString::fromLatin1(kOrganisation), QString::fromLatin1(kApplication));
    if (store.status() != QSettings::NoError || !store.isWritable()) return;
    store.setValue(QString::fromLatin1(kValueName), DisplayPath(path));
}
