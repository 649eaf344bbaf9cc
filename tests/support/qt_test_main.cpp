// GoogleTest entry point for tests that need a QApplication (offscreen in CI).
#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Tests never need a display; listing them at build time has none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::testing::InitGoogleTest(&argc, argv);
    // The profile of a test run never touches the user's own, nor another
    // test process's: a configuration folder of its own.
    QTemporaryDir profileDir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(profileDir.path()));
    QApplication app(argc, argv);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, profileDir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, profileDir.path());
    return RUN_ALL_TESTS();
}
