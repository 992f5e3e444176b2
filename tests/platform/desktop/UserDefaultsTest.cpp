#include "platform/desktop/UserDefaults.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class Defaults : public ::testing::Test {
protected:
    QTemporaryDir folder;
    std::unique_ptr<UserDefaults> defaults = open();

    std::unique_ptr<UserDefaults> open() {
        return std::make_unique<UserDefaults>(
            std::make_unique<QSettings>(folder.filePath("Cassora.conf"), QSettings::IniFormat));
    }
};

TEST_F(Defaults, StoredValuesWinOverRegisteredOnes) {
    defaults->registerDefaults({{"RecordingQuality", "MQ"}, {"Volume", 0.5}});
    EXPECT_EQ(defaults->stringForKey("RecordingQuality"), "MQ");
    EXPECT_FALSE(defaults->hasStoredValue("RecordingQuality"));
    defaults->setValue("RecordingQuality", "HQ");
    EXPECT_EQ(defaults->stringForKey("RecordingQuality"), "HQ");
    defaults->removeValue("RecordingQuality");
    EXPECT_EQ(defaults->stringForKey("RecordingQuality"), "MQ");
    EXPECT_FALSE(defaults->value("Unknown").isValid());
}

TEST_F(Defaults, ValuesPersistAcrossInstances) {
    defaults->setValue("KeyboardTransportMap", QVariantMap{{"record", 6}, {"play", 7}});
    defaults->synchronize();
    defaults.reset();
    auto reopened = open();
    const QVariantMap map = reopened->dictionaryForKey("KeyboardTransportMap");
    EXPECT_EQ(map.value("record").toInt(), 6);
    EXPECT_EQ(map.value("play").toInt(), 7);
}

TEST_F(Defaults, ObserversHearOnlyTheirKey) {
    QObject receiver;
    QVariantList heard;
    defaults->registerDefaults({{"Monitoring", false}});
    defaults->observe(
        "Monitoring", &receiver, [&](const QVariant& v) { heard << v; }, true);
    EXPECT_EQ(heard, QVariantList({false})) << "the initial value is delivered at once";
    defaults->setValue("Other", 1);
    defaults->setValue("Monitoring", true);
    defaults->setValue("Monitoring", true); // unchanged: no notice
    defaults->removeValue("Monitoring");
    EXPECT_EQ(heard, QVariantList({false, true, false}));
}

TEST_F(Defaults, ObservationEndsWithTheReceiver) {
    int notices = 0;
    {
        QObject receiver;
        defaults->observe("Key", &receiver, [&](const QVariant&) { ++notices; });
        defaults->setValue("Key", 1);
    }
    defaults->setValue("Key", 2);
    EXPECT_EQ(notices, 1);
}

} // namespace
