#include "platform/desktop/DesktopServices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QObject>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTextStream>
#include <QTimer>
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

namespace {

// xdg-email's exit status in words.
QString mailFailure(int status, const QString& said) {
    switch (status) {
    case 3:
        return QObject::tr("No mail program is set up on this computer.");
    case 2:
        return QObject::tr("The tape's file cannot be found.");
    case 5:
        return QObject::tr("The tape's file cannot be read.");
    default:
        return said.isEmpty() ? QObject::tr("The mail program failed (status %1).").arg(status)
                              : said;
    }
}

// How long a mail program may run before it counts as showing its message.
constexpr int kMailStartedMs = 5000;

} // namespace

void composeMail(const QString& subject, const QString& body, const QString& attachment,
                 std::function<void(const QString& failure)> finished) {
    QStringList command = mailCommand(subject, body, attachment);
    const QString program = QStandardPaths::findExecutable(command.takeFirst());
    auto report = std::make_shared<std::function<void(const QString&)>>(std::move(finished));
    const auto tell = [report](const QString& failure) {
        if (auto once = std::exchange(*report, {})) {
            once(failure);
        }
    };
    if (program.isEmpty()) {
        QTimer::singleShot(0, [tell] {
            tell(QObject::tr("No mail program is installed (xdg-email was not found)."));
        });
        return;
    }
    // Not detached, so its outcome is known; it is not owned either, and
    // writes to files rather than pipes, so a mail program still open when
    // Cassora quits stays open.
    auto* process = new QProcess;
    QTemporaryFile said(QDir::temp().filePath(QStringLiteral("cassora-mail-XXXXXX")));
    said.setAutoRemove(false);
    const QString saidPath = said.open() ? said.fileName() : QString();
    said.close();
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(saidPath.isEmpty() ? QProcess::nullDevice() : saidPath);
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, tell](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             tell(process->errorString());
                             process->deleteLater();
                         }
                     });
    QObject::connect(process, &QProcess::finished, process,
                     [process, tell, saidPath](int status, QProcess::ExitStatus) {
                         QFile file(saidPath);
                         const QString said =
                             file.open(QIODevice::ReadOnly)
                                 ? QString::fromLocal8Bit(file.readAll()).trimmed().section(
                                       QLatin1Char('\n'), -1)
                                 : QString();
                         file.remove();
                         tell(status == 0 ? QString() : mailFailure(status, said));
                         process->deleteLater();
                     });
    QTimer::singleShot(kMailStartedMs, process, [tell] { tell(QString()); });
    process->start(program, command);
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
