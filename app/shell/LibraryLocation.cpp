#include "app/shell/LibraryLocation.h"

#include "platform/desktop/UserDefaults.h"

#include <QDir>
#include <QStandardPaths>
#include <QUuid>

QString tapeLibraryPath() {
    QString path = QString::fromUtf8(
        UserDefaults::standard().value(QStringLiteral("TapeLibraryLocation")).toByteArray());
    if (path.isEmpty()) {
        QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
        if (music.isEmpty()) {
            music = QDir::home().filePath(QStringLiteral("Music"));
        }
        path = QDir(music).filePath(QStringLiteral("Cassora"));
    }
    return QDir().mkpath(path) ? QDir(path).absolutePath() : QString();
}

QString newTapeFilePath(const QString& folder) {
    const QString name =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".m4a");
    return QDir(folder).filePath(name);
}
