// Searching every conversation from the main window, with the real application model, a
// search index in the test's folder and the fake Ollama server: Ctrl+K and typing show
// what matches with its snippet, Up, Down and Return open the conversation at the message
// found, Escape empties the field, and the index follows replies, renames and deletions.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>

#include "ConversationListView.h"
#include "ConversationSearch.h"
#include "CustomTextView.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "TranscriptView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class SearchTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainWindow> window;
    const Conversation garden = stored("Garden plans");
    const Conversation travel = stored("Trip to Portugal");
    const Conversation cooking = stored("Dinner ideas");
    const QDateTime at = QDateTime(QDate(2026, 3, 14), QTime(9, 0), Qt::UTC);
    QList<ChatMessage> travelMessages;

    SearchTest() {
        h.searchIndex = h.dir.filePath(QStringLiteral("cache/search.sqlite"));
        h.store.saveTOC({garden, travel, cooking});
        auto message = [&](const QString& text, ChatMessageType type, int minutes) {
            return ChatMessage(QUuid::createUuid(), text, type, at.addSecs(60 * minutes));
        };
        h.store.writeConversation(
            garden.id().uuid(),
            {message("When should I plant tomatoes?", ChatMessageType::user, 0),
             message("Plant **tomatoes** after the last frost.", ChatMessageType::assistant, 1)});
        travelMessages = {message("What should I see in Lisbon?", ChatMessageType::user, 0),
                          message("The Alfama district, the tram 28 and the view from the castle.",
                                  ChatMessageType::assistant, 1),
                          message("And where do I eat?", ChatMessageType::user, 2),
                          message("Grilled sardines and ripe tomatoes in a tasca near the river.",
                                  ChatMessageType::assistant, 3)};
        h.store.writeConversation(travel.id().uuid(), travelMessages);
        h.store.writeConversation(
            cooking.id().uuid(),
            {message("Something quick with pasta?", ChatMessageType::user, 0),
             message("Pasta with garlic and olive oil.", ChatMessageType::assistant, 1)});
    }

    void TearDown() override {
        if (!window) return;
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
    }

    void start() {
        window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->resize(1000, 700);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        window->activateWindow();
        ASSERT_TRUE(eventually([&] { return QApplication::activeWindow() == window.get(); }));
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        model().setSelectedModel(QStringLiteral("llama3.2:latest"));
    }

    MainView* view() const { return window->mainView(); }
    ZoruveVede& model() const { return view()->viewModel(); }
    ConversationSearch* search() const { return view()->search(); }
    QLineEdit* field() const { return search()->field(); }
    QWidget* input() const { return view()->input()->textView(); }

    /// Empties the field, types `text` into it as the user would and waits for the
    /// findings shown for it; their titles in their order.
    QStringList searchFor(const QString& text) {
        settle();
        field()->setFocus();
        field()->clear();
        QSignalSpy answered(search(), &ConversationSearch::answered);
        QTest::keyClicks(field(), text);
        if (!answered.wait(5000)) ADD_FAILURE() << "no answer for " << text.toStdString();
        QStringList titles;
        for (const SearchFinding& finding : search()->findings()) titles << finding.title;
        return titles;
    }

    /// Waits until the index has taken in every change made so far.
    void settle() {
        bool idle = false;
        model().whenSearchIdle([&] { idle = true; });
        if (!eventually([&] { return idle; })) ADD_FAILURE() << "the index never settled";
    }

    /// The matched words of a finding's snippet.
    static QStringList matchedWords(const SearchFinding& finding) {
        QStringList words;
        for (const auto& [start, length] : finding.matches)
            words << finding.snippet.mid(start, length);
        return words;
    }
};

TEST_F(SearchTest, TypingShowsTheMatchesAndReturnOpensTheMessageFound) {
    start();
    // Ctrl+K from the input box, with the sidebar hidden: it shows, with the field focused.
    view()->setSidebarShown(false);
    input()->setFocus();
    QTest::keyClick(input(), Qt::Key_K, Qt::ControlModifier);
    EXPECT_TRUE(view()->sidebarShown());
    EXPECT_EQ(QApplication::focusWidget(), field());
    EXPECT_FALSE(search()->resultsPanel()->isVisible()) << "nothing typed yet";

    EXPECT_EQ(searchFor("lisbon"), QStringList({"Trip to Portugal"}));
    const SearchFinding lisbon = search()->findings().at(0);
    EXPECT_EQ(lisbon.message, travelMessages[0].id());
    EXPECT_EQ(lisbon.snippet, "What should I see in Lisbon?");
    EXPECT_EQ(matchedWords(lisbon), QStringList({"Lisbon"}));
    EXPECT_EQ(lisbon.date, travelMessages[0].timestamp());
    EXPECT_TRUE(search()->resultList()->isVisible()) << "the findings take the list's place";
    EXPECT_FALSE(view()->sidebar()->listView()->isVisible());
    EXPECT_FALSE(search()->statusLabel()->isVisible());

    // A word in two conversations: both, each with the message it is in.
    const QStringList both = searchFor("tomatoes");
    ASSERT_EQ(both.size(), 3) << both.join(", ").toStdString();
    EXPECT_EQ(both.count("Garden plans"), 2);
    EXPECT_EQ(both.count("Trip to Portugal"), 1);
    const int sardines =
        int(std::find(both.begin(), both.end(), "Trip to Portugal") - both.begin());
    EXPECT_EQ(search()->currentRow(), 0) << "the best one is chosen";
    // Down past the end stays on the last one; Up goes back from there.
    for (int i = 0; i < 4; ++i) QTest::keyClick(field(), Qt::Key_Down);
    EXPECT_EQ(search()->currentRow(), 2);
    for (int i = 2; i > sardines; --i) QTest::keyClick(field(), Qt::Key_Up);
    ASSERT_EQ(search()->currentRow(), sardines);
    EXPECT_EQ(matchedWords(search()->findings().at(sardines)), QStringList({"tomatoes"}));

    QTest::keyClick(field(), Qt::Key_Return);
    EXPECT_EQ(model().selectedConversation(), travel.id());
    TranscriptView* transcript = view()->transcript();
    ASSERT_EQ(transcript->messages().size(), 4);
    EXPECT_EQ(transcript->currentRow(), 3) << "the message found is the current one";
    EXPECT_EQ(QApplication::focusWidget(), transcript);
    EXPECT_FALSE(transcript->messageFocusRect().isNull()) << "and marked, in view";

    // Nothing found says so; Escape empties the field and goes back to the input box.
    EXPECT_TRUE(searchFor("zeppelin").isEmpty());
    EXPECT_TRUE(search()->statusLabel()->isVisible());
    EXPECT_EQ(search()->statusLabel()->text(), "No results");
    QTest::keyClick(field(), Qt::Key_Escape);
    EXPECT_TRUE(field()->text().isEmpty());
    EXPECT_FALSE(search()->resultsPanel()->isVisible());
    EXPECT_TRUE(view()->sidebar()->listView()->isVisible());
    EXPECT_EQ(QApplication::focusWidget(), input());
}

TEST_F(SearchTest, RenamesRepliesAndDeletionsAreFollowed) {
    h.answer(ChatScript::words("The platypus lays eggs."), "Odd mammals");
    start();
    model().renameConversation(cooking.id(), "Weeknight suppers");
    EXPECT_EQ(searchFor("suppers"), QStringList({"Weeknight suppers"}));
    EXPECT_TRUE(search()->findings().at(0).message.isNull()) << "the title matched";
    EXPECT_TRUE(searchFor("dinner").isEmpty()) << "the old title is gone";

    // A reply in a new conversation, and the title it is given.
    model().setSelectedConversation(SidebarID::newConversation());
    model().setInputText(QStringLiteral("Which mammal lays eggs?"));
    model().sendMessage();
    ASSERT_TRUE(eventually([&] {
        return !model().inSendingMessage() && model().conversations().size() == 4 &&
               model().conversations().at(0).title() == "Odd mammals";
    }));
    EXPECT_EQ(searchFor("platypus"), QStringList({"Odd mammals"}));
    EXPECT_EQ(search()->findings().at(0).message, model().messages().at(1).id());

    // A deletion is not found, an undone one is again, a final one never more. Findings
    // on show are looked up again when the conversations change.
    ASSERT_EQ(searchFor("tomatoes").size(), 3);
    search()->resultList()->setCurrentIndex(search()->resultList()->model()->index(1, 0));
    const SearchFinding chosen = search()->findings().at(1);
    model().removeConversation(travel.id());
    ASSERT_TRUE(eventually([&] { return search()->findings().size() == 2; }));
    if (chosen.conversation != travel.id().uuid()) {
        const SearchFinding& still = search()->findings().at(search()->currentRow());
        EXPECT_EQ(still.message, chosen.message) << "the choice stays";
    }
    EXPECT_TRUE(searchFor("lisbon").isEmpty());
    model().undoDeletion();
    EXPECT_EQ(searchFor("lisbon"), QStringList({"Trip to Portugal"}));
    model().setUndoDelay(std::chrono::milliseconds(20));
    model().removeConversation(travel.id());
    ASSERT_TRUE(eventually([&] { return !model().hasPendingDeletion(); }));
    EXPECT_TRUE(searchFor("lisbon").isEmpty());
    // The other conversations' matches stay.
    EXPECT_EQ(searchFor("tomatoes"), QStringList({"Garden plans", "Garden plans"}));
}

}  // namespace
