// Deleting a conversation: the entry leaves the list at once, "Undo" brings it back as it
// was, and once the deletion is final the file and the pictures only it used go to the
// desktop's trash (main() points XDG_DATA_HOME at a throw-away folder that holds it).

#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include "Harness.h"
#include "Trash.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

QString trashed(const QString& name) {
    return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files/") + name;
}
QString fileName(const QUuid& id) {
    return uuidText(id) + QStringLiteral(".json");
}
QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
QByteArray picture(const char* name) {
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + name;
}
QStringList entries(const ZoruveVede& model) {
    QStringList list;
    for (const Conversation& c : model.conversations())
        list << c.title() + QLatin1Char('|') + c.lastMessage();
    return list;
}

class DeletionTest : public ::testing::Test {
protected:
    Harness h;
    const Conversation a = stored("Alpha", "first words");
    const Conversation b = stored("Beta", "second words");
    const Conversation c = stored("Gamma", "third words");

    void SetUp() override {
        h.store.saveTOC({a, b, c});
        for (const Conversation& entry : {a, b, c})
            h.store.writeConversation(entry.id().uuid(),
                                      {ChatMessage::make(entry.title(), ChatMessageType::user)});
    }
    QString path(const Conversation& entry) const {
        return h.store.conversationPath(entry.id().uuid());
    }
    bool inTrash(const Conversation& entry) const {
        return QFile::exists(trashed(fileName(entry.id().uuid()))) && !QFile::exists(path(entry));
    }
};

TEST_F(DeletionTest, UndoPutsTheConversationBackInPlaceWithItsFileUntouched) {
    ZoruveVede& model = h.start();
    model.setUndoDelay(100ms);
    model.setSelectedConversation(b.id());
    model.selectConversation(b.id());
    model.setInputText("unsent words");
    const QByteArray before = bytesOf(path(b));
    const QByteArray tocBefore = bytesOf(h.store.tocPath());

    model.removeConversation(b.id());
    EXPECT_EQ(entries(model), (QStringList{"Alpha|first words", "Gamma|third words"}));
    EXPECT_EQ(h.toc()["contents"].size(), 2u);
    EXPECT_TRUE(model.selectedConversation().isNewConversation());
    EXPECT_TRUE(model.hasPendingDeletion());

    model.undoDeletion();
    EXPECT_FALSE(model.hasPendingDeletion());
    EXPECT_EQ(entries(model),
              (QStringList{"Alpha|first words", "Beta|second words", "Gamma|third words"}));
    EXPECT_EQ(bytesOf(h.store.tocPath()), tocBefore) << "the list is written as it was";
    EXPECT_EQ(model.selectedConversation(), b.id());
    EXPECT_EQ(model.conversationDescription(), "Beta");
    ASSERT_EQ(model.messages().size(), 1);
    EXPECT_EQ(model.inputText(), "unsent words") << "the draft comes back too";

    // The delay passes: an undone deletion never reaches the trash.
    QTest::qWait(300);
    EXPECT_EQ(bytesOf(path(b)), before);
    EXPECT_FALSE(QFile::exists(trashed(fileName(b.id().uuid()))));
}

TEST_F(DeletionTest, WhenTheDelayEndsTheFileAndOnlyItsOwnPicturesGoToTheTrash) {
    const QString shared = h.store.attachments().store(picture("shared")).reference;
    const QString own = h.store.attachments().store(picture("own")).reference;
    h.store.writeConversation(
        a.id().uuid(),
        {ChatMessage::make("both", ChatMessageType::user).withImages({shared, own})});
    h.store.writeConversation(
        b.id().uuid(), {ChatMessage::make("one", ChatMessageType::user).withImages({shared})});
    ZoruveVede& model = h.start();
    model.setUndoDelay(100ms);
    model.setSelectedConversation(a.id());
    model.selectConversation(a.id());
    model.setInputText("private draft");
    QSignalSpy pending(&model, &ZoruveVede::pendingDeletionChanged);

    model.removeConversation(a.id());
    EXPECT_TRUE(QFile::exists(path(a))) << "the file waits for the delay";
    ASSERT_TRUE(eventually([&] { return inTrash(a); }));
    EXPECT_FALSE(model.hasPendingDeletion());
    EXPECT_EQ(pending.size(), 2);
    ASSERT_TRUE(eventually([&] { return QFile::exists(trashed(own)); }));
    EXPECT_FALSE(QFile::exists(h.store.attachments().path(own)));
    EXPECT_TRUE(QFile::exists(h.store.attachments().path(shared))) << "Beta still shows it";
    EXPECT_EQ(entries(model), (QStringList{"Beta|second words", "Gamma|third words"}));
    model.undoDeletion();  // too late: nothing to undo
    EXPECT_EQ(model.conversations().size(), 2);
    model.applicationWillQuit();
    EXPECT_FALSE(h.store.loadDrafts().contains(a.id().id())) << "the draft went too";
}

TEST_F(DeletionTest, ADeletionIsMadeFinalByTheNextOneAndByQuitting) {
    ZoruveVede& model = h.start();  // the delay stays 8 seconds
    model.removeConversation(a.id());
    model.removeConversation(c.id());
    ASSERT_TRUE(eventually([&] { return inTrash(a); }, 4s)) << "finished by the next deletion";
    EXPECT_TRUE(QFile::exists(path(c)));
    model.undoDeletion();  // the last one only
    EXPECT_EQ(entries(model), (QStringList{"Beta|second words", "Gamma|third words"}));

    model.removeConversation(b.id());
    model.applicationWillQuit();
    EXPECT_TRUE(inTrash(b)) << "quitting waits for the move";
    EXPECT_EQ(h.toc()["contents"].size(), 1u);
}

TEST_F(DeletionTest, AReplyStillArrivingDoesNotWriteTheFileBackAfterTheTrash) {
    h.server.setChatScript(ChatScript::words("a long reply that goes on and on and on", 50ms));
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    model.setSelectedConversation(a.id());
    model.selectConversation(a.id());
    model.setInputText("Hello");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 3; }));
    model.removeConversation(a.id());
    model.applicationWillQuit();  // the reply task has ended when this returns
    EXPECT_TRUE(inTrash(a));
    QFile file(trashed(fileName(a.id().uuid())));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().contains("Hello")) << "the file as it was when deleted";
}

TEST(Trash, WithoutATrashTheFileStaysWhereItIs) {
    QTemporaryDir dir;
    const QString path = dir.filePath("kept.json");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.filePath("missing")));
    const bool moved = moveToTrash(path);
    qputenv("XDG_DATA_HOME", saved);
    EXPECT_FALSE(moved);
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(QDir::current().filePath("files/kept.json")));
}

}  // namespace
