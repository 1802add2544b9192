// The conversation store over a throw-away folder: file formats, round trips, damaged
// and hostile files, file modes and concurrent use.

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "ChatStore.h"

using namespace parlote;

namespace {

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

unsigned mode(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

QStringList damagedFiles(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("toc.damaged-*.json")}, QDir::Files, QDir::Name);
}

QDateTime at(const char* isoText) {
    return QDateTime::fromString(QString::fromLatin1(isoText), Qt::ISODateWithMs);
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(temp.isValid());
        folder = temp.path() + QStringLiteral("/share/Parlote");
    }
    ChatStore makeStore() const { return ChatStore(folder); }

    QTemporaryDir temp;
    QString folder;
};

}  // namespace

TEST_F(StoreTest, CreatesPrivateFolderWithParents) {
    ChatStore store = makeStore();
    EXPECT_EQ(store.appFolder(), folder);
    EXPECT_TRUE(QFileInfo(folder).isDir());
    EXPECT_EQ(mode(folder), 0700u);
    EXPECT_EQ(mode(temp.path() + QStringLiteral("/share")), 0700u);

    // A folder left with a looser mode (an older run, a copy) is tightened.
    ASSERT_TRUE(QFile::setPermissions(
        folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                    QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    ChatStore again = makeStore();
    EXPECT_EQ(mode(folder), 0700u);
}

TEST_F(StoreTest, MissingTocIsAnEmptyList) {
    ChatStore store = makeStore();
    QList<Conversation> list;
    EXPECT_NO_THROW(list = store.loadTOC());
    EXPECT_TRUE(list.isEmpty());
    EXPECT_TRUE(store.readConversation(QUuid::createUuid()).isEmpty());
}

TEST_F(StoreTest, TocRoundTripKeepsOrderAndSkipsNewConversation) {
    ChatStore store = makeStore();
    const QList<Conversation> list{
        {SidebarID::conversation(QUuid::createUuid()), QStringLiteral("Zebra \"quoted\""),
         QStringLiteral("line one\nline two\t\\")},
        {SidebarID::conversation(QUuid::createUuid()), QStringLiteral("Äpfel 🍎 日本語"), QString()},
        {SidebarID::conversation(QUuid::createUuid()), QString(), QStringLiteral("</script>")},
    };
    QList<Conversation> withNew = list;
    withNew.insert(1, Conversation(SidebarID::newConversation(), QStringLiteral("New"), {}));
    store.saveTOC(withNew);
    EXPECT_EQ(store.loadTOC(), list);
    EXPECT_EQ(mode(store.tocPath()), 0600u);

    store.saveTOC({Conversation(SidebarID::newConversation(), QStringLiteral("New"), {})});
    EXPECT_EQ(readFile(store.tocPath()), QByteArray(R"({"contents":[]})"));
    EXPECT_TRUE(store.loadTOC().isEmpty());
}

TEST_F(StoreTest, FilesAnEarlierVersionWroteAreReadAndWrittenBackByteForByte) {
    // As the previous version wrote them: compact, keys in this order, text as UTF-8 with
    // only what JSON requires escaped.
    const QByteArray toc =
        R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":"Café \"plan\"",)"
        R"("lastMessage":"line one\nline two"},{"id":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9",)"
        R"("title":"New Conversation","lastMessage":""}]})";
    const QByteArray conversation =
        R"({"messages":[{"id":"11111111-2222-4333-8444-555555555555","content":"Hi é\t!",)"
        R"("type":"user","timestamp":"2025-01-31T09:15:00Z"},{"id":)"
        R"("66666666-7777-4888-9999-AAAAAAAAAAAA","content":"<think>x</think>\n\nAnswer",)"
        R"("type":"assistant","timestamp":"2025-01-31T09:15:07Z"},{"id":)"
        R"("BBBBBBBB-CCCC-4DDD-8EEE-FFFFFFFFFFFF","content":"Error: down","type":"error",)"
        R"("timestamp":"2025-01-31T09:16:00Z"}]})";
    ChatStore store = makeStore();
    const QUuid id = *uuidFromText(QStringLiteral("A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D"));
    writeFile(store.tocPath(), toc);
    writeFile(store.conversationPath(id), conversation);

    store.saveTOC(store.loadTOC());
    EXPECT_EQ(readFile(store.tocPath()), toc);
    const TranscriptRead read = store.readConversationFile(id);
    EXPECT_TRUE(read.setAsidePath.isEmpty());
    ASSERT_EQ(read.messages.size(), 3);
    ASSERT_TRUE(store.writeConversation(id, read.messages));
    EXPECT_EQ(readFile(store.conversationPath(id)), conversation);
}

TEST_F(StoreTest, TocFileFormat) {
    ChatStore store = makeStore();
    const QUuid id = QUuid::fromString(QStringLiteral("a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d"));
    store.saveTOC(
        {Conversation(SidebarID::conversation(id), QStringLiteral("T"), QStringLiteral("m"))});
    EXPECT_EQ(readFile(store.tocPath()),
              QByteArray(R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D",)"
                         R"("title":"T","lastMessage":"m"}]})"));

    // Readers accept any layout, key order and unknown keys, and lower-case ids.
    writeFile(store.tocPath(), R"( { "version": 2, "contents" : [
        { "lastMessage": "m", "extra": {"a": [1, 2]}, "title": "T",
          "id": "a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d" } ] } )");
    EXPECT_EQ(store.loadTOC(),
              QList<Conversation>{Conversation(SidebarID::conversation(id), QStringLiteral("T"),
                                               QStringLiteral("m"))});
}

TEST_F(StoreTest, PinsAreAnOptionalKeyOfTheirEntries) {
    // A list without pins, as earlier versions wrote it.
    const QByteArray plain =
        R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":"Plan",)"
        R"("lastMessage":"one"},{"id":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9",)"
        R"("title":"Recipes","lastMessage":"two"}]})";
    ChatStore store = makeStore();
    writeFile(store.tocPath(), plain);
    QList<Conversation> list = store.loadTOC();
    ASSERT_EQ(list.size(), 2);
    EXPECT_FALSE(list[0].pinned());
    EXPECT_FALSE(list[1].pinned());
    store.saveTOC(list);
    EXPECT_EQ(readFile(store.tocPath()), plain);

    // Pinning adds the key to that entry alone, after the others; the order stays.
    list[1].setPinned(true);
    store.saveTOC(list);
    EXPECT_EQ(readFile(store.tocPath()),
              QByteArray(R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D",)"
                         R"("title":"Plan","lastMessage":"one"},{"id":)"
                         R"("0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9","title":"Recipes",)"
                         R"("lastMessage":"two","pinned":true}]})"));
    EXPECT_EQ(store.loadTOC(), list);

    // Unpinning gives back the very bytes of the list without pins.
    list[1].setPinned(false);
    store.saveTOC(list);
    EXPECT_EQ(readFile(store.tocPath()), plain);

    // Any value but true leaves the entry unpinned, and never costs the list.
    writeFile(store.tocPath(),
              R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":"a",)"
              R"("lastMessage":"","pinned":"yes"},{"id":"0F1E2D3C-4B5A-4978-8695-A4B3C2D1E0F9",)"
              R"("title":"b","lastMessage":"","pinned":1},{"id":)"
              R"("11111111-2222-4333-8444-555555555555","title":"c","lastMessage":"",)"
              R"("pinned":false}]})");
    list = store.loadTOC();
    ASSERT_EQ(list.size(), 3);
    for (const Conversation& c : list) EXPECT_FALSE(c.pinned()) << c.title().toStdString();
    EXPECT_TRUE(damagedFiles(folder).isEmpty());
}

TEST(PinnedFirstTest, PinnedGroupFirstEachInListOrder) {
    auto make = [](const char* title, bool pinned) {
        Conversation c(SidebarID::conversation(QUuid::createUuid()), QString::fromUtf8(title), {});
        c.setPinned(pinned);
        return c;
    };
    const QList<Conversation> list{make("a", false), make("b", true), make("c", false),
                                   make("d", true)};
    QStringList titles;
    for (const Conversation& c : pinnedFirst(list)) titles << c.title();
    EXPECT_EQ(titles, QStringList({"b", "d", "a", "c"}));
    EXPECT_TRUE(pinnedFirst({}).isEmpty());
}

TEST_F(StoreTest, DamagedTocIsMovedAsideBeforeRaising) {
    ChatStore store = makeStore();
    const QList<QByteArray> damaged{
        R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":"T")",  // cut off
        "",
        "not json at all",
        R"([])",
        R"({"contents":{}})",
        R"({"items":[]})",
        R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":"T"}]})",
        R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":7,"lastMessage":""}]})",
        R"({"contents":[{"id":"{A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D}","title":"","lastMessage":""}]})",
        R"({"contents":["A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D"]})",
        QByteArray(R"({"contents":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","title":")") +
            "\xC3\x28\xFF" + R"(","lastMessage":""}]})",  // invalid UTF-8
    };
    for (const QByteArray& bytes : damaged) {
        writeFile(store.tocPath(), bytes);
        EXPECT_THROW(store.loadTOC(), StoreError) << bytes.toStdString();
        EXPECT_FALSE(QFile::exists(store.tocPath())) << bytes.toStdString();
    }
    // Every damaged file is kept, byte for byte, under its own name, even when several
    // were found within one second.
    const QStringList kept = damagedFiles(folder);
    ASSERT_EQ(kept.size(), damaged.size());
    QList<QByteArray> contents;
    for (const QString& name : kept) {
        EXPECT_TRUE(
            QRegularExpression(QStringLiteral(R"(^toc\.damaged-\d{8}T\d{6}Z(-\d+)?\.json$)"))
                .match(name)
                .hasMatch())
            << name.toStdString();
        contents.append(readFile(folder + QLatin1Char('/') + name));
    }
    for (const QByteArray& bytes : damaged) EXPECT_TRUE(contents.contains(bytes));

    // With the damaged file out of the way the next start finds no list, and a save
    // leaves the kept copies alone.
    EXPECT_TRUE(store.loadTOC().isEmpty());
    store.saveTOC({Conversation(SidebarID::conversation(QUuid::createUuid()), {}, {})});
    EXPECT_EQ(damagedFiles(folder), kept);
}

TEST_F(StoreTest, ConversationRoundTripAndFileName) {
    ChatStore store = makeStore();
    const QUuid id = QUuid::fromString(QStringLiteral("a1b2c3d4-e5f6-4a7b-8c9d-0e1f2a3b4c5d"));
    const QList<ChatMessage> messages{
        {QUuid::createUuid(), QStringLiteral("What is 2+2?"), ChatMessageType::user,
         at("2025-01-31T09:15:00.250Z")},
        {QUuid::createUuid(), QStringLiteral("<think>hmm</think>\n**4** ✓"),
         ChatMessageType::assistant, at("2025-01-31T09:15:03.999Z")},
        {QUuid::createUuid(), QStringLiteral("The service did not answer."), ChatMessageType::error,
         at("2025-01-31T10:15:04+01:00")},
    };
    ASSERT_TRUE(store.writeConversation(id, messages));
    EXPECT_EQ(QDir(folder).entryList(QDir::Files),
              QStringList{QStringLiteral("A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D.json")});
    EXPECT_EQ(store.conversationPath(id),
              folder + QStringLiteral("/A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D.json"));
    EXPECT_EQ(mode(store.conversationPath(id)), 0600u);

    const QList<ChatMessage> back = store.readConversation(id);
    ASSERT_EQ(back.size(), messages.size());
    const char* whole[] = {"2025-01-31T09:15:00Z", "2025-01-31T09:15:03Z", "2025-01-31T09:15:04Z"};
    for (qsizetype i = 0; i < back.size(); ++i) {
        EXPECT_EQ(back[i].id(), messages[i].id());
        EXPECT_EQ(back[i].content(), messages[i].content());
        EXPECT_EQ(back[i].type(), messages[i].type());
        EXPECT_EQ(back[i].timestamp(), at(whole[i])) << i;
    }
    // Written compactly, keys in their fixed order.
    const QByteArray bytes = readFile(store.conversationPath(id));
    EXPECT_TRUE(bytes.startsWith(R"({"messages":[{"id":")"));
    EXPECT_TRUE(bytes.contains(R"(","content":"What is 2+2?","type":"user",)"
                               R"("timestamp":"2025-01-31T09:15:00Z"},)"));

    // An empty transcript is a valid file.
    ASSERT_TRUE(store.writeConversation(id, {}));
    EXPECT_EQ(readFile(store.conversationPath(id)), QByteArray(R"({"messages":[]})"));

    // Deleting a conversation from the list leaves its file alone.
    store.saveTOC({});
    EXPECT_TRUE(QFile::exists(store.conversationPath(id)));
}

TEST_F(StoreTest, ExistingLooserFileModeIsTightenedOnRewrite) {
    ChatStore store = makeStore();
    const QUuid id = QUuid::createUuid();
    writeFile(store.conversationPath(id), "{}");
    writeFile(store.tocPath(), "{}");
    const auto loose = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    ASSERT_TRUE(QFile::setPermissions(store.conversationPath(id), loose));
    ASSERT_TRUE(QFile::setPermissions(store.tocPath(), loose));
    ASSERT_TRUE(store.writeConversation(id, {ChatMessage::make({}, ChatMessageType::user)}));
    store.saveTOC({});
    EXPECT_EQ(mode(store.conversationPath(id)), 0600u);
    EXPECT_EQ(mode(store.tocPath()), 0600u);
}

TEST_F(StoreTest, UndecodableConversationFilesReadEmpty) {
    ChatStore store = makeStore();
    const QUuid id = QUuid::createUuid();
    const QByteArray message =
        R"({"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","content":"c","type":"user",)"
        R"("timestamp":"2025-01-31T09:15:00Z"})";

    // Unknown keys anywhere are ignored.
    writeFile(store.conversationPath(id),
              R"({"title":"x","messages":[{"rating":5,)" + message.mid(1) + "]}");
    EXPECT_EQ(store.readConversation(id).size(), 1);

    QByteArray deep(1'000'000, '[');
    QByteArray random(4096, '\0');
    for (qsizetype i = 0; i < random.size(); ++i) random[i] = char((i * 7919 + 13) % 251);
    const QList<QByteArray> bad{
        "",
        "null",
        "[]",
        "{}",
        R"({"messages":{}})",
        R"({"messages":null})",
        R"({"messages":[)" + message + ",]}",
        R"({"messages":[)" + message.left(message.size() / 2),  // cut off mid-write
        R"({"messages":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","content":"c","type":"user"}]})",
        R"({"messages":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","content":"c","type":"user",)"
        R"("timestamp":"2025-01-31T09:15:00.123Z"}]})",
        R"({"messages":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","content":"c","type":"bot",)"
        R"("timestamp":"2025-01-31T09:15:00Z"}]})",
        R"({"messages":[)" + message +
            R"(,{"id":"nope","content":"c","type":"user",)"
            R"("timestamp":"2025-01-31T09:15:00Z"}]})",
        QByteArray(R"({"messages":[{"id":"A1B2C3D4-E5F6-4A7B-8C9D-0E1F2A3B4C5D","content":")") +
            "ok \xED\xA0\x80 \xC0\xAF" + R"(","type":"user","timestamp":"2025-01-31T09:15:00Z"}]})",
        deep,
        random,
    };
    for (const QByteArray& bytes : bad) {
        writeFile(store.conversationPath(id), bytes);
        const TranscriptRead read = store.readConversationFile(id);
        EXPECT_TRUE(read.messages.isEmpty()) << bytes.left(200).toStdString();
        // Kept byte for byte out of the way of the next save, and the reader is told where.
        EXPECT_FALSE(QFile::exists(store.conversationPath(id)));
        EXPECT_FALSE(read.problem.isEmpty());
        ASSERT_FALSE(read.setAsidePath.isEmpty());
        EXPECT_TRUE(QRegularExpression(uuidText(id) +
                                       QStringLiteral(R"(\.damaged-\d{8}T\d{6}Z(-\d+)?\.json$)"))
                        .match(read.setAsidePath)
                        .hasMatch())
            << read.setAsidePath.toStdString();
        EXPECT_EQ(readFile(read.setAsidePath), bytes);
    }
    // Each damaged version has a file of its own, also within one second.
    EXPECT_EQ(QDir(folder)
                  .entryList({uuidText(id) + QStringLiteral(".damaged-*.json")}, QDir::Files)
                  .size(),
              bad.size());

    // A missing file is simply an empty transcript, and nothing is reported.
    const TranscriptRead missing = store.readConversationFile(QUuid::createUuid());
    EXPECT_TRUE(missing.messages.isEmpty());
    EXPECT_TRUE(missing.setAsidePath.isEmpty());
    EXPECT_TRUE(missing.problem.isEmpty());

    // A path that is a folder, not a file: reported, left where it is.
    const QUuid folderId = QUuid::createUuid();
    ASSERT_TRUE(QDir().mkdir(store.conversationPath(folderId)));
    EXPECT_TRUE(store.readConversation(folderId).isEmpty());
    EXPECT_TRUE(QFileInfo(store.conversationPath(folderId)).isDir());
    EXPECT_FALSE(store.writeConversation(folderId, {}));
}

TEST_F(StoreTest, OversizedFilesAreNotRead) {
    ChatStore store = makeStore();
    const QUuid id = QUuid::createUuid();
    for (const QString& path : {store.conversationPath(id), store.tocPath()}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(ChatStore::maxFileSize + 1));  // sparse: costs no disk
    }
    EXPECT_TRUE(store.readConversation(id).isEmpty());
    EXPECT_THROW(store.loadTOC(), StoreError);
    EXPECT_EQ(damagedFiles(folder).size(), 1);
    EXPECT_FALSE(QFile::exists(store.conversationPath(id)));  // kept aside as well
}

TEST_F(StoreTest, WriteFailuresAreReportedAndKeepOldFiles) {
    ChatStore store = makeStore();
    // The file's name taken by a folder: the write cannot land, whoever runs the test.
    ASSERT_TRUE(QDir().mkdir(store.tocPath()));
    EXPECT_THROW(store.saveTOC({}), StoreError);
    EXPECT_TRUE(QFileInfo(store.tocPath()).isDir());

    ChatStore nowhere(QString{});  // no data folder at all
    EXPECT_TRUE(nowhere.loadTOC().isEmpty());
    EXPECT_THROW(nowhere.saveTOC({}), StoreError);
    EXPECT_FALSE(nowhere.writeConversation(QUuid::createUuid(), {}));
}

/// System calls of a disk that fills up: writes succeed until `room` bytes have been
/// written, then fail with ENOSPC; or the final sync fails.
struct FullDisk {
    std::size_t room = 0;
    bool syncFails = false;
    std::size_t written = 0;

    FileIo io() {
        return {[this](int fd, const void* data, std::size_t size) -> ssize_t {
                    const std::size_t n = std::min(size, room - std::min(room, written));
                    if (n == 0) {
                        errno = ENOSPC;
                        return -1;
                    }
                    written += n;
                    return ::write(fd, data, n);
                },
                [this](int fd) {
                    if (!syncFails) return ::fsync(fd);
                    errno = ENOSPC;  // delayed allocation: the disk is found full at sync
                    return -1;
                }};
    }
};

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

/// A store holding one conversation in "toc.json" and its own file, and the bytes of both.
struct KeptFiles {
    QUuid id = QUuid::createUuid();
    QList<Conversation> list;
    QByteArray toc;
    QByteArray conversation;
};

KeptFiles keepOneConversation(ChatStore& store) {
    KeptFiles kept;
    kept.list = {Conversation(SidebarID::conversation(kept.id), QStringLiteral("Kept"),
                              QStringLiteral("hi"))};
    store.saveTOC(kept.list);
    EXPECT_TRUE(
        store.writeConversation(kept.id, {ChatMessage::make("kept", ChatMessageType::user)}));
    kept.toc = readFile(store.tocPath());
    kept.conversation = readFile(store.conversationPath(kept.id));
    return kept;
}

TEST_F(StoreTest, AFullDiskNeverReplacesAGoodFile) {
    ChatStore store = makeStore();
    const KeptFiles kept = keepOneConversation(store);
    const QUuid& id = kept.id;
    const QList<Conversation>& list = kept.list;
    const QByteArray& tocBefore = kept.toc;
    const QByteArray& conversationBefore = kept.conversation;
    const QStringList filesBefore = filesIn(folder);

    const QList<ChatMessage> longer{ChatMessage::make("kept", ChatMessageType::user),
                                    ChatMessage::make("new words", ChatMessageType::assistant)};
    // Room for nothing, for part of the file, and for all of it but a failing sync; the
    // files are small, as most are (the failure then used to hide in a buffered flush).
    for (const FullDisk& disk :
         {FullDisk{0, false}, FullDisk{10, false}, FullDisk{1 << 20, true}}) {
        FullDisk state = disk;
        store.setFileIo(state.io());
        try {
            store.saveTOC(list);
            ADD_FAILURE() << "a save on a full disk reported success";
        } catch (const StoreError& e) {
            EXPECT_EQ(e.reason(), QString::fromLocal8Bit(std::strerror(ENOSPC)));
        }
        const WriteResult result = store.writeConversation(id, longer);
        EXPECT_FALSE(result);
        EXPECT_EQ(result.error, QString::fromLocal8Bit(std::strerror(ENOSPC)));

        EXPECT_EQ(readFile(store.tocPath()), tocBefore);
        EXPECT_EQ(readFile(store.conversationPath(id)), conversationBefore);
        EXPECT_EQ(filesIn(folder), filesBefore);  // no temporary file left behind
    }

    // Space comes back: the next save goes through.
    store.setFileIo(FileIo::system());
    ASSERT_TRUE(store.writeConversation(id, longer));
    EXPECT_EQ(store.readConversation(id).size(), 2);
}

TEST_F(StoreTest, ARealFullFileSystemKeepsTheOldFiles) {
    // A small tmpfs, filled up. Needs the right to mount (CI runs as root); skipped
    // elsewhere, where the seam test above covers the same ground.
    const QString mountPoint = temp.path() + QStringLiteral("/small");
    ASSERT_TRUE(QDir().mkpath(mountPoint));
    const QByteArray mountPath = QFile::encodeName(mountPoint);
    if (::mount("parlote-test", mountPath.constData(), "tmpfs", 0, "size=256k,mode=0700") != 0)
        GTEST_SKIP() << "cannot mount a small file system here (" << std::strerror(errno)
                     << "); the ENOSPC seam test covers this case";
    struct Unmount {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{mountPath};

    ChatStore store(mountPoint + QStringLiteral("/Parlote"));
    const KeptFiles kept = keepOneConversation(store);
    const QUuid& id = kept.id;
    const QList<Conversation>& list = kept.list;
    const QByteArray& tocBefore = kept.toc;
    const QByteArray& conversationBefore = kept.conversation;

    {  // Fill every last block.
        QFile filler(mountPoint + QStringLiteral("/filler"));
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (filler.write(block) == block.size()) {
        }
        while (filler.write("x", 1) == 1) {
        }
    }
    EXPECT_THROW(store.saveTOC(list), StoreError);
    EXPECT_FALSE(store.writeConversation(
        id, {ChatMessage::make("kept", ChatMessageType::user),
             ChatMessage::make("a reply that does not fit", ChatMessageType::assistant)}));
    EXPECT_EQ(readFile(store.tocPath()), tocBefore);
    EXPECT_EQ(readFile(store.conversationPath(id)), conversationBefore);
    EXPECT_EQ(store.loadTOC().size(), 1);
}

TEST_F(StoreTest, OddTextIsWrittenAsValidUtf8) {
    ChatStore store = makeStore();
    const QUuid id = QUuid::createUuid();
    const QString lone = QStringLiteral("a") + QChar(0xD800) + QStringLiteral("b") + QChar(0xDFFF);
    const QString nul = QStringLiteral("x") + QChar(0) + QStringLiteral("y\x01");
    ASSERT_NO_THROW(store.saveTOC({Conversation(SidebarID::conversation(id), lone, nul)}));
    const QList<Conversation> list = store.loadTOC();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0].lastMessage(), nul);
    EXPECT_EQ(list[0].title().size(), 4);  // each lone surrogate became one replacement char
    EXPECT_TRUE(list[0].title().startsWith(QLatin1Char('a')));

    ASSERT_TRUE(store.writeConversation(
        id, {ChatMessage(QUuid::createUuid(), lone + nul, ChatMessageType::user,
                         QDateTime::currentDateTimeUtc())}));
    EXPECT_EQ(store.readConversation(id).size(), 1);
}

TEST_F(StoreTest, StaleTemporaryFilesAreRemovedAtStart) {
    ChatStore store = makeStore();
    const QString uuidName = uuidText(QUuid::createUuid());
    const QStringList stale{QStringLiteral("toc.json.Ab3dE9"), uuidName + ".json.x1Y2z3"};
    const QStringList kept{QStringLiteral("toc.json.young1"),    // too young
                           QStringLiteral("notes.json.abcdef"),  // not a store name
                           uuidName.toLower() + ".json.abcdef",  // not a canonical name
                           QStringLiteral("toc.damaged-20250131T091500Z.json"),
                           QStringLiteral("toc.json.abc")};
    const QDateTime old = QDateTime::currentDateTimeUtc().addDays(-1);
    for (const QString& name : stale + kept) {
        const QString path = folder + QLatin1Char('/') + name;
        writeFile(path, "{");
        if (!name.contains(QStringLiteral("young"))) {
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
        }
    }
    ChatStore restarted = makeStore();
    for (const QString& name : stale)
        EXPECT_FALSE(QFile::exists(folder + '/' + name)) << name.toStdString();
    for (const QString& name : kept)
        EXPECT_TRUE(QFile::exists(folder + '/' + name)) << name.toStdString();
    EXPECT_EQ(restarted.removeStaleTemporaryFiles(std::chrono::seconds(0)), 1);  // the young one
}

TEST(SharedStoreTest, LivesInTheUserDataFolder) {
    // main() points XDG_DATA_HOME at a throw-away folder.
    const QString expected =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Parlote";
    ASSERT_TRUE(qEnvironmentVariableIsSet("XDG_DATA_HOME"));
    EXPECT_TRUE(expected.startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
    ChatStore* first = nullptr;
    std::thread other([&] { first = &ChatStore::shared(); });
    ChatStore& store = ChatStore::shared();
    other.join();
    EXPECT_EQ(first, &store);
    EXPECT_EQ(store.appFolder(), expected);
    EXPECT_EQ(mode(expected), 0700u);
}

// Several conversations written and read at once, as reply tasks do, while the list
// is saved: every transcript read is one that was written whole.
TEST_F(StoreTest, ConcurrentUseOfDistinctFiles) {
    ChatStore store = makeStore();
    constexpr int kThreads = 4;
    constexpr int kRounds = 40;
    std::vector<QUuid> ids;
    for (int i = 0; i < kThreads; ++i) ids.push_back(QUuid::createUuid());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            QList<ChatMessage> transcript;
            for (int round = 0; round < kRounds; ++round) {
                transcript.append(ChatMessage::make(QString(round * 10, QChar('a' + t)),
                                                    ChatMessageType::assistant));
                if (!store.writeConversation(ids[t], transcript)) ++failures;
                if (store.readConversation(ids[t]).size() != transcript.size()) ++failures;
            }
        });
    }
    threads.emplace_back([&] {
        for (int round = 0; round < kRounds; ++round) {
            QList<Conversation> list;
            for (const QUuid& id : ids)
                list.append({SidebarID::conversation(id), QString::number(round), {}});
            try {
                store.saveTOC(list);
                if (store.loadTOC().size() != kThreads) ++failures;
            } catch (const StoreError&) {
                ++failures;
            }
        }
    });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(StoreTest, APrefetchedListIsTakenOnceWithItsError) {
    ChatStore store(folder);
    const QList<Conversation> list{
        Conversation(SidebarID::conversation(QUuid::createUuid()), "One", "a"),
        Conversation(SidebarID::conversation(QUuid::createUuid()), "Two", "b")};
    store.saveTOC(list);
    store.prefetchTOC();
    store.prefetchTOC();  // one read under way is enough
    EXPECT_EQ(store.loadTOC(), list);
    // Later loads read the file as it is then.
    store.saveTOC({list.first()});
    EXPECT_EQ(store.loadTOC(), QList<Conversation>{list.first()});

    // A damaged file read ahead is reported by the load that takes it, and kept aside.
    writeFile(store.tocPath(), "{\"contents\": [");
    store.prefetchTOC();
    EXPECT_THROW(store.loadTOC(), StoreError);
    EXPECT_EQ(damagedFiles(folder).size(), 1);
    EXPECT_TRUE(store.loadTOC().isEmpty());

    // A store destroyed while it reads ahead waits for the reader.
    {
        ChatStore other(folder);
        other.prefetchTOC();
    }
}
