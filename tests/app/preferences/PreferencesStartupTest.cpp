#include "app/preferences/HotKeyText.h"
#include "app/preferences/PreferencesController.h"
#include "app/preferences/VELKSecurityScopedBookmarkValueTransformer.h"
#include "audio/format/InternalInconsistencyException.h"
#include "platform/desktop/UserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void writeFile(const QString& path, const QByteArray& content) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Each launch is a fresh defaults object (a fresh registration domain) over
// one settings file, in a home folder of the test's own.
class PreferencesClassInitializer : public ::testing::Test {
protected:
    QTemporaryDir folder;
    QString home = folder.filePath("home");
    QString library = folder.filePath("home/Music/Cassora");
    QString tapeSource = folder.filePath("resources/cr-welcome.m4a");
    const QByteArray tapeContent = QByteArray("ftypM4A welcome tape ") + QByteArray(100000, 'x');
    QByteArray savedHome = qgetenv("HOME");
    QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");

    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(home));
        ASSERT_TRUE(QDir().mkpath(folder.filePath("resources")));
        qputenv("HOME", home.toUtf8());
        qputenv("XDG_DATA_HOME", folder.filePath("data").toUtf8());
        writeFile(tapeSource, tapeContent);
        // Resources come out read-only.
        QFile::setPermissions(tapeSource, QFileDevice::ReadOwner | QFileDevice::ReadGroup);
        PreferencesController::setWelcomeTapeSource(tapeSource);
    }

    void TearDown() override {
        qputenv("HOME", savedHome);
        qputenv("XDG_DATA_HOME", savedDataHome);
        PreferencesController::setWelcomeTapeSource(QStringLiteral(":/cassora/cr-welcome.m4a"));
    }

    std::unique_ptr<UserDefaults> launch() {
        auto defaults = std::make_unique<UserDefaults>(
            std::make_unique<QSettings>(folder.filePath("Cassora.conf"), QSettings::IniFormat));
        PreferencesController::initializeDefaults(*defaults);
        defaults->synchronize();
        return defaults;
    }
};

TEST_F(PreferencesClassInitializer, FirstLaunchPreparesTheLibraryAndRegistersTheDefaults) {
    testing::internal::CaptureStderr();
    auto defaults = launch();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("Copying welcome tape"), std::string::npos) << log;

    EXPECT_EQ(defaults->integerForKey("LaunchCount"), 1);
    for (const char* key :
         {"PlaySoundEffects", "ShowNSStatusItem", "EnableHotKeys", "CRLockRecordingSampleRate"}) {
        EXPECT_TRUE(defaults->boolForKey(key)) << key;
        EXPECT_FALSE(defaults->hasStoredValue(key)) << key << " is registered, not stored";
    }
    const QVariantMap record = defaults->dictionaryForKey("RecordHotKey");
    EXPECT_EQ(record.value("keyCode").toInt(), 26);
    EXPECT_EQ(record.value("modifiers").toInt(), 768);
    EXPECT_EQ(defaults->dictionaryForKey("PauseHotKey").value("keyCode").toInt(), 28);
    EXPECT_EQ(defaults->dictionaryForKey("StopHotKey").value("keyCode").toInt(), 25);

    ASSERT_TRUE(QFileInfo(library).isDir());
    EXPECT_EQ(defaults->value("TapeLibraryLocation").toByteArray(), library.toUtf8());
    const QString tape = QDir(library).filePath("cr-welcome.m4a");
    EXPECT_EQ(readFile(tape), tapeContent);
    EXPECT_TRUE(QFileInfo(tape).permissions() & QFileDevice::WriteOwner)
        << "the user edits the welcome tape's label in place";
    EXPECT_TRUE(QDir(library).entryList(QDir::Files | QDir::Hidden).size() == 1)
        << "no temporary file is left beside the tape";
    EXPECT_TRUE(readFile(folder.filePath("data/cassora/CassoraFolder.svg")).contains("<svg"));
}

TEST_F(PreferencesClassInitializer, UpdateChecksAreOffOnlyForTheFirstThreeLaunches) {
    for (int count = 1; count <= 3; ++count) {
        auto defaults = launch();
        EXPECT_EQ(defaults->integerForKey("LaunchCount"), count);
        ASSERT_TRUE(defaults->value("SUCheckAtStartup").isValid()) << "launch " << count;
        EXPECT_FALSE(defaults->boolForKey("SUCheckAtStartup"));
        EXPECT_FALSE(defaults->hasStoredValue("SUCheckAtStartup"));
    }
    auto fourth = launch();
    EXPECT_EQ(fourth->integerForKey("LaunchCount"), 4);
    EXPECT_FALSE(fourth->value("SUCheckAtStartup").isValid())
        << "the updater's own default applies";
}

TEST_F(PreferencesClassInitializer, TheWelcomeTapeComesBackButNeverOverwrites) {
    launch();
    const QString tape = QDir(library).filePath("cr-welcome.m4a");
    ASSERT_TRUE(QFile::remove(tape));
    launch();
    EXPECT_EQ(readFile(tape), tapeContent) << "a deleted welcome tape is back at the next launch";

    writeFile(tape, "the user's own recording");
    testing::internal::CaptureStderr();
    launch();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(readFile(tape), "the user's own recording");
    EXPECT_EQ(log.find("Copying welcome tape"), std::string::npos) << log;

    // Without a welcome tape to give, the folder is still made.
    ASSERT_TRUE(QDir(library).removeRecursively());
    PreferencesController::setWelcomeTapeSource(folder.filePath("resources/missing.m4a"));
    auto defaults = launch();
    EXPECT_TRUE(QFileInfo(library).isDir());
    EXPECT_TRUE(QDir(library).isEmpty());
}

TEST_F(PreferencesClassInitializer, AFolderThatCannotBeMadeRegistersNoLocation) {
    // "Music" is a file, so "Music/Cassora" cannot be made.
    writeFile(folder.filePath("home/Music"), "not a folder");
    testing::internal::CaptureStderr();
    auto defaults = launch();
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("(ERROR) PreferencesController : "), std::string::npos) << log;
    EXPECT_FALSE(defaults->value("TapeLibraryLocation").isValid());
    EXPECT_EQ(defaults->integerForKey("LaunchCount"), 1);
    EXPECT_TRUE(defaults->boolForKey("EnableHotKeys")) << "the rest is registered as always";
    EXPECT_EQ(readFile(folder.filePath("home/Music")), "not a folder");
}

TEST(PreferencesBookmark, RoundTripsAFolderPath) {
    QTemporaryDir folder;
    const QString path = QDir::cleanPath(folder.filePath("Bänder ♫"));
    ASSERT_TRUE(QDir().mkpath(path));
    const VELKSecurityScopedBookmarkValueTransformer transformer;
    const QByteArray bookmark = transformer.reverseTransformedValue(path + "/");
    EXPECT_EQ(bookmark, path.toUtf8());
    EXPECT_EQ(transformer.transformedValue(bookmark), path);
    EXPECT_EQ(transformer.reverseTransformedValue(QUrl::fromLocalFile(path)), bookmark);
}

TEST(PreferencesBookmark, WrongTypesAndMissingFoldersRaise) {
    const VELKSecurityScopedBookmarkValueTransformer transformer;
    auto failure = [](auto&& call) -> std::string {
        try {
            call();
        } catch (const InternalInconsistencyException& exception) {
            EXPECT_EQ(exception.sourceUnit(), "VELKSecurityScopedBookmarkValueTransformer");
            return exception.what();
        }
        return "no exception";
    };
    EXPECT_EQ(failure([&] { transformer.transformedValue(QString("/tmp")); }),
              "Incoming value not of expected NSData class.");
    EXPECT_EQ(failure([&] { transformer.transformedValue(QVariant()); }),
              "Incoming value not of expected NSData class.");
    EXPECT_EQ(failure([&] { transformer.reverseTransformedValue(42); }),
              "Incoming value not of expected NSURL class.");
    EXPECT_EQ(failure([&] { transformer.reverseTransformedValue(QUrl("https://example.com/")); }),
              "Incoming value not of expected NSURL class.");

    const std::string decode = "Could not decode security scoped bookmark. ";
    for (const QByteArray& bad : {QByteArray("/no/such/folder/anywhere"), QByteArray("relative"),
                                  QByteArray(), QByteArray("/tmp/\xff\xfe")}) {
        EXPECT_EQ(failure([&] { transformer.transformedValue(bad); }).rfind(decode, 0), 0u)
            << bad.toStdString();
    }
    EXPECT_EQ(failure([&] {
                  transformer.reverseTransformedValue(QString("/no/such/folder"));
              }).rfind("Could not encode security scoped bookmark. ", 0),
              0u);
}

TEST(PreferencesHotKeyText, CombinationsReadTheLinuxWay) {
    const int commandShift = HotKeyText::kCommandModifier | HotKeyText::kShiftModifier;
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(26, commandShift)), "Ctrl+Shift+7");
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(28, commandShift)), "Ctrl+Shift+8");
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(25, commandShift)), "Ctrl+Shift+9");
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(0x60, 0x1F00)), "Ctrl+Alt+Super+Shift+F5");
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(0x55, HotKeyText::kOptionModifier)),
              "Alt+Num+3");
    // Settings files give numbers back as text.
    EXPECT_EQ(HotKeyText::description(QVariantMap{{"keyCode", "26"}, {"modifiers", "768"}}),
              "Ctrl+Shift+7");

    // Cleared, missing, keyless or modifier-less combinations are no hot key.
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(-1, -1)), "(None)");
    EXPECT_EQ(HotKeyText::description(QVariant()), "(None)");
    EXPECT_EQ(HotKeyText::description(QVariantMap{{"modifiers", 768}}), "(None)");
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(0, commandShift)), "(None)");
    EXPECT_EQ(HotKeyText::description(HotKeyText::plist(26, 0)), "(None)");
    EXPECT_EQ(HotKeyText::keyName(0x7F), "7F") << "a key the table does not know";
}

} // namespace
