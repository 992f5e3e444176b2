#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

// Application tests run with a QApplication on the offscreen platform and
// keep their user defaults in a folder of their own.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!std::getenv("QT_QPA_PLATFORM")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QTemporaryDir home;
    setenv("XDG_CONFIG_HOME", home.path().toLocal8Bit().constData(), 1);
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Cassora"));
    QCoreApplication::setApplicationName(QStringLiteral("Cassora"));
    return RUN_ALL_TESTS();
}
