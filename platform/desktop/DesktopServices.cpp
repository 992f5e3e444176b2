#include "platform/desktop/DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace DesktopServices {

bool moveToTrash(const QString& path) {
    return QFile::moveToTrash(path);
}

bool revealInFileManager(const QString& path) {
    const QString uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
        call << QStringList{uri} << QString();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
        if (reply.type() == QDBusMessage::ReplyMessage) {
            return true;
        }
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

QStringList mailCommand(const QString& subject, const QString& body, const QString& attachment) {
    return {QStringLiteral("xdg-email"),
            QStringLiteral("--subject"),
            subject,
            QStringLiteral("--body"),
            body,
            QStringLiteral("--attach"),
            attachment};
}

bool composeMail(const QString& subject, const QString& body, const QString& attachment) {
    QStringList command = mailCommand(subject, body, attachment);
    const QString program = QStandardPaths::findExecutable(command.takeFirst());
    return !program.isEmpty() && QProcess::startDetached(program, command);
}

QString musicFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (folder.isEmpty()) {
        folder = QDir::home().filePath(QStringLiteral("Music"));
    }
    return folder;
}

QString addToMusicLibrary(const QString& path, const QString& playlistName,
                          const QString& musicPath) {
    const QDir folder(musicPath);
    if (!QDir().mkpath(folder.path())) {
        return {};
    }
    const QFileInfo source(path);
    QString track = source.absoluteFilePath();
    if (!track.startsWith(folder.absolutePath() + QLatin1Char('/'))) {
        track = folder.filePath(source.fileName());
        if (!QFileInfo::exists(track) && !QFile::copy(source.absoluteFilePath(), track)) {
            return {};
        }
    }
    QFile playlist(folder.filePath(playlistName + QStringLiteral(".m3u")));
    QStringList entries;
    if (playlist.open(QIODevice::ReadOnly | QIODevice::Text)) {
        entries =
            QString::fromUtf8(playlist.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        playlist.close();
    }
    if (entries.contains(track)) {
        return track; // listed once, never twice
    }
    const bool fresh = !playlist.exists();
    if (!playlist.open(QIODevice::Append | QIODevice::Text)) {
        return {};
    }
    QTextStream out(&playlist);
    if (fresh) {
        out << "#EXTM3U\n";
    }
    out << track << '\n';
    return track;
}

} // namespace DesktopServices
