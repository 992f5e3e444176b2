#include "app/shell/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool Translations::install(QCoreApplication& application, const QLocale& locale) {
    auto* ours = new QTranslator(&application);
    const bool found =
        ours->load(locale, QStringLiteral("cassora"), QStringLiteral("_"), catalogueFolder());
    if (found) {
        QCoreApplication::installTranslator(ours);
    } else {
        delete ours;
    }
    // Qt's own words (OK, Cancel, the file dialog) from the system's Qt.
    auto* qt = new QTranslator(&application);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt);
    } else {
        delete qt;
    }
    return found;
}

QString Translations::catalogueFolder() {
    return QStringLiteral(":/i18n");
}
