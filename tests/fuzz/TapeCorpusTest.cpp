#include "TapeFuzzCase.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

// The fuzzer's regression corpus: every case keeps its promise.
TEST(TapeFuzzCorpus, EveryCaseLoadsAndCommitsSafely) {
    const QDir corpus(QStringLiteral(CASSORA_FUZZ_CORPUS));
    const QStringList cases = corpus.entryList(QDir::Files);
    ASSERT_FALSE(cases.isEmpty());
    for (const QString& name : cases) {
        QFile file(corpus.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        EXPECT_TRUE(runTapeFuzzCase(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                    static_cast<size_t>(bytes.size())))
            << name.toStdString();
    }
}
