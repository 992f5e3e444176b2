#include "platform/desktop/FileNames.h"

#include <QDir>
#include <QStringList>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>

namespace FileNames {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at `at`, or 0 when there is none
// (overlong forms, encoded surrogates and values past U+10FFFF included).
int validSequenceLength(const unsigned char* at, qsizetype left) {
    const unsigned char lead = at[0];
    if (lead < 0x80) {
        return 1;
    }
    int length = 0;
    char32_t lowest = 0;
    char32_t value = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, value = lead & 0x07;
    } else {
        return 0;
    }
    if (left < length) {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if ((at[i] & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (at[i] & 0x3F);
    }
    const bool surrogate = value >= 0xD800 && value <= 0xDFFF;
    return value < lowest || value > 0x10FFFF || surrogate ? 0 : length;
}

} // namespace

QString decode(const QByteArray& bytes) {
    QString path;
    path.reserve(bytes.size());
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    for (qsizetype at = 0; at < bytes.size();) {
        const int length = validSequenceLength(data + at, bytes.size() - at);
        if (length == 0) {
            path += QChar(static_cast<char16_t>(kEscapeBase + data[at]));
            ++at;
            continue;
        }
        path += QString::fromUtf8(bytes.constData() + at, length);
        at += length;
    }
    return path;
}

QByteArray encode(const QString& path) {
    QByteArray bytes;
    bytes.reserve(path.size());
    qsizetype runStart = 0;
    const auto flushRun = [&](qsizetype end) {
        if (end > runStart) {
            bytes += QStringView(path).mid(runStart, end - runStart).toUtf8();
        }
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        const bool pairedLow = i > 0 && QChar::isHighSurrogate(path[i - 1].unicode());
        if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF && !pairedLow) {
            flushRun(i);
            bytes += static_cast<char>(c - kEscapeBase);
            runStart = i + 1;
        }
    }
    flushRun(path.size());
    return bytes;
}

std::string toNative(const QString& path) {
    return encode(path).toStdString();
}

QString fromNative(const std::string& path) {
    return decode(QByteArray::fromStdString(path));
}

QString displayable(const QString& path) {
    QString shown;
    for (const QChar c : path) {
        const char16_t u = c.unicode();
        if (u >= kEscapeBase + 0x80 && u <= kEscapeBase + 0xFF) {
            shown += QStringLiteral("\\x%1").arg(u - kEscapeBase, 2, 16, QLatin1Char('0'));
        } else {
            shown += c;
        }
    }
    return shown;
}

bool exists(const QString& path) {
    struct stat status {};
    return ::lstat(encode(path).constData(), &status) == 0;
}

bool isDirectory(const QString& path) {
    struct stat status {};
    return ::stat(encode(path).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool isRegularFile(const QString& path) {
    struct stat status {};
    return ::stat(encode(path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool isWritableDirectory(const QString& path) {
    return isDirectory(path) && ::access(encode(path).constData(), W_OK | X_OK) == 0;
}

QStringList entries(const QString& folder) {
    QStringList names;
    const std::unique_ptr<DIR, int (*)(DIR*)> directory(opendir(encode(folder).constData()),
                                                        &closedir);
    if (!directory) {
        return names;
    }
    while (const dirent* entry = readdir(directory.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..") {
            names << decode(name);
        }
    }
    return names;
}

QString absolute(const QString& path) {
    if (path.startsWith(QLatin1Char('/'))) {
        return path;
    }
    char current[PATH_MAX];
    if (!getcwd(current, sizeof(current))) {
        return path;
    }
    const QString folder = decode(QByteArray(current));
    if (path.isEmpty() || path == QLatin1String(".")) {
        return folder;
    }
    return QDir::cleanPath(folder + QLatin1Char('/') + path);
}

} // namespace FileNames
