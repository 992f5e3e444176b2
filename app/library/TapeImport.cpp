#include "app/library/TapeImport.h"

#include "platform/desktop/FileNames.h"
#include "platform/media/FileTransfer.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace TapeImport {

namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// Copies every byte of `from` into `to`; 0 or an errno value.
int copyContents(int from, int to, uint64_t size) {
    std::vector<char> buffer(1 << 20);
    uint64_t offset = 0;
    while (offset < size) {
        const size_t chunk = static_cast<size_t>(std::min<uint64_t>(buffer.size(), size - offset));
        if (const int error = preadAll(from, buffer.data(), chunk, offset)) {
            return error;
        }
        if (const int error = pwriteAll(to, buffer.data(), chunk, offset)) {
            return error;
        }
        offset += chunk;
    }
    return ::fsync(to) == 0 ? 0 : errno;
}

Result failure(const QString& destination, const QString& error) {
    return {Outcome::Failed, destination, error};
}

} // namespace

// Whether the two paths name the same file.
bool sameFile(const QString& a, const QString& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(FileNames::encode(a).constData(), &first) == 0 &&
           ::stat(FileNames::encode(b).constData(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

Result copyFile(const QString& source, const QString& destination, bool replace) {
    const QFileInfo target(destination);
    if (sameFile(source, destination)) {
        return {Outcome::AlreadyThere, destination, {}};
    }
    if (FileNames::exists(destination) && !replace) {
        return {Outcome::AlreadyThere, destination, {}};
    }
    FileDescriptor input(::open(FileNames::encode(source).constData(),
                            O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (input.fd() < 0) {
        return failure(destination, QObject::tr("\"%1\" cannot be read: %2")
                                        .arg(source, errnoText(errno)));
    }
    struct stat status {};
    if (::fstat(input.fd(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return failure(destination, QObject::tr("\"%1\" is not a file.").arg(source));
    }
    const QString partial = target.dir().filePath(
        QStringLiteral(".%1.%2.part")
            .arg(target.fileName(), QUuid::createUuid().toString(QUuid::WithoutBraces)));
    const QByteArray partialName = FileNames::encode(partial);
    FileDescriptor output(
        ::open(partialName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (output.fd() < 0) {
        return failure(destination, QObject::tr("\"%1\" cannot be written: %2")
                                        .arg(target.dir().path(), errnoText(errno)));
    }
    // Locked while it is written: a copy nobody holds is one that an
    // interrupted import left, which the library's next check removes.
    flock(output.fd(), LOCK_EX | LOCK_NB);
    if (const int error = copyContents(input.fd(), output.fd(), static_cast<uint64_t>(status.st_size))) {
        ::unlink(partialName.constData());
        return failure(destination, QObject::tr("\"%1\" could not be copied: %2")
                                        .arg(QFileInfo(source).fileName(), errnoText(error)));
    }
    const QByteArray finalName = FileNames::encode(destination);
    int renamed;
    if (replace) {
        renamed = ::rename(partialName.constData(), finalName.constData());
    } else {
        // A link fails when the name has been taken meanwhile: nothing is replaced.
        renamed = ::link(partialName.constData(), finalName.constData());
        if (renamed != 0 && errno == EEXIST) {
            ::unlink(partialName.constData());
            return {Outcome::AlreadyThere, destination, {}};
        }
        if (renamed == 0) {
            ::unlink(partialName.constData());
        }
    }
    ::close(output.release());
    if (renamed != 0) {
        const int error = errno;
        ::unlink(partialName.constData());
        return failure(destination, QObject::tr("\"%1\" could not be copied: %2")
                                        .arg(QFileInfo(source).fileName(), errnoText(error)));
    }
    FileDescriptor folder(::open(FileNames::encode(target.dir().path()).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd() >= 0) {
        ::fsync(folder.fd());
    }
    return {Outcome::Copied, destination, {}};
}

QString libraryNameFor(const QString& fileName) {
    const QFileInfo name(fileName);
    const QString suffix = name.suffix().toLower();
    if (name.suffix() == QLatin1String("m4a")) {
        return fileName;
    }
    // Other names of MPEG-4 audio (".M4A" too) take the library's
    // extension; any other name keeps its own and gains it, so that the
    // library lists the tape.
    static const QStringList mpeg4 = {QStringLiteral("m4a"), QStringLiteral("mp4"),
                                      QStringLiteral("m4b"), QStringLiteral("m4p"),
                                      QStringLiteral("m4r")};
    const QString base = mpeg4.contains(suffix) && !name.completeBaseName().isEmpty()
                             ? name.completeBaseName()
                             : fileName;
    return base + QStringLiteral(".m4a");
}

Result copyTape(const QString& source, const QString& folder) {
    return copyFile(source, QDir(folder).filePath(libraryNameFor(QFileInfo(source).fileName())),
                    false);
}

} // namespace TapeImport
