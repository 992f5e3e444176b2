#include "TapeFuzzCase.h"

#include "app/library/Tape.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

bool runTapeFuzzCase(const uint8_t* data, size_t size) {
    static QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("case.m4a"));
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return true;
        }
        file.write(bytes);
    }
    bool kept = true;
    {
        Tape tape(path);
        tape.setCommitsOnDestruction(false);
        tape.setTitle(QStringLiteral("Fuzzed"));
        if (!tape.commitAttributes()) {
            QFile file(tape.filename());
            file.open(QIODevice::ReadOnly);
            kept = file.readAll() == bytes;
            if (!kept) {
                std::fprintf(stderr, "a refused commit changed the file\n");
            }
        }
        QFile::remove(tape.filename());
    }
    return kept;
}
