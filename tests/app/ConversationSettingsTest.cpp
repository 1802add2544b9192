// Conversation settings as a user works them in the main window, with the real application
// model against the fake Ollama server: "Conversation Settings…" (the menu, the header's
// button, the shortcut) opens the form for the conversation shown; OK applies it (the file
// gains "settings" only when something is set, and the requests carry them), Cancel changes
// nothing; the system prompt's card comes and goes with the prompt and opens the form at
// the prompt; a reply's "Context full" opens it at the context length; Preferences keeps the
// settings new conversations start with.

#include <QApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QToolButton>

#include "ConversationCommands.h"
#include "ConversationSettingsForm.h"
#include "CustomTextView.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ServerSection.h"
#include "SystemPromptCard.h"
#include "TranscriptView.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class ConversationSettingsTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainWindow> window;
    const Conversation stored1 = stored("Sky", "Rayleigh");

    void TearDown() override {
        if (!window) return;
        window->mainView()->viewModel().applicationWillQuit();
        window.reset();
    }

    /// One stored conversation: a question and its reply, the context of which was full.
    void storeConversation() {
        h.store.saveTOC({stored1});
        const QDateTime at(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);
        ReplyStats full;
        full.evalCount = 5;
        full.evalDuration = 1'000'000'000;
        full.contextLength = 2048;
        full.contextCut = true;
        h.store.writeConversation(
            stored1.id().uuid(),
            {ChatMessage(QUuid::createUuid(), "Why is the sky blue?", ChatMessageType::user, at),
             ChatMessage(QUuid::createUuid(), "Because of **Rayleigh** scattering.",
                         ChatMessageType::assistant, at.addSecs(1))
                 .withStats(full)});
    }

    void start() {
        window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        activate(window.get());
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == 2; }));
        model().setSelectedModel(QStringLiteral("qwen3:8b"));
    }
    void activate(QWidget* top) {
        top->activateWindow();
        ASSERT_TRUE(eventually([&] { return QApplication::activeWindow() == top; }));
    }

    MainView* view() const { return window->mainView(); }
    ZoruveVede& model() const { return view()->viewModel(); }
    QAction* action() const { return window->commands()->conversationSettings(); }
    ConversationSettingsDialog* dialog() const { return view()->conversationSettingsDialog(); }

    void openStored() {
        model().setSelectedConversation(stored1.id());
        ASSERT_TRUE(eventually([&] { return view()->transcript()->messages().size() == 2; }));
    }

    /// The chat requests that were not for a title.
    std::vector<nlohmann::json> replyRequests() const {
        std::vector<nlohmann::json> bodies;
        for (const auto& request : h.server.requestsTo("/api/chat"))
            if (request.body["messages"].back()["content"] != kTitlePrompt.toStdString())
                bodies.push_back(request.body);
        return bodies;
    }
    /// Sends `text` in the conversation shown and waits for the reply to end.
    void send(const QString& text) {
        const std::size_t before = replyRequests().size();
        model().setInputText(text);
        model().sendMessage();
        ASSERT_TRUE(eventually(
            [&] { return replyRequests().size() == before + 1 && !model().inSendingMessage(); }));
    }
    QUuid shownId() const { return model().currentConversation()->id(); }
};

}  // namespace

TEST_F(ConversationSettingsTest, TheDialogAppliesToTheConversationAndItsRequests) {
    storeConversation();
    start();
    // No conversation shown: nothing to set.
    EXPECT_FALSE(action()->isEnabled());
    EXPECT_FALSE(view()->settingsButton()->isEnabled());
    view()->openConversationSettings();
    EXPECT_EQ(dialog(), nullptr);

    openStored();
    EXPECT_TRUE(action()->isEnabled());
    EXPECT_TRUE(view()->settingsButton()->isEnabled());
    EXPECT_EQ(action()->shortcut(), QKeySequence("Ctrl+Shift+S"));
    EXPECT_FALSE(view()->systemPromptCard()->isVisible());

    // Cancel changes nothing.
    view()->settingsButton()->click();
    ASSERT_NE(dialog(), nullptr);
    EXPECT_TRUE(dialog()->isVisible());
    EXPECT_TRUE(dialog()->form()->settings().isEmpty());
    dialog()->form()->systemPromptField()->setPlainText("Ignored.");
    dialog()->reject();
    ASSERT_TRUE(eventually([&] { return dialog() == nullptr; }));
    QTest::qWait(100);
    EXPECT_TRUE(model().conversationSettings().isEmpty());
    EXPECT_FALSE(h.conversationFile(stored1.id().uuid()).contains("settings"));

    // OK applies: saved in the file, shown on the card, sent with every request.
    action()->trigger();
    ASSERT_NE(dialog(), nullptr);
    ConversationSettingsForm* form = dialog()->form();
    form->systemPromptField()->setPlainText("Answer in French.");
    form->temperatureField()->setValue(0.3);
    form->seedField()->setText("5");
    dialog()->accept();
    ASSERT_TRUE(eventually([&] {
        return h.conversationFile(stored1.id().uuid())["settings"] ==
               nlohmann::json::parse(
                   R"({"system":"Answer in French.","temperature":0.3,"seed":5})");
    }));
    ASSERT_TRUE(eventually([&] { return view()->systemPromptCard()->isVisible(); }));
    EXPECT_EQ(view()->systemPromptCard()->prompt(), "Answer in French.");
    send("And at sunset?");
    nlohmann::json body = replyRequests().back();
    EXPECT_EQ(body["messages"][0],
              (nlohmann::json{{"role", "system"}, {"content", "Answer in French."}}));
    EXPECT_EQ(body["options"]["temperature"], 0.3);
    EXPECT_EQ(body["options"]["seed"], 5);
    EXPECT_FALSE(body["options"].contains("num_ctx"));
    EXPECT_FALSE(body.contains("think"));

    // Back to the defaults: the file loses "settings", the card goes, requests are as before.
    action()->trigger();
    ASSERT_NE(dialog(), nullptr);
    EXPECT_EQ(dialog()->form()->systemPromptField()->toPlainText(), "Answer in French.");
    dialog()->form()->resetButton()->click();
    dialog()->accept();
    ASSERT_TRUE(
        eventually([&] { return !h.conversationFile(stored1.id().uuid()).contains("settings"); }));
    ASSERT_TRUE(eventually([&] { return !view()->systemPromptCard()->isVisible(); }));
    send("Thanks.");
    body = replyRequests().back();
    EXPECT_EQ(body["messages"][0]["role"], "user");
    EXPECT_EQ(body["options"],
              nlohmann::json::parse(R"({"temperature":0.7,"num_predict":2147483647})"));
    EXPECT_FALSE(body.contains("think"));
}

TEST_F(ConversationSettingsTest, TheCardAndContextFullOpenTheFieldTheyAreAbout) {
    ModelInfo qwen = ModelInfo::make("qwen3:8b");
    qwen.contextLength = 40960;
    h.server.setModels({ModelInfo::make("llama3.2:latest"), qwen});
    storeConversation();
    start();
    openStored();
    ConversationSettings settings;
    settings.systemPrompt = QStringLiteral("You are a physicist.\nExplain simply.");
    model().setConversationSettings(settings);
    ASSERT_TRUE(eventually([&] { return view()->systemPromptCard()->isVisible(); }));
    // Over the transcript.
    const QWidget* transcriptWidget = view()->transcript();
    EXPECT_LT(view()->systemPromptCard()->geometry().bottom(),
              transcriptWidget->geometry().top() + 1);

    view()->systemPromptCard()->click();
    ASSERT_NE(dialog(), nullptr);
    activate(dialog());
    EXPECT_TRUE(eventually([&] { return dialog()->form()->systemPromptField()->hasFocus(); }));
    EXPECT_EQ(dialog()->form()->settings(), settings);
    dialog()->reject();
    ASSERT_TRUE(eventually([&] { return dialog() == nullptr; }));
    activate(window.get());

    // The reply's "Context full" link.
    TranscriptView* transcript = view()->transcript();
    transcript->viewport()->repaint();
    const QRect link = transcript->contextSettingsLinkRect(1);
    ASSERT_FALSE(link.isNull());
    QTest::mouseClick(transcript->viewport(), Qt::LeftButton, {}, link.center());
    ASSERT_NE(dialog(), nullptr);
    activate(dialog());
    EXPECT_TRUE(eventually([&] { return dialog()->form()->contextLengthField()->hasFocus(); }));
    // qwen3:8b's longest context, from /api/show, bounds the field.
    EXPECT_TRUE(eventually([&] {
        return dialog()->form()->contextLengthField()->maximum() == 40960 &&
               dialog()->form()->contextLengthNote()->isVisible();
    }));
    dialog()->reject();
    ASSERT_TRUE(eventually([&] { return dialog() == nullptr; }));

    // Another conversation (none) takes the card away.
    model().setSelectedConversation(SidebarID::newConversation());
    ASSERT_TRUE(eventually([&] { return !view()->systemPromptCard()->isVisible(); }));
}

TEST_F(ConversationSettingsTest, NewConversationsTakeThePreferencesDefaults) {
    start();
    QAction* preferences = window->preferencesAction();
    ASSERT_NE(preferences, nullptr);
    EXPECT_EQ(preferences->shortcut(), QKeySequence("Ctrl+,"));
    EXPECT_TRUE(window->menuActions().contains(preferences));

    // Nothing set: a new conversation is written as it always was.
    send("Hello?");
    QUuid id = shownId();
    ASSERT_TRUE(eventually([&] { return h.conversationFile(id).is_object(); }));
    EXPECT_FALSE(h.conversationFile(id).contains("settings"));
    EXPECT_FALSE(h.setting(ZoruveVede::newConversationSettingsKey).isValid());

    preferences->trigger();
    PreferencesDialog* dialog = view()->preferencesDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->newConversationForm()->settings().isEmpty());
    dialog->newConversationForm()->systemPromptField()->setPlainText("Be brief.");
    dialog->newConversationForm()->temperatureField()->setValue(0.2);
    dialog->accept();
    EXPECT_TRUE(h.setting(ZoruveVede::newConversationSettingsKey).isValid());

    // The conversation shown keeps its settings; a new one starts with the defaults.
    EXPECT_TRUE(model().conversationSettings().isEmpty());
    model().setSelectedConversation(SidebarID::newConversation());
    ASSERT_TRUE(eventually([&] { return model().currentConversation() == nullptr; }));
    send("Hi again.");
    id = shownId();
    const nlohmann::json body = replyRequests().back();
    EXPECT_EQ(body["messages"][0], (nlohmann::json{{"role", "system"}, {"content", "Be brief."}}));
    EXPECT_EQ(body["options"]["temperature"], 0.2);
    ASSERT_TRUE(eventually([&] {
        return h.conversationFile(id)["settings"] ==
               nlohmann::json::parse(R"({"system":"Be brief.","temperature":0.2})");
    }));
    EXPECT_TRUE(view()->systemPromptCard()->isVisible());

    // Preferences show what was kept; back to the defaults removes the key.
    preferences->trigger();
    dialog = view()->preferencesDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->newConversationForm()->systemPromptField()->toPlainText(), "Be brief.");
    dialog->newConversationForm()->resetButton()->click();
    dialog->accept();
    EXPECT_FALSE(h.setting(ZoruveVede::newConversationSettingsKey).isValid());
    model().setSelectedConversation(SidebarID::newConversation());
    ASSERT_TRUE(eventually([&] { return model().currentConversation() == nullptr; }));
    send("Once more.");
    id = shownId();
    ASSERT_TRUE(eventually([&] { return h.conversationFile(id).is_object(); }));
    EXPECT_FALSE(h.conversationFile(id).contains("settings"));
}

TEST_F(ConversationSettingsTest, PreferencesPointsParloteAtAnotherServerAtOnce) {
    // No secret store answers here: nothing of the user's keyring is touched.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/parlote-bus");
    start();
    FakeOllama other;
    other.setModels({ModelInfo::make("elsewhere:latest")});

    window->preferencesAction()->trigger();
    PreferencesDialog* dialog = view()->preferencesDialog();
    ASSERT_NE(dialog, nullptr);
    ServerSection* server = dialog->serverSection();
    EXPECT_TRUE(server->address().isEmpty());
    QPushButton* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    server->addressField()->setText(QStringLiteral("http://no such host"));
    EXPECT_FALSE(ok->isEnabled());  // an address that cannot be used is not kept
    server->addressField()->setText(QString::fromStdString(other.baseUrl()));
    EXPECT_TRUE(ok->isEnabled());
    ok->click();

    // The model list comes from the new server at once, and the choice is kept.
    ASSERT_TRUE(eventually([&] {
        const auto& models = model().availableModels();
        return models.size() == 1 && models[0].model == QStringLiteral("elsewhere:latest");
    }));
    EXPECT_EQ(h.setting(QStringLiteral("serverAddress")).toString(),
              QString::fromStdString(other.baseUrl()));
    window->preferencesAction()->trigger();
    EXPECT_EQ(view()->preferencesDialog()->serverSection()->address(),
              QString::fromStdString(other.baseUrl()));
    view()->preferencesDialog()->reject();
}
