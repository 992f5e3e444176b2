#include "JournalFuzzCase.h"
#include "TapeFuzzCase.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace {

QList<QByteArray> corpus(const QString& name) {
    const QDir folder(QStringLiteral(CASSORA_FUZZ_CORPUS "/") + name);
    QList<QByteArray> cases;
    for (const QString& file : folder.entryList(QDir::Files)) {
        QFile in(folder.filePath(file));
        if (in.open(QIODevice::ReadOnly)) {
            cases << in.readAll();
        }
    }
    return cases;
}

} // namespace

// The fuzzers' regression corpora: every case keeps its promise.
TEST(FuzzCorpus, EveryTapeLoadsAndCommitsSafely) {
    const auto cases = corpus(QStringLiteral("tape"));
    ASSERT_FALSE(cases.isEmpty());
    for (const QByteArray& bytes : cases) {
        EXPECT_TRUE(runTapeFuzzCase(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                    static_cast<size_t>(bytes.size())));
    }
}

TEST(FuzzCorpus, EveryJournalIsCheckedBeforeAnythingIsTouched) {
    auto cases = corpus(QStringLiteral("journal"));
    for (const std::string& seed : journalFuzzSeeds()) {
        cases << QByteArray::fromStdString(seed);
    }
    for (const QByteArray& bytes : cases) {
        EXPECT_TRUE(runJournalFuzzCase(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                       static_cast<size_t>(bytes.size())));
    }
}
