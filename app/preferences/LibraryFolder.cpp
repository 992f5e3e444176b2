#include "app/preferences/LibraryFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>

namespace {

// A manila folder with a cassette on its front. Drawn for 128 x 128.
const char kFolderIcon[] = R"svg(<?xml version="1.0" encoding="UTF-8"?>
<svg xmlns="http://www.w3.org/2000/svg" width="128" height="128" viewBox="0 0 128 128">
  <title>CassoraFolder</title>
  <path d="M8 24 a6 6 0 0 1 6 -6 h34 l10 10 h56 a6 6 0 0 1 6 6 v72 a6 6 0 0 1 -6 6 h-100 a6 6 0 0 1 -6 -6 z" fill="#c9a15a"/>
  <path d="M8 40 a6 6 0 0 1 6 -6 h100 a6 6 0 0 1 6 6 v66 a6 6 0 0 1 -6 6 h-100 a6 6 0 0 1 -6 -6 z" fill="#e8c170"/>
  <g transform="translate(24 48)">
    <rect x="0" y="0" width="80" height="52" rx="5" fill="#2f2f34"/>
    <rect x="6" y="5" width="68" height="30" rx="3" fill="#f2eee4"/>
    <rect x="6" y="9" width="68" height="5" fill="#d9534f"/>
    <rect x="22" y="18" width="36" height="13" rx="6" fill="#2f2f34"/>
    <circle cx="29" cy="24.5" r="4" fill="#f2eee4"/>
    <circle cx="51" cy="24.5" r="4" fill="#f2eee4"/>
    <path d="M18 52 l5 -12 h34 l5 12 z" fill="#49494f"/>
  </g>
</svg>
)svg";

QString musicFolder() {
    QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (music.isEmpty()) {
        music = QDir::home().filePath(QStringLiteral("Music"));
    }
    return music;
}

} // namespace

namespace LibraryFolder {

QString defaultPath() {
    return QDir::cleanPath(QDir(musicFolder()).filePath(QStringLiteral("Cassora")));
}

bool create(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) {
        if (error) {
            *error = QStringLiteral("\"%1\" exists and is not a folder.").arg(path);
        }
        return false;
    }
    if (!QDir().mkpath(path) || !QFileInfo(path).isDir()) {
        if (error) {
            *error = QStringLiteral("The folder \"%1\" could not be created.").arg(path);
        }
        return false;
    }
    return true;
}

QString writeFolderIcon() {
    const QString folder =
        QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
            .filePath(QStringLiteral("cassora"));
    const QString path = QDir(folder).filePath(QStringLiteral("CassoraFolder.svg"));
    const QByteArray content(kFolderIcon);
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == content) {
        return path;
    }
    existing.close();
    if (!QDir().mkpath(folder)) {
        return {};
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        return {};
    }
    return path;
}

void setCustomIcon(const QString& folder) {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    if (gio.isEmpty()) {
        return;
    }
    const QString icon = writeFolderIcon();
    if (icon.isEmpty()) {
        return;
    }
    // The file manager keeps this in its metadata store; without one (no
    // session bus) `gio` fails on its own, which costs nothing here.
    QProcess process;
    process.setProgram(gio);
    process.setArguments({QStringLiteral("set"), folder, QStringLiteral("metadata::custom-icon"),
                          QUrl::fromLocalFile(icon).toString(QUrl::FullyEncoded)});
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

CopyResult copyWelcomeTape(const QString& source, const QString& folder, QString* error) {
    if (source.isEmpty() || !QFile::exists(source)) {
        return CopyResult::NoSource;
    }
    const QString target = QDir(folder).filePath(QFileInfo(source).fileName());
    // A tape of that name is the user's now, even if it is not ours.
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink()) {
        return CopyResult::AlreadyThere;
    }
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        if (error) {
            *error = input.errorString();
        }
        return CopyResult::Failed;
    }
    // Written beside the target and renamed into place, so the library never
    // sees half a tape; a failure discards it.
    QSaveFile output(target);
    output.setDirectWriteFallback(false);
    if (!output.open(QIODevice::WriteOnly)) {
        if (error) {
            *error = output.errorString();
        }
        return CopyResult::Failed;
    }
    while (!input.atEnd()) {
        const QByteArray chunk = input.read(1 << 16);
        if (chunk.isEmpty() && input.error() != QFileDevice::NoError) {
            if (error) {
                *error = input.errorString();
            }
            output.cancelWriting();
            return CopyResult::Failed;
        }
        if (output.write(chunk) != chunk.size()) {
            break; // commit() reports the write error
        }
    }
    if (!output.commit()) {
        if (error) {
            *error = output.errorString();
        }
        return CopyResult::Failed;
    }
    // Resources come out read-only; the user edits this tape's label in place.
    QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                      QFileDevice::ReadGroup | QFileDevice::ReadOther);
    return CopyResult::Copied;
}

} // namespace LibraryFolder
