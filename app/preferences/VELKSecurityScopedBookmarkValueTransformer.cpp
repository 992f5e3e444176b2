#include "app/preferences/VELKSecurityScopedBookmarkValueTransformer.h"

#include "audio/format/InternalInconsistencyException.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

namespace {

const char* const kSourceUnit = "VELKSecurityScopedBookmarkValueTransformer";

[[noreturn]] void raise(const QString& description, int line) {
    throw InternalInconsistencyException(description.toStdString(), kSourceUnit, line);
}

} // namespace

QString VELKSecurityScopedBookmarkValueTransformer::problemWithFolder(const QString& path) {
    if (path.isEmpty()) {
        return QStringLiteral("The folder has no path.");
    }
    if (path.contains(QChar(u'\0'))) {
        return QStringLiteral("The folder's path holds a NUL character.");
    }
    if (!QDir::isAbsolutePath(path)) {
        return QStringLiteral("The folder path \"%1\" is not absolute.").arg(path);
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        return QStringLiteral("The folder \"%1\" does not exist.").arg(path);
    }
    if (!info.isDir()) {
        return QStringLiteral("\"%1\" is not a folder.").arg(path);
    }
    return {};
}

QString VELKSecurityScopedBookmarkValueTransformer::transformedValue(const QVariant& value) const {
    if (value.typeId() != QMetaType::QByteArray) {
        raise(QStringLiteral("Incoming value not of expected NSData class."), __LINE__);
    }
    const QByteArray bytes = value.toByteArray();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString path = decoder.decode(bytes);
    QString problem;
    if (decoder.hasError()) {
        problem = QStringLiteral("The stored folder path is not valid UTF-8.");
    } else {
        problem = problemWithFolder(path);
    }
    if (!problem.isEmpty()) {
        raise(QStringLiteral("Could not decode security scoped bookmark. %1").arg(problem),
              __LINE__);
    }
    return QDir::cleanPath(path);
}

QByteArray
VELKSecurityScopedBookmarkValueTransformer::reverseTransformedValue(const QVariant& value) const {
    QString path;
    if (value.typeId() == QMetaType::QString) {
        path = value.toString();
    } else if (value.typeId() == QMetaType::QUrl && value.toUrl().isLocalFile()) {
        path = value.toUrl().toLocalFile();
    } else {
        raise(QStringLiteral("Incoming value not of expected NSURL class."), __LINE__);
    }
    if (const QString problem = problemWithFolder(path); !problem.isEmpty()) {
        raise(QStringLiteral("Could not encode security scoped bookmark. %1").arg(problem),
              __LINE__);
    }
    return QDir::cleanPath(path).toUtf8();
}
