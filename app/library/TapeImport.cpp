#include "app/library/TapeImport.h"

#include "platform/media/FileTransfer.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace TapeImport {

namespace {

QString errnoText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : mFd(fd) {}
    ~Descriptor() {
        if (mFd >= 0) {
            ::close(mFd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return mFd; }
    int release() {
        const int fd = mFd;
        mFd = -1;
        return fd;
    }

private:
    int mFd;
};

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

Result copyFile(const QString& source, const QString& destination, bool replace) {
    const QFileInfo target(destination);
    if (QFileInfo(source).canonicalFilePath() == target.canonicalFilePath() && target.exists()) {
        return {Outcome::AlreadyThere, destination, {}};
    }
    if (target.exists() && !replace) {
        return {Outcome::AlreadyThere, destination, {}};
    }
    Descriptor input(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
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
    const QByteArray partialName = QFile::encodeName(partial);
    Descriptor output(
        ::open(partialName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (output.fd() < 0) {
        return failure(destination, QObject::tr("\"%1\" cannot be written: %2")
                                        .arg(target.dir().path(), errnoText(errno)));
    }
    if (const int error = copyContents(input.fd(), output.fd(), static_cast<uint64_t>(status.st_size))) {
        ::unlink(partialName.constData());
        return failure(destination, QObject::tr("\"%1\" could not be copied: %2")
                                        .arg(QFileInfo(source).fileName(), errnoText(error)));
    }
    ::close(output.release());
    const QByteArray finalName = QFile::encodeName(destination);
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
    if (renamed != 0) {
        const int error = errno;
        ::unlink(partialName.constData());
        return failure(destination, QObject::tr("\"%1\" could not be copied: %2")
                                        .arg(QFileInfo(source).fileName(), errnoText(error)));
    }
    Descriptor folder(::open(QFile::encodeName(target.dir().path()).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.fd() >= 0) {
        ::fsync(folder.fd());
    }
    return {Outcome::Copied, destination, {}};
}

Result copyTape(const QString& source, const QString& folder) {
    return copyFile(source, QDir(folder).filePath(QFileInfo(source).fileName()), false);
}

} // namespace TapeImport
