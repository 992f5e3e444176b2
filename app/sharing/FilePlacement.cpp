#include "app/sharing/FilePlacement.h"

#include "platform/desktop/FileNames.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace FilePlacement {

QString partialNameFor(const QString& destination) {
    const QFileInfo target(destination);
    return target.dir().filePath(
        QStringLiteral(".%1.%2.part")
            .arg(target.fileName(), QUuid::createUuid().toString(QUuid::WithoutBraces)));
}

Result place(const QString& partial, const QString& destination, bool replace) {
    const QByteArray from = FileNames::encode(partial);
    const QByteArray to = FileNames::encode(destination);
    // A link fails when the name is taken, where a rename would replace.
    const int placed = replace ? ::rename(from.constData(), to.constData())
                               : ::link(from.constData(), to.constData());
    const int error = placed == 0 ? 0 : errno;
    ::unlink(from.constData());
    if (placed == 0) {
        return {Outcome::Placed, {}};
    }
    if (error == EEXIST) {
        return {Outcome::AlreadyThere, {}};
    }
    return {Outcome::Failed,
            QCoreApplication::translate("FilePlacement", "\"%1\" could not be written: %2")
                .arg(destination, QString::fromLocal8Bit(std::strerror(error)))};
}

} // namespace FilePlacement
