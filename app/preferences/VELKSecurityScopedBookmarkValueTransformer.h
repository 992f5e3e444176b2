#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>

// Turns the stored "TapeLibraryLocation" (the folder's absolute path as UTF-8
// bytes) into the folder's path and back. Linux has no security-scoped
// bookmarks: a "bookmark" resolves when it names an existing folder.
//
// Wrong input types and paths that name no folder raise
// InternalInconsistencyException.
class VELKSecurityScopedBookmarkValueTransformer {
public:
    static QString name() { return QStringLiteral("VELKSecurityScopedBookmarkValueTransformer"); }
    static bool allowsReverseTransformation() { return true; }

    // Path bytes (QByteArray) -> the folder's absolute, cleaned path.
    QString transformedValue(const QVariant& value) const;
    // A folder's path (QString, or a local-file QUrl) -> path bytes.
    QByteArray reverseTransformedValue(const QVariant& value) const;

    // Why `path` cannot be a library location; empty when it can.
    static QString problemWithFolder(const QString& path);
};

// Starting and ending access to the library folder: nothing to do on Linux,
// kept so that every access to the folder still reads as bracketed.
class SecurityScopedAccess {
public:
    explicit SecurityScopedAccess(const QString& folder) : mFolder(folder) {}
    SecurityScopedAccess(const SecurityScopedAccess&) = delete;
    SecurityScopedAccess& operator=(const SecurityScopedAccess&) = delete;
    ~SecurityScopedAccess() = default;

    const QString& folder() const { return mFolder; }

private:
    QString mFolder;
};
