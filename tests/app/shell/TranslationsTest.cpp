#include "app/shell/Translations.h"

#include <QCoreApplication>
#include <QFile>
#include <QTranslator>

#include <gtest/gtest.h>

namespace {

// Takes every translator the test installed off the application again.
void removeTranslators() {
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

TEST(Translations, GermanLoadsOurCatalogueAndQtsOwn) {
    EXPECT_TRUE(QFile::exists(Translations::catalogueFolder() + "/cassora_de.qm"));
    EXPECT_TRUE(Translations::install(*qApp, QLocale(QLocale::German, QLocale::Germany)));
    EXPECT_EQ(QCoreApplication::translate("AppController", "&File"), "&Datei");
    EXPECT_EQ(QCoreApplication::translate("WindowController", "The recording could not start"),
              "Die Aufnahme konnte nicht beginnen");
    EXPECT_EQ(QCoreApplication::translate("WindowController",
                                          "No audio has arrived from the input for %n seconds. Is "
                                          "the device suspended or unplugged, or the sound server "
                                          "frozen? Cassora is still recording and keeps "
                                          "everything that arrives.",
                                          nullptr, 1)
                  .left(30),
              "Seit 1 Sekunde kommt kein Ton ");
    // Qt's own words (the standard buttons) come from Qt's catalogue.
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Abbrechen");
    removeTranslators();
    EXPECT_EQ(QCoreApplication::translate("AppController", "&File"), "&File");
}

TEST(Translations, EnglishAndUnknownLanguagesKeepTheSourceTexts) {
    EXPECT_FALSE(Translations::install(*qApp, QLocale(QLocale::English, QLocale::UnitedStates)));
    EXPECT_FALSE(Translations::install(*qApp, QLocale(QLocale::Zulu)));
    EXPECT_EQ(QCoreApplication::translate("AppController", "&File"), "&File");
    removeTranslators();
}

} // namespace
