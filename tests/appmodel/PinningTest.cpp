// Pinned conversations: the pin is kept in "toc.json" with the list's own order, survives a
// restart, a rename and an undone deletion, and leaves a list without pins written as it
// was; a new conversation joins the others, below the pinned ones.

#include <QFile>

#include "Harness.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

QStringList titles(const QList<Conversation>& list) {
    QStringList result;
    for (const Conversation& c : list) result << c.title() + (c.pinned() ? "*" : "");
    return result;
}

class PinningTest : public ::testing::Test {
protected:
    Harness h;
    const Conversation a = stored("Alpha", "first");
    const Conversation b = stored("Beta", "second");
    const Conversation c = stored("Gamma", "third");

    void SetUp() override { h.store.saveTOC({a, b, c}); }

    QByteArray tocBytes() const {
        QFile file(h.store.tocPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

TEST_F(PinningTest, PinsAreSavedAndComeBackInTheSameOrderAfterARestart) {
    const QByteArray unpinned = tocBytes();
    ZoruveVede& model = h.start();
    model.setPinned(c.id(), true);
    model.setPinned(b.id(), true);
    EXPECT_EQ(titles(model.conversations()), QStringList({"Alpha", "Beta*", "Gamma*"}));
    EXPECT_EQ(titles(pinnedFirst(model.conversations())),
              QStringList({"Beta*", "Gamma*", "Alpha"}));
    EXPECT_TRUE(h.toc()["contents"][1]["pinned"].get<bool>());
    EXPECT_FALSE(h.toc()["contents"][0].contains("pinned"));

    // A rename keeps the pin.
    model.renameConversation(b.id(), "Beta renamed");
    EXPECT_TRUE(model.conversations()[1].pinned());

    // A new run over the same folder: another store, another model.
    model.applicationWillQuit();
    h.model.reset();
    ChatStore again(h.store.appFolder());
    EXPECT_EQ(titles(pinnedFirst(again.loadTOC())),
              QStringList({"Beta renamed*", "Gamma*", "Alpha"}));
    ZoruveVede& restarted = h.start();
    EXPECT_EQ(titles(pinnedFirst(restarted.conversations())),
              QStringList({"Beta renamed*", "Gamma*", "Alpha"}));

    // Unpinning everything (and the old title) writes the list as it was before any pin.
    restarted.renameConversation(b.id(), "Beta");
    restarted.setPinned(b.id(), false);
    restarted.setPinned(c.id(), false);
    EXPECT_EQ(tocBytes(), unpinned);
}

TEST_F(PinningTest, AnUnknownConversationOrAnUnchangedPinWritesNothing) {
    ZoruveVede& model = h.start();
    model.setPinned(a.id(), true);
    QFile::remove(h.store.tocPath());
    model.setPinned(a.id(), true);
    model.setPinned(SidebarID::conversation(QUuid::createUuid()), true);
    model.setPinned(SidebarID::newConversation(), true);
    EXPECT_FALSE(QFile::exists(h.store.tocPath()));
    EXPECT_EQ(titles(model.conversations()), QStringList({"Alpha*", "Beta", "Gamma"}));
}

TEST_F(PinningTest, AnUndoneDeletionKeepsThePin) {
    ZoruveVede& model = h.start();
    model.setPinned(b.id(), true);
    model.removeConversation(b.id());
    EXPECT_EQ(titles(model.conversations()), QStringList({"Alpha", "Gamma"}));
    model.undoDeletion();
    EXPECT_EQ(titles(model.conversations()), QStringList({"Alpha", "Beta*", "Gamma"}));
    EXPECT_TRUE(h.toc()["contents"][1]["pinned"].get<bool>());
}

TEST_F(PinningTest, ANewConversationJoinsTheOthersBelowThePinned) {
    h.answer(ChatScript::words("Hello there"), "Greeting");
    ZoruveVede& model = h.start();
    model.setPinned(c.id(), true);
    model.setSelectedModel(QStringLiteral("llama3.2:latest"));
    model.setInputText("Hi");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.conversations().size() == 4; }));
    const QList<Conversation> shown = pinnedFirst(model.conversations());
    EXPECT_EQ(shown[0].title(), "Gamma");
    EXPECT_FALSE(shown[1].pinned());
    EXPECT_EQ(shown[1].id(), model.selectedConversation());
    ASSERT_TRUE(eventually([&] { return !model.inSendingMessage(); }));
}

}  // namespace
