// The entry point of the widget tests (views, app, markdown): a QApplication, on the
// offscreen platform unless the caller chose another, with the user data folder (where
// the desktop's trash lives) in a throw-away directory: conversations the tests delete
// go to a trash of their own.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    if (!data.isValid() || !QDir(data.path()).mkpath(QStringLiteral("share"))) return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path() + QStringLiteral("/share")));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
