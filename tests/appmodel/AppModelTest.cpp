// ZoruveVede driven as the window drives it, headless, against the fake Ollama server.

#include <QSignalSpy>

#include "Harness.h"
#include "InterfaceThread.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

/// The texts of a transcript, in order.
QStringList textsOf(const MessageList& messages) {
    QStringList texts;
    for (const ChatMessage& message : messages) texts << message.content();
    return texts;
}

QString titleOf(const nlohmann::json& toc, int i) {
    return QString::fromStdString(toc["contents"][i]["title"].get<std::string>());
}

class AppModelTest : public ::testing::Test {
protected:
    Harness h;

    /// Starts the model with a model chosen, and sends "Hello".
    ZoruveVede& startAndSendHello() {
        ZoruveVede& model = h.start();
        model.setSelectedModel(QString("llama3.2:latest"));
        model.setInputText("Hello");
        model.sendMessage();
        return model;
    }

    /// Types `text`, sends it and waits until the reply and its title request have ended.
    void sendAndWait(ZoruveVede& model, const QString& text) {
        const qsizetype before = model.messages().size();
        const auto chats = h.server.requestsTo("/api/chat").size();
        model.setInputText(text);
        model.sendMessage();
        ASSERT_TRUE(eventually(
            [&] {
                return model.messages().size() == before + 2 && !model.inSendingMessage() &&
                       h.server.requestsTo("/api/chat").size() == chats + 2;
            },
            10s));
        ASSERT_TRUE(eventually([&] { return !model.inSendingMessage(); }));
    }
};

TEST_F(AppModelTest, StartUpLoadsTheSidebarModelsAndTheRememberedModel) {
    const QList<Conversation> three = {stored("Trip", "Pack light"), stored("Bread"),
                                       stored("Code")};
    h.store.saveTOC(three);
    h.setSetting("selectedModel", "qwen3:8b");
    ZoruveVede& model = h.start();
    EXPECT_EQ(model.conversations(), three);
    EXPECT_EQ(model.conversationDescription(), "New Conversation");
    EXPECT_TRUE(model.selectedConversation().isNewConversation());
    ASSERT_EQ(model.availableModels().size(), 2);
    EXPECT_EQ(model.availableModels()[0].id, "llama3.2:latest");
    EXPECT_EQ(model.selectedModel(), QString("qwen3:8b"));
    EXPECT_FALSE(model.firstLaunch());
}

TEST_F(AppModelTest, ARememberedModelThatIsGoneIsNotRestored) {
    h.setSetting("selectedModel", "mistral:7b");
    ZoruveVede& model = h.start();
    EXPECT_EQ(model.selectedModel(), std::nullopt);
}

TEST_F(AppModelTest, FirstLaunchWithTheServiceDownShowsTheWelcomeUntilDismissed) {
    h.setSetting("hasLaunched", QVariant());
    h.server.setHangAll(true);  // liveness times out: the service does not answer
    ZoruveVede& model = h.start();
    ASSERT_TRUE(eventually([&] { return model.firstLaunch(); }, 5s));
    EXPECT_FALSE(h.setting("hasLaunched").isValid());
    EXPECT_TRUE(h.server.requestsTo("/api/tags").empty());
    h.server.setHangAll(false);
    model.dismissWelcome();
    EXPECT_FALSE(model.firstLaunch());
    EXPECT_TRUE(h.setting("hasLaunched").toBool());
    EXPECT_TRUE(eventually([&] { return model.availableModels().size() == 2; }));
}

TEST_F(AppModelTest, FirstLaunchWithTheServiceUpRecordsItAndSelectsNothing) {
    h.setSetting("hasLaunched", QVariant());
    ZoruveVede& model = h.start();
    ASSERT_TRUE(eventually([&] { return model.availableModels().size() == 2; }));
    EXPECT_FALSE(model.firstLaunch());
    EXPECT_TRUE(h.setting("hasLaunched").toBool());
    EXPECT_EQ(model.selectedModel(), std::nullopt);
}

TEST_F(AppModelTest, TheFirstSendCreatesTheConversationAndStreamsItsReply) {
    h.store.saveTOC({stored("Older")});
    ChatScript reply;
    reply.chunks = {ChatChunk{"", "The user greets me.", false}, ChatChunk{"Hello", "", false},
                    ChatChunk{" there!", "", false}};
    reply.firstByteDelay = 300ms;
    reply.chunkDelay = 50ms;
    h.answer(reply, "<think>hm</think> Friendly greeting");
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    QSignalSpy messageChanges(&model, &ZoruveVede::messagesChanged);
    bool chunkSeen = false;
    model.chunkStream().setOnChange([&] { chunkSeen = true; });

    model.setInputText("  Hi!\n ");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.conversations().size() == 2; }));
    // One new entry at the top, selected, and on disk before the reply has started.
    const Conversation entry = model.conversations().first();
    EXPECT_EQ(entry.title(), "New Conversation");
    EXPECT_EQ(model.selectedConversation(), entry.id());
    EXPECT_EQ(model.conversationDescription(), "New Conversation");
    EXPECT_EQ(model.inputText(), "");
    EXPECT_EQ(h.toc()["contents"].size(), 2u);
    EXPECT_EQ(h.toc()["contents"][0]["id"], entry.id().id().toStdString());
    EXPECT_EQ(h.server.chatStreamsStarted(), 0);
    // The user's message is kept on disk as soon as it is sent.
    EXPECT_TRUE(
        eventually([&] { return h.conversationFile(entry.id().uuid())["messages"].size() == 1; }));
    EXPECT_EQ(h.setting("selectedModel").toString(), "llama3.2:latest");

    ASSERT_TRUE(
        eventually([&] { return model.conversationDescription() == "Friendly greeting"; }, 10s));
    ASSERT_EQ(model.messages().size(), 2);
    EXPECT_EQ(model.messages()[0].content(), "Hi!");
    const QString stored = "<think>The user greets me.</think>\n\nHello there!";
    EXPECT_EQ(model.messages()[1].content(), stored);
    EXPECT_GE(messageChanges.count(), 4) << "the reply grew chunk by chunk";
    EXPECT_TRUE(chunkSeen);
    EXPECT_EQ(model.conversations().first().title(), "Friendly greeting");
    EXPECT_EQ(model.conversations().first().lastMessage(), "Hello there!");
    EXPECT_EQ(model.conversations()[1].title(), "Older") << "the list is not re-sorted";
    ASSERT_TRUE(eventually([&] { return titleOf(h.toc(), 0) == "Friendly greeting"; }));
    EXPECT_EQ(h.toc()["contents"][0]["lastMessage"], "Hello there!");
    ASSERT_TRUE(eventually([&] { return !model.inSendingMessage(); }));

    // The sending flag falls just before the file is written.
    ASSERT_TRUE(
        eventually([&] { return h.conversationFile(entry.id().uuid())["messages"].size() == 2; }));
    const auto file = h.conversationFile(entry.id().uuid());
    EXPECT_EQ(file["messages"][1]["content"], stored.toStdString()) << "the think block is kept";
    EXPECT_EQ(file.dump().find(kTitlePrompt.toStdString()), std::string::npos);

    // A second send in the same conversation adds no entry and keeps its place.
    sendAndWait(model, "And again");
    EXPECT_EQ(model.conversations().size(), 2);
    EXPECT_EQ(model.conversations().first().id(), entry.id());
    EXPECT_EQ(model.messages().size(), 4);
}

TEST_F(AppModelTest, TheWaitingWordEndsWithTheFirstChunkOfTheReply) {
    ChatScript held = ChatScript::words("First words, then the rest.");
    held.stallAfter = 1;  // the server holds the rest until released
    h.answer(held, "Title");
    ZoruveVede& model = startAndSendHello();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 2 && !model.statusMessage(); }))
        << "the word stayed after the first chunk";
    EXPECT_EQ(model.messages()[1].content(), "First");
    EXPECT_TRUE(model.inSendingMessage());

    ASSERT_TRUE(eventually(
        [&] {
            h.server.releaseStalls();
            return !model.inSendingMessage();
        },
        10s));
    EXPECT_EQ(model.messages()[1].content(), "First words, then the rest.");
    EXPECT_EQ(model.statusMessage(), std::nullopt) << "nor does it come back";
}

TEST_F(AppModelTest, TheLastMessageOfAConversationReadFromItsFileIsSavedInTheList) {
    // No title is asked for such a conversation: only the reply's own announcement writes
    // the list.
    const Conversation bread = stored("Bread", "Knead it.");
    h.store.saveTOC({stored("Other", "Elsewhere"), bread});
    h.store.writeConversation(bread.id().uuid(),
                              {ChatMessage::make("How?", ChatMessageType::user),
                               ChatMessage::make("Knead it.", ChatMessageType::assistant)});
    h.server.setChatScript(ChatScript::words("Ten minutes."));
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    model.setSelectedConversation(bread.id());
    model.selectConversation(bread.id());
    model.setInputText("How long?");
    model.sendMessage();
    ASSERT_TRUE(
        eventually([&] { return model.conversations()[1].lastMessage() == "Ten minutes."; }, 10s));
    EXPECT_EQ(h.toc()["contents"][1]["lastMessage"], "Ten minutes.");
    EXPECT_EQ(h.toc()["contents"][1]["title"], "Bread");
    EXPECT_EQ(h.toc()["contents"][0]["lastMessage"], "Elsewhere");
}

TEST_F(AppModelTest, SendRefusesBlankInputAStoppedServiceAndAMissingModel) {
    ZoruveVede& model = h.start();
    const auto livenessChecks = [&] { return h.server.requestsTo("/api/version").size(); };
    const auto before = livenessChecks();
    model.setInputText(" \n\t ");
    model.sendMessage();

    model.setInputText("Hello");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.showModalAlert(); }));
    EXPECT_EQ(livenessChecks(), before + 1) << "blank input does not even ask the service";
    EXPECT_EQ(model.modalAlertTitle(), "Select a model");
    EXPECT_EQ(model.modalAlertMessage(), "Please select a model first before chatting with Ollama");
    EXPECT_EQ(model.inputText(), "Hello");
    EXPECT_TRUE(model.conversations().isEmpty());

    model.setSelectedModel(QString("llama3.2:latest"));
    h.server.setHangAll(true);
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.showLoadAlert(); }, 5s));
    EXPECT_EQ(model.inputText(), "Hello");
    EXPECT_TRUE(model.conversations().isEmpty());
    h.server.setHangAll(false);
}

TEST_F(AppModelTest, RenameAndDeleteKeepSelectionHeaderAndFileInStep) {
    const Conversation a = stored("Alpha"), b = stored("Beta"), c = stored("Gamma");
    h.store.saveTOC({a, b, c});
    h.store.writeConversation(b.id().uuid(), {ChatMessage::make("kept", ChatMessageType::user)});
    ZoruveVede& model = h.start();
    model.setSelectedConversation(b.id());
    model.selectConversation(b.id());
    EXPECT_EQ(model.conversationDescription(), "Beta");
    ASSERT_EQ(model.messages().size(), 1);

    model.renameConversation(a.id(), "Renamed A");  // not selected: header unchanged
    EXPECT_EQ(model.conversations()[0].title(), "Renamed A");
    EXPECT_EQ(model.conversationDescription(), "Beta");
    QSignalSpy listChanges(&model, &ZoruveVede::conversationsChanged);
    for (const char* blank : {"", "  \t "}) model.renameConversation(b.id(), blank);
    EXPECT_EQ(listChanges.size(), 2) << "an editor showing the blank title is told";
    EXPECT_EQ(model.conversations()[1].title(), "Beta") << "a blank title is refused";
    model.renameConversation(b.id(), "Better Beta");  // the selected one: the header follows
    EXPECT_EQ(model.conversations()[1].title(), "Better Beta");
    EXPECT_EQ(model.conversationDescription(), "Better Beta");
    EXPECT_EQ(titleOf(h.toc(), 0), "Renamed A");
    EXPECT_EQ(titleOf(h.toc(), 1), "Better Beta");

    model.removeConversation(c.id());  // another conversation: the open one stays
    EXPECT_EQ(model.conversations().size(), 2);
    EXPECT_EQ(model.selectedConversation(), b.id());
    EXPECT_EQ(model.messages().size(), 1);
    EXPECT_EQ(h.toc()["contents"].size(), 2u);

    model.removeConversation(b.id());  // the selected one: back to a new conversation
    EXPECT_TRUE(model.selectedConversation().isNewConversation());
    EXPECT_TRUE(model.messages().isEmpty());
    EXPECT_EQ(model.currentConversation(), nullptr);
    EXPECT_EQ(model.conversationDescription(), "New Conversation");
    EXPECT_EQ(h.toc()["contents"].size(), 1u);
    EXPECT_TRUE(QFile::exists(h.store.conversationPath(b.id().uuid())))
        << "the file stays until the deletion is final";
    EXPECT_FALSE(h.pool.contains(b.id().uuid()));
}

TEST_F(AppModelTest, AReplyStillArrivingForADeletedConversationDoesNotBringItBack) {
    h.server.setChatScript(ChatScript::words("a slow reply that outlives its conversation", 60ms));
    ZoruveVede& model = h.start();
    const auto announced = Announcements::countIn(h.notifications);
    model.setSelectedModel(QString("llama3.2:latest"));
    model.setInputText("Hello");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 2; }));
    const SidebarID id = model.selectedConversation();
    model.removeConversation(id);
    EXPECT_TRUE(model.messages().isEmpty()) << "mirroring stopped at once";
    // The reply goes on to its end and its title; the model receives both announcements.
    ASSERT_TRUE(
        eventually([&] { return announced->lastMessages == 1 && announced->titles == 1; }, 10s));
    EXPECT_TRUE(model.conversations().isEmpty());
    EXPECT_TRUE(model.messages().isEmpty());
    EXPECT_EQ(h.toc()["contents"].size(), 0u);
}

TEST_F(AppModelTest, UnbindingWhileAReplyStreamsStopsEveryUpdateOfTheOldManager) {
    h.server.setChatScript(ChatScript::words("one two three four five six seven", 40ms));
    ZoruveVede& model = startAndSendHello();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 2; }));
    const auto manager = model.currentConversation();
    QSignalSpy changes(&model, &ZoruveVede::messagesChanged);
    int chunks = 0;
    model.chunkStream().setOnChange([&] { ++chunks; });
    chunks = 0;  // what was already on the stream
    model.setCurrentConversation(nullptr);
    EXPECT_TRUE(model.messages().isEmpty());
    EXPECT_FALSE(model.inSendingMessage());
    ASSERT_TRUE(eventually([&] { return !manager->inSendingMessage().get(); }, 10s));
    InterfaceThread::drainNow();  // whatever the reply handed over before it ended
    EXPECT_EQ(changes.count(), 1) << "only the unbinding's own assignment";
    EXPECT_EQ(chunks, 0);

    // Binding it again mirrors its state at once.
    model.setCurrentConversation(manager);
    EXPECT_EQ(model.messages(), manager->messages().get());
}

// Updates of a manager no longer shown may already wait in the interface thread's queue
// when another conversation is opened. The transcript and the other fields travel by
// different roads; each is held up on its own.

TEST_F(AppModelTest, ATranscriptQueuedForTheConversationShownBeforeIsDropped) {
    const Conversation other = stored("Other");
    h.store.saveTOC({other});
    h.store.writeConversation(other.id().uuid(),
                              {ChatMessage::make("Kept question", ChatMessageType::user),
                               ChatMessage::make("Kept answer", ChatMessageType::assistant)});
    const QStringList otherTexts = {"Kept question", "Kept answer"};
    ChatScript held = ChatScript::words("one two three four");
    held.stallAfter = 1;
    h.answer(held, "Title");
    ZoruveVede& model = startAndSendHello();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 2; }));
    const auto manager = model.currentConversation();
    int chunks = 0;
    model.chunkStream().setOnChange([&] { ++chunks; });
    chunks = 0;  // what was already on the stream

    // The interface thread runs nothing while the rest of the reply arrives.
    ASSERT_TRUE(withoutEvents([&] {
        h.server.releaseStalls();
        return manager->messages().get().at(1).content() == "one two three four";
    }));
    model.selectConversation(other.id());
    InterfaceThread::drainNow();
    EXPECT_EQ(textsOf(model.messages()), otherTexts);
    EXPECT_EQ(chunks, 0);

    ASSERT_TRUE(eventually([&] { return !manager->inSendingMessage().get(); }, 10s));
    EXPECT_EQ(textsOf(model.messages()), otherTexts);
}

TEST_F(AppModelTest, ASendingStateQueuedForTheConversationShownBeforeIsDropped) {
    const Conversation first = stored("First"), second = stored("Second");
    h.store.saveTOC({first, second});
    h.store.writeConversation(first.id().uuid(), {ChatMessage::make("Hi", ChatMessageType::user)});
    h.store.writeConversation(second.id().uuid(),
                              {ChatMessage::make("Bye", ChatMessageType::user)});
    ChatScript held = ChatScript::words("late reply");
    held.stallAfter = 0;  // nothing arrives until released
    h.server.setChatScript(held);
    ZoruveVede& model = h.start();
    model.selectConversation(first.id());
    const auto manager = model.currentConversation();

    // The interface thread runs nothing between the send, which queues the sending state
    // and the waiting word for it, and the opening of the second conversation.
    manager->send("Again", "llama3.2:latest");
    model.selectConversation(second.id());
    InterfaceThread::drainNow();
    EXPECT_FALSE(model.inSendingMessage());
    EXPECT_EQ(model.statusMessage(), std::nullopt);
    EXPECT_EQ(textsOf(model.messages()), QStringList{"Bye"});

    ASSERT_TRUE(eventually(
        [&] {
            h.server.releaseStalls();
            return !manager->inSendingMessage().get();
        },
        10s));
    EXPECT_FALSE(model.inSendingMessage());
    EXPECT_EQ(textsOf(model.messages()), QStringList{"Bye"});
}

TEST_F(AppModelTest, QuittingDuringAReplyKeepsThePartialReplyOnDisk) {
    ChatScript slow = ChatScript::words("first second third fourth fifth", 100ms);
    h.server.setChatScript(slow);
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    model.setInputText("Tell me");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 2; }));
    const QUuid id = model.selectedConversation().uuid();
    model.applicationWillQuit();
    const auto file = h.conversationFile(id);
    ASSERT_EQ(file["messages"].size(), 2u);
    const std::string partial = file["messages"][1]["content"];
    EXPECT_EQ(std::string("first second third fourth fifth").rfind(partial, 0), 0u) << partial;
    EXPECT_EQ(file["messages"][0]["content"], "Tell me");
}

TEST_F(AppModelTest, QuittingKeepsAReplyEvenAfterAnEarlierTitleClearedTheSendingFlag) {
    h.server.setChatResponder([](const nlohmann::json& request) {
        const std::string last = request["messages"].back()["content"];
        if (last == kTitlePrompt.toStdString()) {
            ChatScript title = ChatScript::words("Slow title");
            title.firstByteDelay = 300ms;
            return title;
        }
        if (last == "second") return ChatScript::words("part one two three four five six", 150ms);
        return ChatScript::words("quick answer");
    });
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("llama3.2:latest"));
    model.setInputText("first");
    model.sendMessage();
    ASSERT_TRUE(
        eventually([&] { return model.messages().size() == 2 && !model.inSendingMessage(); }));
    model.setInputText("second");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 4; }));
    ASSERT_TRUE(eventually([&] { return model.conversationDescription() == "Slow title"; }));
    const QUuid id = model.selectedConversation().uuid();
    model.applicationWillQuit();
    const auto file = h.conversationFile(id);
    ASSERT_EQ(file["messages"].size(), 4u);
    EXPECT_EQ(std::string(file["messages"][3]["content"]).rfind("part", 0), 0u);
    EXPECT_EQ(titleOf(h.toc(), 0), "Slow title");
}

TEST_F(AppModelTest, InstallShowsProgressAndEndsWithTheRightAlert) {
    h.server.setRegistry({ModelInfo::make("phi3:mini", 400)});
    PullScript pull;
    pull.layerSizes = {400};
    pull.stepsPerLayer = 4;
    pull.stepDelay = 20ms;
    h.server.setPullScript(pull);
    ZoruveVede& model = h.start();
    QSignalSpy progress(&model, &ZoruveVede::progressChanged);

    model.startModelInstall("phi3:mini");
    EXPECT_TRUE(model.isInstalling());
    model.startModelInstall("other");  // one at a time; changes nothing
    EXPECT_FALSE(model.showModalAlert());
    ASSERT_TRUE(eventually([&] { return !model.isInstalling(); }, 10s));
    EXPECT_EQ(model.modalAlertTitle(), "Model Installed");
    EXPECT_EQ(model.modalAlertMessage(), "Model phi3:mini was installed successfully.");
    EXPECT_TRUE(model.showModalAlert());
    EXPECT_GE(progress.count(), 4);
    EXPECT_EQ(model.installationStatus(), "success");
    EXPECT_EQ(model.availableModels().size(), 3) << "the list was reloaded";

    model.setShowModalAlert(false);
    model.startModelInstall("no-such-model");
    ASSERT_TRUE(eventually([&] { return !model.isInstalling(); }, 10s));
    EXPECT_EQ(model.modalAlertTitle(), "Model Does Not Exist");
    EXPECT_EQ(model.modalAlertMessage(),
              "Unable to install model no-such-model; model does not exist.");

    pull.errorAfterSteps = 1;
    pull.errorMessage = "disk full";
    h.server.setPullScript(pull);
    h.server.setRegistry({ModelInfo::make("gemma2:2b", 400)});
    model.startModelInstall("gemma2:2b");
    ASSERT_TRUE(eventually([&] { return !model.isInstalling(); }, 10s));
    EXPECT_EQ(model.modalAlertTitle(), "Error Installing Model");
    EXPECT_TRUE(
        model.modalAlertMessage().startsWith("Model gemma2:2b could not be installed; error "));
    EXPECT_TRUE(model.modalAlertMessage().contains("disk full"));
}

TEST_F(AppModelTest, RemovingTheSelectedModelClearsTheSelection) {
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("qwen3:8b"));
    const auto listRequests = h.server.requestsTo("/api/tags").size();
    model.removeInstalledModel("llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return model.availableModels().size() == 1; }));
    EXPECT_EQ(model.selectedModel(), QString("qwen3:8b")) << "another model stays selected";
    model.removeInstalledModel("qwen3:8b");
    ASSERT_TRUE(eventually([&] { return model.availableModels().isEmpty(); }));
    EXPECT_EQ(model.selectedModel(), std::nullopt);
    EXPECT_EQ(h.server.requestsTo("/api/tags").size(), listRequests)
        << "no reload from the service";

    model.removeInstalledModel("qwen3:8b");
    ASSERT_TRUE(eventually([&] { return model.showModalAlert(); }));
    EXPECT_EQ(model.modalAlertTitle(), "Unable To Remove Model");
    EXPECT_TRUE(model.modalAlertMessage().startsWith("Unable to remove model 'qwen3:8b': error "));
}

TEST_F(AppModelTest, AReloadedListWithoutTheChosenModelClearsTheChoice) {
    ZoruveVede& model = h.start();
    model.setSelectedModel(QString("qwen3:8b"));
    h.server.setModels({ModelInfo::make("llama3.2:latest")});  // removed outside Parlote
    model.reloadModels();
    ASSERT_TRUE(eventually([&] { return model.availableModels().size() == 1; }));
    EXPECT_EQ(model.selectedModel(), std::nullopt);

    model.setSelectedModel(QString("llama3.2:latest"));
    h.server.setModels({ModelInfo::make("phi3:mini"), ModelInfo::make("llama3.2:latest")});
    model.reloadModels();
    ASSERT_TRUE(eventually([&] { return model.availableModels().size() == 2; }));
    EXPECT_EQ(model.selectedModel(), QString("llama3.2:latest")) << "a model still listed stays";
}

TEST_F(AppModelTest, TheWatchReloadsModelsOnlyAfterTheGap) {
    ZoruveVede& model = h.start();
    const auto reloads = [&] { return h.server.requestsTo("/api/tags").size(); };
    QSignalSpy answers(&model, &ZoruveVede::ollamaRunningChanged);
    // One watch check, up to its answer: whether it reloads is decided right after.
    const auto check = [&] {
        const auto before = answers.count();
        model.refreshOllamaStatus();
        ASSERT_TRUE(eventually([&] { return answers.count() > before; }));
    };
    // A reload records the time of the check that started it once the new list is applied.
    const auto reloadedAt = [&](const QDateTime& when) {
        return eventually([&] { return model.lastModelReloadTime() == when; });
    };
    const auto afterStartUp = reloads();
    const QDateTime first = h.now;
    check();  // the first watch check reloads although start-up just did
    ASSERT_TRUE(reloadedAt(first));
    EXPECT_EQ(reloads(), afterStartUp + 1);

    h.now = first.addMSecs(14900);
    check();
    h.now = first.addMSecs(15000);  // exactly 15.0 s: the reload of 14.9 s would be 0.1 s ago
    check();
    ASSERT_TRUE(reloadedAt(h.now));
    EXPECT_EQ(reloads(), afterStartUp + 2);
    EXPECT_TRUE(model.ollamaRunning());

    model.setShowLoadAlert(true);
    h.server.setHangAll(true);
    model.refreshOllamaStatus();
    ASSERT_TRUE(eventually([&] { return !model.ollamaRunning(); }, 5s));
    EXPECT_TRUE(model.showLoadAlert()) << "a stopped service leaves the alert alone";
    h.server.setHangAll(false);
    model.refreshOllamaStatus();
    ASSERT_TRUE(eventually([&] { return model.ollamaRunning() && !model.showLoadAlert(); }, 5s));
}

TEST_F(AppModelTest, NotificationsUpdateOnlyTheFirstMatchingEntry) {
    const Conversation a = stored("Alpha");
    h.store.saveTOC({a, a, stored("Other")});
    ZoruveVede& model = h.start();
    h.notifications.post(kTitleUpdated, UpdatedMessage{a.id().uuid(), "New title"});
    ASSERT_TRUE(eventually([&] { return model.conversations()[0].title() == "New title"; }));
    EXPECT_EQ(model.conversations()[1].title(), "Alpha");
    EXPECT_EQ(model.conversationDescription(), "New Conversation") << "not the selected one";

    h.store.saveTOC({});  // to see whether anything writes it again
    bool sentinelSeen = false;
    auto owner = std::make_shared<int>(0);
    h.notifications.observe(kTitleUpdated, owner, [&](const std::any&) { sentinelSeen = true; });
    h.notifications.post(kLastMessageUpdated, UpdatedMessage{QUuid::createUuid(), "x"});
    h.notifications.post(kLastMessageUpdated, QString("not an UpdatedMessage"));
    h.notifications.post(kTitleUpdated, QString("sentinel"));  // delivered after the two above
    ASSERT_TRUE(eventually([&] { return sentinelSeen; }));
    EXPECT_EQ(h.toc()["contents"].size(), 0u);
    EXPECT_EQ(model.conversations().size(), 3);
}

TEST_F(AppModelTest, ADamagedTableOfContentsStartsAnEmptySidebar) {
    QDir().mkpath(h.store.appFolder());
    QFile toc(h.store.tocPath());
    ASSERT_TRUE(toc.open(QIODevice::WriteOnly));
    toc.write("{\"contents\": [");
    toc.close();
    ZoruveVede& model = h.start();
    EXPECT_TRUE(model.conversations().isEmpty());
    EXPECT_EQ(model.conversationDescription(), "New Conversation");
}

}  // namespace
