// The service with its worker thread over a real conversation store in a temporary
// folder: building the index from the store, following the application's changes,
// finding at start-up what changed while Parlote was closed, making a lost or damaged
// index again, and delivering only the latest query's results.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <chrono>

#include "ChatStore.h"
#include "SearchService.h"
#include "Sqlite.h"

using namespace parlote;
using namespace std::chrono_literals;

namespace {

template <class F>
bool runUntil(F done, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

/// Replaces `before` by `after` (as long) in the file at `path` without changing its size,
/// inode or modification time.
void rewriteKeepingFingerprint(const QString& path, const char* before, const char* after) {
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    QByteArray bytes = file.readAll();
    ASSERT_TRUE(bytes.contains(before));
    bytes.replace(before, after);
    file.seek(0);
    file.write(bytes);
    file.close();
    const struct timespec times[2] = {info.st_atim, info.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest() { start(); }

    void start() { service = std::make_unique<SearchService>(indexPath(), store); }
    QString indexPath() const { return dir.filePath(QStringLiteral("cache/search.sqlite")); }

    /// A conversation saved to the store and listed in the table of contents.
    QUuid save(const QString& title, const QStringList& texts) {
        const QUuid id = QUuid::createUuid();
        toc.append(Conversation(SidebarID::conversation(id), title, {}));
        QList<ChatMessage> messages;
        for (const QString& text : texts)
            messages.append(ChatMessage::make(text, ChatMessageType::user));
        EXPECT_TRUE(store.writeConversation(id, messages));
        store.saveTOC(toc);
        return id;
    }

    void waitIdle() {
        bool idle = false;
        service->whenIdle([&] { idle = true; });
        ASSERT_TRUE(runUntil([&] { return idle; }));
    }

    /// The results of `text` once everything asked before is done.
    SearchResults search(const QString& text) {
        waitIdle();
        std::optional<SearchResults> results;
        service->query(text, 1000, [&](const SearchResults& r) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            results = r;
        });
        EXPECT_TRUE(runUntil([&] { return results.has_value(); }));
        return results.value_or(SearchResults{});
    }

    /// The titles of the conversations where `text` was found, one per hit.
    QStringList titles(const QString& text) {
        QStringList list;
        for (const SearchHit& hit : search(text).hits) list << hit.title;
        list.sort();
        return list;
    }

    QTemporaryDir dir;
    ChatStore store{dir.filePath(QStringLiteral("data"))};
    QList<Conversation> toc;
    std::unique_ptr<SearchService> service;
};

}  // namespace

TEST_F(ServiceTest, BuildsFromTheStoreAndFollowsTheApplicationsChanges) {
    const QUuid soup = save(QStringLiteral("Soup"), {QStringLiteral("How long to boil lentils?"),
                                                     QStringLiteral("About twenty minutes.")});
    const QUuid bread = save(QStringLiteral("Bread"), {QStringLiteral("Sourdough starter tips")});
    service->rebuildIfNeeded(toc);
    const SearchResults lentils = search(QStringLiteral("lentil"));
    EXPECT_TRUE(lentils.complete);
    ASSERT_EQ(lentils.hits.size(), 1);
    EXPECT_EQ(lentils.hits[0].conversation, soup);
    EXPECT_EQ(lentils.hits[0].title, QStringLiteral("Soup"));

    // A new reply, a rename, an added conversation, a deletion.
    QList<ChatMessage> messages = store.readConversation(bread);
    messages.append(
        ChatMessage::make(QStringLiteral("Feed it flour daily"), ChatMessageType::assistant));
    service->conversationChanged(bread, QStringLiteral("Bread"), MessageList(messages));
    EXPECT_EQ(titles(QStringLiteral("flour")), QStringList{QStringLiteral("Bread")});
    service->conversationRenamed(bread, QStringLiteral("Baking"));
    EXPECT_EQ(titles(QStringLiteral("flour")), QStringList{QStringLiteral("Baking")});
    EXPECT_TRUE(titles(QStringLiteral("bread")).isEmpty());
    const QUuid pasta = QUuid::createUuid();
    service->conversationChanged(
        pasta, QStringLiteral("Pasta"),
        MessageList({ChatMessage::make(QStringLiteral("Boil the water"), ChatMessageType::user)}));
    EXPECT_EQ(titles(QStringLiteral("boil")),
              (QStringList{QStringLiteral("Pasta"), QStringLiteral("Soup")}));
    service->conversationRemoved(soup);
    EXPECT_EQ(titles(QStringLiteral("boil")), QStringList{QStringLiteral("Pasta")});
}

TEST_F(ServiceTest, AStartUpReindexesOnlyWhatChangedWhileClosed) {
    const QUuid same = save(QStringLiteral("Same"), {QStringLiteral("unchanged words")});
    const QUuid grown = save(QStringLiteral("Grown"), {QStringLiteral("first question")});
    const QUuid renamed = save(QStringLiteral("Before"), {QStringLiteral("renamed body")});
    const QUuid deleted = save(QStringLiteral("Deleted"), {QStringLiteral("gone body")});
    service->rebuildIfNeeded(toc);
    waitIdle();
    service.reset();

    // While Parlote is closed: a reply added, a rename, a deletion, a new conversation.
    QList<ChatMessage> messages = store.readConversation(grown);
    messages.append(ChatMessage::make(QStringLiteral("later answer"), ChatMessageType::assistant));
    ASSERT_TRUE(store.writeConversation(grown, messages));
    toc[2].setTitle(QStringLiteral("After"));
    toc.removeAt(3);
    QFile::remove(store.conversationPath(deleted));
    save(QStringLiteral("Added"), {QStringLiteral("added body")});
    // The unchanged file gets other words of the same length in place, its time set back:
    // its fingerprint is the same, so its old words are still found, and the new ones are
    // not, unless it was read again.
    rewriteKeepingFingerprint(store.conversationPath(same), "unchanged", "different");

    start();
    service->rebuildIfNeeded(toc);
    EXPECT_EQ(titles(QStringLiteral("unchanged")), QStringList{QStringLiteral("Same")});
    EXPECT_TRUE(titles(QStringLiteral("different")).isEmpty());
    EXPECT_EQ(titles(QStringLiteral("later")), QStringList{QStringLiteral("Grown")});
    EXPECT_EQ(titles(QStringLiteral("renamed")), QStringList{QStringLiteral("After")});
    EXPECT_TRUE(titles(QStringLiteral("before")).isEmpty());
    EXPECT_TRUE(titles(QStringLiteral("gone")).isEmpty());
    EXPECT_EQ(titles(QStringLiteral("added")),
              (QStringList{QStringLiteral("Added"), QStringLiteral("Added")}));
    Q_UNUSED(renamed);
}

TEST_F(ServiceTest, ALostOrDamagedIndexIsMadeAgainFromTheStore) {
    save(QStringLiteral("Alpha"), {QStringLiteral("first words")});
    save(QStringLiteral("Beta"), {QStringLiteral("second words")});
    service->rebuildIfNeeded(toc);
    ASSERT_EQ(titles(QStringLiteral("words")).size(), 2);
    service.reset();

    const auto overwrite = [&](const QByteArray& bytes) {
        QFile file(indexPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes);
    };
    const auto truncate = [&] {
        QFile file(indexPath());
        ASSERT_TRUE(file.resize(file.size() / 2));
    };
    const std::function<void()> damages[] = {
        [&] { QFile::remove(indexPath()); },
        [&] { overwrite(QByteArray(8192, '\x7f')); },
        truncate,
    };
    for (const auto& damage : damages) {
        damage();
        start();
        service->rebuildIfNeeded(toc);
        EXPECT_EQ(titles(QStringLiteral("words")),
                  (QStringList{QStringLiteral("Alpha"), QStringLiteral("Beta")}));
        service.reset();
    }
}

TEST_F(ServiceTest, AnIndexDamagedWhileInUseIsMadeAgain) {
    QStringList texts;
    for (int i = 0; i < 300; ++i) texts << QStringLiteral("entry number %1 of a long list").arg(i);
    save(QStringLiteral("Long"), texts);
    save(QStringLiteral("Short"), {QStringLiteral("a short list")});
    service->rebuildIfNeeded(toc);
    ASSERT_EQ(titles(QStringLiteral("short")).size(), 2);

    // Another connection takes most of the words out from under the worker's.
    sqlite::Database(indexPath()).exec("DELETE FROM texts_data WHERE id > 10");
    const SearchResults failed = search(QStringLiteral("list"));
    EXPECT_FALSE(failed.complete);
    EXPECT_EQ(titles(QStringLiteral("list")).size(), 301);
    EXPECT_EQ(titles(QStringLiteral("short")).size(), 2);
}

TEST_F(ServiceTest, ADamagedConversationFileIsLeftWhereItIs) {
    const QUuid id = save(QStringLiteral("Broken"), {QStringLiteral("lost text")});
    QFile file(store.conversationPath(id));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("{ not json");
    file.close();
    service->rebuildIfNeeded(toc);
    EXPECT_EQ(titles(QStringLiteral("broken")), QStringList{QStringLiteral("Broken")});
    EXPECT_TRUE(QFile::exists(store.conversationPath(id)));
    EXPECT_EQ(QDir(store.appFolder()).entryList({QStringLiteral("*.damaged-*")}).size(), 0);
}

TEST_F(ServiceTest, OnlyTheLatestQueryIsDelivered) {
    QStringList texts;
    for (int i = 0; i < 200; ++i) texts << QStringLiteral("alpha beta gamma %1").arg(i);
    save(QStringLiteral("Many"), texts);
    service->rebuildIfNeeded(toc);
    waitIdle();

    QStringList delivered;
    for (const char* typed : {"a", "al", "alp", "alph", "alpha"})
        service->query(QString::fromLatin1(typed), 5,
                       [&](const SearchResults& results) { delivered << results.text; });
    ASSERT_TRUE(runUntil([&] { return !delivered.isEmpty(); }));
    waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, QStringList{QStringLiteral("alpha")});

    service->query(QStringLiteral("beta"), 5,
                   [&](const SearchResults& results) { delivered << results.text; });
    service->cancelQuery();
    waitIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.size(), 1);

    // Results still on their way when the service goes are dropped.
    service->query(QStringLiteral("gamma"), 5,
                   [&](const SearchResults& results) { delivered << results.text; });
    service.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered.size(), 1);
}

TEST_F(ServiceTest, WithoutAPlaceForTheIndexSearchSaysItIsUnavailable) {
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    service = std::make_unique<SearchService>(blocker.fileName() + QStringLiteral("/search.sqlite"),
                                              store);
    save(QStringLiteral("Any"), {QStringLiteral("text")});
    service->rebuildIfNeeded(toc);
    const SearchResults results = search(QStringLiteral("text"));
    EXPECT_FALSE(results.available);
    EXPECT_FALSE(results.complete);
    EXPECT_TRUE(results.hits.isEmpty());
}
