// Test entry point. Points the user data folder, where the desktop's trash lives, at a
// throw-away directory: deleted conversations of the tests go to a trash of their own.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid() || !QDir(home.path()).mkpath(QStringLiteral("share"))) return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/share")));
    // The home trash serves files on the home volume: the temporary folders are on it too.
    qputenv("HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
