#pragma once

#include <QLocale>

class QCoreApplication;

// The program's words in the user's language: our catalogue and Qt's own
// (the standard buttons and dialogs), chosen by the locale's list of
// languages (LANGUAGE, then LC_ALL, LC_MESSAGES and LANG).
class Translations {
public:
    // Installs both translators on the application, which keeps them.
    // Returns whether our catalogue had the language; English needs none.
    static bool install(QCoreApplication& application, const QLocale& locale = QLocale::system());

    // Where the program carries its compiled catalogues.
    static QString catalogueFolder();
};
