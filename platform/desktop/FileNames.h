#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// Paths held as QString without losing a byte of what the file system says.
// Linux names are bytes, not always UTF-8; Qt's own conversion turns bytes
// that are not UTF-8 into U+FFFD, and such a name can then never be opened
// again. Here every byte that is not part of valid UTF-8 becomes a lone
// surrogate (U+DC80 to U+DCFF) and back, as other systems do it, so names
// round-trip exactly. Code that hands a path to the system goes through
// these functions, never through QFile::encodeName or QFileInfo's queries.
namespace FileNames {

QByteArray encode(const QString& path);
QString decode(const QByteArray& bytes);
std::string toNative(const QString& path);
QString fromNative(const std::string& path);

// What a person can read: the escaped bytes shown as "\xNN".
QString displayable(const QString& path);

// Queries of the file system that never follow the last link unless asked.
bool exists(const QString& path); // anything at all, a dangling link included
bool isDirectory(const QString& path);
bool isRegularFile(const QString& path);
bool isWritableDirectory(const QString& path);

// The names in `folder` (not "." and ".."), as the file system has them.
QStringList entries(const QString& folder);

// The absolute form of `path` (against the current folder), without
// resolving links.
QString absolute(const QString& path);

} // namespace FileNames
