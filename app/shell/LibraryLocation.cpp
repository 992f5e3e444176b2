#include "app/shell/LibraryLocation.h"

#include "app/preferences/LibraryFolder.h"
#include "platform/desktop/UserDefaults.h"

#include <QDir>
#include <QUuid>

QString tapeLibraryPath() {
    QString path = QString::fromUtf8(
        UserDefaults::standard().value(QStringLiteral("TapeLibraryLocation")).toByteArray());
    if (path.isEmpty()) {
        path = LibraryFolder::defaultPath();
    }
    return QDir().mkpath(path) ? QDir(path).absolutePath() : QString();
}

QString newTapeFilePath(const QString& folder) {
    const QString name =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".m4a");
    return QDir(folder).filePath(name);
}
