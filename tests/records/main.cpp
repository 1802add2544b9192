// Test entry point. Points the user data folder at a throw-away directory so that no
// test touches the real one, and doubles as the writer process of the crash test.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <cstring>

int runCrashWriter(const char* folderPath);  // CrashSafetyTest.cpp

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--crash-writer") == 0) return runCrashWriter(argv[2]);

    QTemporaryDir home;
    if (!home.isValid()) return 1;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + QStringLiteral("/share")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/config")));

    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
