// A server chosen in Preferences, with the real window and application model against two
// fake Ollama servers: OK points new chat requests and the service watch at the new server
// at once, while a reply already arriving ends on the server it began on.

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>

#include "ConversationSettingsForm.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ServerSection.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

/// The user texts of the chat requests `server` received (title requests left out).
std::vector<std::string> questionsAt(const FakeOllama& server) {
    std::vector<std::string> texts;
    for (const RecordedRequest& request : server.requestsTo("/api/chat")) {
        if (!request.body.contains("messages") || request.body["messages"].empty()) continue;
        const std::string last = request.body["messages"].back().value("content", "");
        if (last != kTitlePrompt.toStdString()) texts.push_back(last);
    }
    return texts;
}

class ServerChoiceTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<FakeOllama> second = std::make_unique<FakeOllama>();
    std::unique_ptr<MainWindow> window;

    void SetUp() override {
        // No secret store answers here: nothing of the user's keyring is touched.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/parlote-bus");
        second->setModels(h.server.models());
        second->setChatScript(ChatScript::words("Answered by the second server."));
    }
    void TearDown() override {
        if (!window) return;
        model().applicationWillQuit();
        window.reset();
    }

    void start() {
        // A quick watch, so that a server going away shows within the test.
        window = std::make_unique<MainWindow>(h.services(std::chrono::milliseconds(100)),
                                              [] { return nullptr; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        model().setSelectedModel(QStringLiteral("llama3.2:latest"));
    }
    ZoruveVede& model() const { return window->mainView()->viewModel(); }

    /// Chooses `address` in Preferences and presses OK, as the user does.
    void chooseInPreferences(const std::string& address) {
        window->preferencesAction()->trigger();
        PreferencesDialog* dialog = window->mainView()->preferencesDialog();
        ASSERT_NE(dialog, nullptr);
        dialog->serverSection()->addressField()->setText(QString::fromStdString(address));
        QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        ASSERT_TRUE(ok->isEnabled());
        ok->click();
    }
};

}  // namespace

TEST_F(ServerChoiceTest, NewRequestsAndTheWatchGoToTheChosenServerWhileAReplyEndsWhereItBegan) {
    // The first server's reply halts after two words, until released.
    ChatScript slow = ChatScript::words("Begun on the first server and ended there too.");
    slow.stallAfter = 2;
    h.answer(slow, "Servers");
    start();

    model().setInputText(QStringLiteral("Where are you?"));
    model().sendMessage();
    ASSERT_TRUE(eventually([&] { return h.server.chatStreamsActive() == 1; }));

    chooseInPreferences(second->baseUrl());
    ASSERT_TRUE(eventually([&] {
        return !second->requestsTo("/api/version").empty() &&
               !second->requestsTo("/api/tags").empty();
    }));

    // The reply under way is not cut off: it ends with the first server's words.
    h.server.releaseStalls();
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }, 10s));
    ASSERT_EQ(model().messages().size(), 2);
    EXPECT_EQ(model().messages().last().type(), ChatMessageType::assistant);
    EXPECT_EQ(model().messages().last().content(),
              QStringLiteral("Begun on the first server and ended there too."));
    EXPECT_EQ(h.server.chatStreamsAborted(), 0);

    // The next question goes to the second server alone.
    model().setInputText(QStringLiteral("And now?"));
    model().sendMessage();
    ASSERT_TRUE(eventually([&] { return model().messages().size() == 4; }, 10s));
    ASSERT_TRUE(eventually([&] { return !model().inSendingMessage(); }, 10s));
    EXPECT_EQ(model().messages().last().content(),
              QStringLiteral("Answered by the second server."));
    EXPECT_EQ(questionsAt(h.server), std::vector<std::string>{"Where are you?"});
    EXPECT_EQ(questionsAt(*second), std::vector<std::string>{"And now?"});

    // The watch asks the second server: with it gone, Ollama is down, though the first
    // still answers.
    ASSERT_TRUE(model().ollamaRunning());
    const std::size_t firstChecks = h.server.requestsTo("/api/version").size();
    second.reset();
    EXPECT_TRUE(eventually([&] { return !model().ollamaRunning(); }, 10s));
    EXPECT_EQ(h.server.requestsTo("/api/version").size(), firstChecks);
}
