#include "app/library/DurationFormatter.h"
#include "app/library/FuzzyDateFormatter.h"
#include "app/library/MP4Tags.h"
#include "app/library/Tape.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/audio/FourCharCode.h"
#include "platform/desktop/NaturalDateParser.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <random>
#include <sys/stat.h>

namespace {

QString run(const QString& program, const QStringList& arguments, int* status = nullptr) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    if (status) {
        *status = process.exitCode();
    }
    return QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
        .trimmed();
}

// A tape written by the ffmpeg command line.
QString makeFile(const QString& path, const QString& codec, bool faststart, bool withMetadata) {
    QStringList arguments = {"-v",
                             "error",
                             "-y",
                             "-f",
                             "lavfi",
                             "-i",
                             "sine=frequency=440:sample_rate=44100:duration=2",
                             "-ac",
                             "2"};
    arguments << codec.split(' ');
    if (faststart) {
        arguments << "-movflags"
                  << "+faststart";
    }
    if (withMetadata) {
        arguments << "-metadata"
                  << "title=Original title that is long"
                  << "-metadata"
                  << "comment=hi";
    } else {
        arguments << "-fflags"
                  << "+bitexact"
                  << "-map_metadata"
                  << "-1";
    }
    arguments << path;
    int status = 0;
    const QString output = run("ffmpeg", arguments, &status);
    EXPECT_EQ(status, 0) << output.toStdString();
    return path;
}

QString audioChecksum(const QString& path) {
    return run("ffmpeg",
               {"-v", "error", "-i", path, "-map", "0:a", "-c", "copy", "-f", "md5", "-"});
}

bool decodesCleanly(const QString& path) {
    int status = 0;
    const QString output = run("ffmpeg", {"-v", "error", "-i", path, "-f", "null", "-"}, &status);
    return status == 0 && output.isEmpty();
}

QString probeTag(const QString& path, const QString& tag) {
    return run("ffprobe", {"-v", "error", "-show_entries", "format_tags=" + tag, "-of",
                           "default=noprint_wrappers=1:nokey=1", path});
}

QByteArray contents(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

struct Layout {
    const char* name;
    const char* codec;
    bool faststart;
    bool withMetadata;
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.name;
}

class TagsOnForeignFiles : public ::testing::TestWithParam<Layout> {
protected:
    QTemporaryDir folder;
};

// Every edit keeps the audio packets byte for byte and the file playable,
// whichever side of the audio the metadata is on.
TEST_P(TagsOnForeignFiles, EditsKeepTheAudio) {
    const Layout& layout = GetParam();
    const QString path =
        makeFile(folder.filePath("tape.m4a"), layout.codec, layout.faststart, layout.withMetadata);
    const QString checksum = audioChecksum(path);
    ASSERT_TRUE(checksum.startsWith("MD5=")) << checksum.toStdString();
    {
        auto tags = MP4Tags::withMP4File(path);
        ASSERT_TRUE(tags);
        tags->setTitle("A title");
        tags->setLyrics(QString::fromUtf8("Notes \xc3\xa9\xc3\xa0 \xe2\x99\xab"));
        tags->setReleaseDate("2012-03-04 10:20:30 +0000");
        tags->setTapeLetter(TapeLetter("Q", TapeColorScheme::colorSchemeWithIndex(4)));
        QImage image(40, 30, QImage::Format_ARGB32);
        image.fill(Qt::red);
        tags->setCoverArt(image);
    }
    EXPECT_EQ(audioChecksum(path), checksum);
    EXPECT_TRUE(decodesCleanly(path));
    EXPECT_EQ(probeTag(path, "title"), "A title");
    EXPECT_EQ(probeTag(path, "date"), "2012-03-04 10:20:30 +0000");

    auto tags = MP4Tags::withMP4File(path);
    EXPECT_EQ(tags->title(), QString("A title"));
    EXPECT_EQ(tags->lyrics(), QString::fromUtf8("Notes \xc3\xa9\xc3\xa0 \xe2\x99\xab"));
    ASSERT_TRUE(tags->tapeLetter());
    EXPECT_EQ(tags->tapeLetter()->letter(), "Q");
    EXPECT_EQ(tags->tapeLetter()->colorScheme()->colorName(), "orange");
    ASSERT_TRUE(tags->coverArt());
    EXPECT_EQ(tags->coverArt()->size(), QSize(40, 30));

    // A shorter title shrinks the file by the difference.
    const auto sizeBefore = QFileInfo(path).size();
    tags->setTitle("Short");
    EXPECT_EQ(QFileInfo(path).size(), sizeBefore - 2);
    EXPECT_EQ(audioChecksum(path), checksum);
    EXPECT_TRUE(decodesCleanly(path));
    EXPECT_EQ(probeTag(path, "title"), "Short");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TagsOnForeignFiles,
    ::testing::Values(Layout{"AAC_metadata_after_audio", "-c:a aac -b:a 128k", false, false},
                      Layout{"AAC_metadata_before_audio", "-c:a aac -b:a 128k", true, false},
                      Layout{"AAC_with_existing_tags_before_audio", "-c:a aac -b:a 128k", true,
                             true},
                      Layout{"ALAC_with_existing_tags_after_audio", "-c:a alac", false, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MP4Tags, ChunkOffsetTablesFollowTheDelta) {
    QByteArray payload(8, 0);
    payload[7] = 2; // two entries
    payload.append(QByteArray::fromHex("0000100000001000"));
    const MP4MemoryAtom stco(FourCC("stco"), payload);
    EXPECT_EQ(MP4Tags::fixStco32(stco, -6).childData().mid(8),
              QByteArray::fromHex("00000ffa00000ffa"));
    QByteArray wide(8, 0);
    wide[7] = 1;
    wide.append(QByteArray::fromHex("00000001fffffff0"));
    const MP4MemoryAtom co64(FourCC("co64"), wide);
    EXPECT_EQ(MP4Tags::fixStco64(co64, 32).childData().mid(8),
              QByteArray::fromHex("0000000200000010"));
    // A 32-bit offset pushed past 4 GiB is refused, never wrapped.
    QByteArray high(8, 0);
    high[7] = 1;
    high.append(QByteArray::fromHex("fffffff0"));
    EXPECT_THROW(MP4Tags::fixStco32(MP4MemoryAtom(FourCC("stco"), high), 32),
                 InternalInconsistencyException);
}

TEST(MP4Tags, NoFileMakesAnEmptyOneAndNoValues) {
    QTemporaryDir folder;
    const QString path = folder.filePath("new.m4a");
    auto tags = MP4Tags::withMP4File(path);
    ASSERT_TRUE(tags);
    EXPECT_TRUE(QFileInfo::exists(path));
    EXPECT_EQ(QFileInfo(path).permissions() &
                  (QFile::ReadOther | QFile::WriteOther | QFile::ReadGroup),
              0);
    EXPECT_FALSE(tags->title());
    EXPECT_FALSE(tags->tapeLetter());
    EXPECT_ANY_THROW(tags->setTitle("x")) << "no moov: refused";
    EXPECT_EQ(QFileInfo(path).size(), 0);
    EXPECT_TRUE(MP4Tags::valueForData("abc", 21).isNull());
    EXPECT_EQ(MP4Tags::valueForData("abc", 1).toString(), "abc");
}

// Tapes

class Tapes : public ::testing::Test {
protected:
    QTemporaryDir folder;
};

// 27 hours at 44.1 kHz: a single-precision division would be milliseconds off.
TEST_F(Tapes, ADayLongDurationReadsExactly) {
    const QString path = makeFile(folder.filePath("day.m4a"), "-c:a alac", false, false);
    QByteArray bytes = contents(path);
    const qsizetype header = bytes.indexOf("mvhd") + 4;
    ASSERT_GT(header, 4);
    ASSERT_EQ(bytes[header], 0) << "a version 0 header: 32-bit fields";
    constexpr uint32_t kLength = 4286520017u;
    bytes.replace(header + 12, 4, mp4UInt32(44100));
    bytes.replace(header + 16, 4, mp4UInt32(kLength));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
    file.close();
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    EXPECT_DOUBLE_EQ(tape.duration(), kLength / 44100.0);
}

TEST_F(Tapes, AnAACTapeLoadsItsFormatAndAFreshLetterMakesItDirty) {
    const QString path = makeFile(folder.filePath("talk.m4a"), "-c:a aac -b:a 128k", false, false);
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    // The ffmpeg command line stores the measured rate, near the nominal one.
    EXPECT_NEAR(tape.bitrate(), 128000.0, 3000.0);
    EXPECT_TRUE(tape.stereo());
    EXPECT_EQ(tape.quality(), "MQ");
    EXPECT_EQ(tape.samplerate(), 44100u);
    EXPECT_NEAR(tape.duration(), 2.0, 0.1);
    EXPECT_EQ(tape.tapeLetter()->letter(), "A");
    EXPECT_TRUE(tape.dirty()) << "no stored letter";
    EXPECT_TRUE(tape.commitAttributes());
    EXPECT_FALSE(tape.dirty());
    EXPECT_EQ(tape.filename(), path) << "no title change: no rename";
    auto tags = MP4Tags::withMP4File(path);
    EXPECT_TRUE(tags->tapeLetter());
    EXPECT_TRUE(tags->coverArt()) << "a new letter renders cover art";

    const QString lossless = makeFile(folder.filePath("music.m4a"), "-c:a alac", false, false);
    Tape hq(lossless);
    hq.setCommitsOnDestruction(false);
    EXPECT_EQ(hq.quality(), "HQ");
    EXPECT_TRUE(hq.stereo());
}

TEST_F(Tapes, CommitRenamesAfterDateAndTitleAndReloadStaysClean) {
    const QString path = makeFile(folder.filePath("x.m4a"), "-c:a aac -b:a 48k", false, false);
    Tape tape(path);
    tape.setTitle("Talk: A/B");
    tape.setDate(QDateTime(QDate(2012, 3, 4), QTime(10, 0)));
    tape.setNotes(QString());
    EXPECT_EQ(tape.notes(), "") << "notes are never null";
    ASSERT_TRUE(tape.commitAttributes());
    EXPECT_EQ(QFileInfo(tape.filename()).fileName(), "[2012-03-04] Talk_ A_B.m4a");
    EXPECT_FALSE(QFileInfo::exists(path));
    tape.loadAttributes();
    EXPECT_FALSE(tape.dirty()) << "a reload marks nothing dirty";
    EXPECT_EQ(tape.title(), "Talk: A/B");
    EXPECT_EQ(tape.date().toUTC(), QDateTime(QDate(2012, 3, 4), QTime(10, 0)).toUTC());

    // The name is taken: the next tape with that title gets a number.
    const QString other = makeFile(folder.filePath("y.m4a"), "-c:a aac -b:a 48k", false, false);
    Tape second(other);
    second.setTitle("Talk: A/B");
    second.setDate(QDateTime(QDate(2012, 3, 4), QTime(11, 0)));
    ASSERT_TRUE(second.commitAttributes());
    EXPECT_EQ(QFileInfo(second.filename()).fileName(), "[2012-03-04] Talk_ A_B 1.m4a");
}

TEST_F(Tapes, ATapeThatKeepsItsFileNameCommitsTheTitleWithoutRenaming) {
    const QString path = makeFile(folder.filePath("chosen.m4a"), "-c:a aac -b:a 48k", false, false);
    Tape tape(path);
    EXPECT_FALSE(tape.keepsFileName()) << "renaming is the default";
    tape.setKeepsFileName(true);
    EXPECT_TRUE(tape.keepsFileName());
    tape.setTitle("Something else");
    tape.setDate(QDateTime(QDate(2012, 3, 4), QTime(10, 0)));
    ASSERT_TRUE(tape.commitAttributes());
    EXPECT_EQ(tape.filename(), path);
    EXPECT_FALSE(tape.titleDirty());
    EXPECT_EQ(MP4Tags::withMP4File(path)->title(), QString("Something else"));
}

TEST_F(Tapes, ArtistAloneNeitherDrawsNorRenames) {
    const QString path = makeFile(folder.filePath("a.m4a"), "-c:a aac -b:a 128k", false, false);
    {
        Tape tape(path);
        tape.commitAttributes(); // stores the letter
    }
    Tape tape(path);
    EXPECT_FALSE(tape.dirty());
    const QByteArray cover =
        MP4Tags::withMP4File(path)->readAtom(FourCC("covr")).value<QImage>().isNull()
            ? QByteArray()
            : QByteArray("x");
    tape.setArtist("Someone");
    ASSERT_TRUE(tape.commitAttributes());
    EXPECT_EQ(tape.filename(), path);
    EXPECT_EQ(MP4Tags::withMP4File(path)->artist(), QString("Someone"));
    EXPECT_FALSE(cover.isEmpty());
}

TEST_F(Tapes, AMissingFileKeepsTheTapeDirty) {
    const QString path = makeFile(folder.filePath("gone.m4a"), "-c:a aac -b:a 128k", false, false);
    Tape tape(path);
    tape.setCommitsOnDestruction(false);
    QFile::remove(path);
    tape.setTitle("Lost");
    EXPECT_FALSE(tape.commitAttributes());
    EXPECT_TRUE(tape.titleDirty());
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST_F(Tapes, EqualityAndDescription) {
    const QString path = folder.filePath("same.m4a");
    Tape a(path), b(path);
    a.setCommitsOnDestruction(false);
    b.setCommitsOnDestruction(false);
    a.setTitle("one");
    b.setTitle("two");
    EXPECT_TRUE(a == b);
    EXPECT_EQ(qHash(a), qHash(b));
    EXPECT_TRUE(a.description().startsWith("<Tape: one, Duration: "));
    std::unique_ptr<QMimeData> data(a.pasteboardData());
    EXPECT_EQ(data->urls().front().toLocalFile(), path);
}

TEST_F(Tapes, DamagedFilesNeverCrashAndAreNeverChanged) {
    const QString good = makeFile(folder.filePath("good.m4a"), "-c:a aac -b:a 128k", true, true);
    const QByteArray original = contents(good);
    std::mt19937 random(7);
    std::vector<QByteArray> damaged;
    for (const int cut : {8, 40, 200, 600, 1200}) {
        damaged.push_back(original.left(cut));
    }
    for (int i = 0; i < 20; ++i) {
        QByteArray noise(2000, 0);
        for (auto& byte : noise) {
            byte = static_cast<char>(random());
        }
        damaged.push_back(noise);
        QByteArray flipped = original;
        for (int k = 0; k < 8; ++k) {
            flipped[static_cast<qsizetype>(random() % 1500)] = static_cast<char>(random());
        }
        damaged.push_back(flipped);
    }
    int index = 0;
    for (const QByteArray& bytes : damaged) {
        const QString path = folder.filePath(QStringLiteral("damaged%1.m4a").arg(index++));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
        file.close();
        Tape tape(path);
        tape.setCommitsOnDestruction(false);
        tape.setTitle("x");
        if (!tape.commitAttributes()) {
            EXPECT_EQ(contents(path), bytes) << "a refused commit leaves the bytes as they were";
        }
    }
}

// Formatters and dates

TEST(Formatters, Durations) {
    const std::pair<int, const char*> compact[] = {
        {0, "0s"},        {5, "5s"},      {59, "59s"},    {60, "1m0s"},     {65, "1m5s"},
        {3599, "59m59s"}, {3600, "1h0s"}, {3601, "1h1s"}, {3725, "1h2m5s"}, {-5, "-5s"}};
    for (const auto& [seconds, text] : compact) {
        EXPECT_EQ(DurationFormatter::durationToString(seconds), QString(text)) << seconds;
    }
    EXPECT_EQ(DurationFormatter::durationToString(65, 2), QString::fromUtf8("1\u20325\u2033"));
    EXPECT_EQ(DurationFormatter::durationToString(3725, 2), QString::fromUtf8("62\u20325\u2033"));
    EXPECT_EQ(DurationFormatter::durationToString(3661, 1), "1 hour 1 minute 1 second");
    EXPECT_EQ(DurationFormatter::valueForString("12 minutes"), 0.0);
}

TEST(Formatters, FuzzyDates) {
    const QDateTime now(QDate(2026, 12, 8), QTime(15, 0));
    const FuzzyDateFormatter formatter("yyyy-MM-dd HH:mm", QLocale::c());
    EXPECT_EQ(formatter.stringFromDate(QDateTime(QDate(2026, 12, 8), QTime(9, 30)), now),
              "Today 09:30");
    EXPECT_EQ(formatter.stringFromDate(QDateTime(QDate(2026, 12, 7), QTime(9, 30)), now),
              "Yesterday 09:30");
    EXPECT_EQ(formatter.stringFromDate(QDateTime(QDate(2025, 12, 8), QTime(9, 30)), now),
              "2025-12-08 09:30")
        << "a year back is not today";
    const FuzzyDateFormatter dateOnly("yyyy-MM-dd", QLocale::c());
    EXPECT_EQ(dateOnly.stringFromDate(QDateTime(QDate(2026, 12, 8), QTime(9, 30)), now), "Today");
}

TEST(NaturalDates, StoredFormAndWrittenDates) {
    const QDateTime moment(QDate(2012, 3, 4), QTime(10, 20, 30), Qt::UTC);
    EXPECT_EQ(NaturalDateParser::storedForm(moment), "2012-03-04 10:20:30 +0000");
    EXPECT_EQ(NaturalDateParser::parseDate("2012-03-04 10:20:30 +0000")->toUTC(), moment);
    EXPECT_EQ(NaturalDateParser::parseDate("2012-03-04 12:20:30 +0200")->toUTC(), moment);

    const QDateTime now(QDate(2026, 12, 8), QTime(15, 0)); // a Tuesday
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    auto dayOf = [&](const char* text) {
        const auto result = NaturalDateParser::parse(text, now, us);
        return result ? result->dateTime.date() : QDate();
    };
    EXPECT_EQ(dayOf("today"), QDate(2026, 12, 8));
    EXPECT_EQ(dayOf("Yesterday"), QDate(2026, 12, 7));
    EXPECT_EQ(dayOf("tomorrow"), QDate(2026, 12, 9));
    EXPECT_EQ(dayOf("sunday"), QDate(2026, 12, 6));
    EXPECT_EQ(dayOf("tuesday"), QDate(2026, 12, 8));
    EXPECT_EQ(dayOf("March 4, 2012"), QDate(2012, 3, 4));
    EXPECT_EQ(dayOf("4 March 2012"), QDate(2012, 3, 4));
    EXPECT_EQ(dayOf("Mar 2012"), QDate(2012, 3, 1));
    EXPECT_EQ(dayOf("3/4/2012"), QDate(2012, 3, 4));
    EXPECT_EQ(dayOf("2011"), QDate(2011, 1, 1));
    EXPECT_EQ(NaturalDateParser::parse("march", now, us)->precision,
              NaturalDateParser::Precision::Month);
    EXPECT_EQ(NaturalDateParser::parse("3/4/2012", now, QLocale(QLocale::German))->dateTime.date(),
              QDate(2012, 4, 3));
    EXPECT_FALSE(NaturalDateParser::parse("not a date", now, us));
    EXPECT_FALSE(NaturalDateParser::parse("", now, us));
    EXPECT_FALSE(NaturalDateParser::parse("2012-13-45", now, us));
}

} // namespace
