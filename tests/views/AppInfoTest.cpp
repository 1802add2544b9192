// The build-time metadata with its fallbacks, and reading the shipped documents through
// the replaceable resource folder.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>

#include "AppInfo.h"

namespace parlote {
namespace {

class AppInfoTest : public ::testing::Test {
protected:
    void TearDown() override {
        appinfo::setMetadata(std::nullopt);
        appinfo::setResourceRoot({});
    }

    void write(const QString& name, const QByteArray& bytes) {
        QFile file(folder.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QTemporaryDir folder;
};

TEST_F(AppInfoTest, NameFallsBackFromDisplayNameToNameToUnknownApp) {
    appinfo::setMetadata(AppMetadata{"Shown", "Bundle", "2.0", "7"});
    EXPECT_EQ(appinfo::displayName(), "Shown");
    appinfo::setMetadata(AppMetadata{"", "Bundle", "2.0", "7"});
    EXPECT_EQ(appinfo::displayName(), "Bundle");
    appinfo::setMetadata(AppMetadata{"", "", "2.0", "7"});
    EXPECT_EQ(appinfo::displayName(), "Unknown App");
    EXPECT_EQ(appinfo::versionLine(), "Version 2.0 (7)");
}

TEST_F(AppInfoTest, MissingVersionAndBuildShowUnknown) {
    appinfo::setMetadata(AppMetadata{"Parlote", "Parlote", "", ""});
    EXPECT_EQ(appinfo::shortVersion(), "Unknown");
    EXPECT_EQ(appinfo::build(), "Unknown");
    EXPECT_EQ(appinfo::versionLine(), "Version Unknown (Unknown)");
    appinfo::setMetadata(AppMetadata{"Parlote", "Parlote", "1.2", ""});
    EXPECT_EQ(appinfo::versionLine(), "Version 1.2 (Unknown)");
}

TEST_F(AppInfoTest, ShippedDocumentsAreReadable) {
    EXPECT_EQ(appinfo::resourceRoot(), ":/resources");
    const auto welcome = appinfo::readResource("Welcome");
    ASSERT_TRUE(welcome.has_value());
    EXPECT_TRUE(welcome->contains("ollama pull llama3.2"));
    EXPECT_TRUE(welcome->contains("ollama serve"));
    EXPECT_TRUE(welcome->contains("127.0.0.1:11434"));
    EXPECT_TRUE(welcome->contains("OLLAMA_HOST"));
    EXPECT_TRUE(welcome->contains("https://ollama.com/install.sh"));

    const auto legal = appinfo::readResource("Legal");
    ASSERT_TRUE(legal.has_value());
    EXPECT_TRUE(legal->contains("Copyright (c) 2026 the Parlote developers"));
    for (const char* part :
         {"MIT License", "Qt 6", "Lesser General Public License", "libcurl", "curl license",
          "nlohmann/json", "cmark-gfm", "BSD 2-Clause", "GoogleTest", "BSD 3-Clause",
          "Google Benchmark", "Apache License 2.0", "cpp-httplib"})
        EXPECT_TRUE(legal->contains(part)) << part;
    EXPECT_FALSE(QIcon(":/resources/parlote.svg").isNull());
}

TEST_F(AppInfoTest, AnyReadFailureGivesNothing) {
    ASSERT_TRUE(folder.isValid());
    appinfo::setResourceRoot(folder.path());
    EXPECT_EQ(appinfo::readResource("Welcome"), std::nullopt);  // absent

    write("Legal.md", QByteArray("caf\xc3\xa9 \xff\xfe broken"));
    EXPECT_EQ(appinfo::readResource("Legal"), std::nullopt);  // not UTF-8
    write("Legal.md", QByteArray("ends inside a character \xc3"));
    EXPECT_EQ(appinfo::readResource("Legal"), std::nullopt);  // truncated sequence

    ASSERT_TRUE(QDir(folder.path()).mkdir("Welcome.md"));
    EXPECT_EQ(appinfo::readResource("Welcome"), std::nullopt);  // a folder, not a file
    EXPECT_EQ(appinfo::readResource(""), std::nullopt);
    EXPECT_EQ(appinfo::readResource("../Legal"), std::nullopt);
}

TEST_F(AppInfoTest, DocumentsAreDecodedAsUtf8AndReadAfresh) {
    appinfo::setResourceRoot(folder.path());
    write("Legal.md", QByteArray("\xef\xbb\xbf# Caf\xc3\xa9 \xe2\x80\x94 \xf0\x9f\x98\x80"));
    EXPECT_EQ(appinfo::readResource("Legal"), QString::fromUtf8("# Café — 😀"));
    write("Legal.md", "second version");
    EXPECT_EQ(appinfo::readResource("Legal"), "second version");
    write("Legal.md", "");
    EXPECT_EQ(appinfo::readResource("Legal"), QString());

    appinfo::setResourceRoot({});
    EXPECT_TRUE(appinfo::readResource("Legal").has_value());
}

}  // namespace
}  // namespace parlote
