// The conversation engine's own rules: the think-block rule, the transcript value, and
// a manager whose replies overlap.

#include "Harness.h"
#include "ScriptedClient.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

TEST(ThinkBlock, OnlyALeadingClosedBlockIsRemoved) {
    EXPECT_EQ(withoutThinkBlock("<think>plan</think>\n\n Short answer. \n"), "Short answer.");
    EXPECT_EQ(withoutThinkBlock("<think>still thinking"), "<think>still thinking");
    EXPECT_EQ(withoutThinkBlock("  spaced reply  "), "  spaced reply  ");
    EXPECT_EQ(withoutThinkBlock("Answer <think>x</think> tail"), "Answer <think>x</think> tail");
    EXPECT_EQ(withoutThinkBlock("<THINK>x</THINK>y"), "<THINK>x</THINK>y");
    EXPECT_EQ(withoutThinkBlock("<think>a</think>b</think>c"), "b</think>c");
}

ChatMessage numbered(int i) {
    return ChatMessage::make(QString::number(i), ChatMessageType::user);
}

TEST(MessageListValue, ACopyKeepsItsMessagesWhileTheOriginalChanges) {
    MessageList list;
    for (int i = 0; i < 200; ++i) list.append(numbered(i));
    const MessageList snapshot = list;
    EXPECT_TRUE(snapshot.isSharedWith(list));

    list.replace(199, numbered(-1));
    list.append(numbered(200));
    EXPECT_EQ(snapshot.size(), 200);
    EXPECT_EQ(snapshot.last().content(), "199");
    EXPECT_EQ(list.at(199).content(), "-1");
    EXPECT_EQ(list.last().content(), "200");
    EXPECT_EQ(list.toList().size(), 201);
    EXPECT_EQ(*list.lastIndexOf(list.at(5).id()), 5);
    EXPECT_FALSE(list.lastIndexOf(QUuid::createUuid()));
    EXPECT_EQ(MessageList(snapshot.toList()), snapshot);

    int count = 0;
    for (const ChatMessage& message : snapshot) EXPECT_EQ(message.content().toInt(), count++);
    EXPECT_EQ(count, 200);
}

class ManagerTest : public ::testing::Test {
protected:
    Harness h;
    EngineContext context{&h.store, &h.bridge, &h.notifications, &h.tasks};

    static bool idle(ConversationManager& m) { return !m.inSendingMessage().get(); }
};

TEST_F(ManagerTest, ATitleThatArrivesDuringALaterReplyLeavesThatReplySending) {
    // Reply A ends; its title request is slow and ends while reply B streams. B still
    // counts as sending: Stop stays offered and another send is refused until B ends.
    h.server.setChatResponder([](const nlohmann::json& request) {
        const std::string last = request["messages"].back()["content"];
        if (last == kTitlePrompt.toStdString()) {
            ChatScript title = ChatScript::words("A title");
            title.firstByteDelay = 400ms;
            return title;
        }
        if (last == "B") return ChatScript::words("b1 b2 b3 b4 b5 b6 b7 b8 b9 b10", 100ms);
        return ChatScript::words(last == "A" ? "reply A" : "reply C");
    });
    auto announced = Announcements::countIn(h.notifications);
    auto manager = ConversationManager::makeNew(context);
    manager->send("A", "llama3.2:latest");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 2 && idle(*manager); }));
    manager->send("B", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return announced->titles == 1; }));  // A's title ended
    const MessageList during = manager->messages().get();
    ASSERT_NE(during.last().content(), "b1 b2 b3 b4 b5 b6 b7 b8 b9 b10") << "B still arrives";
    EXPECT_FALSE(idle(*manager));
    manager->send("C", "llama3.2:latest");
    ASSERT_TRUE(eventually(
        [&] {
            const MessageList list = manager->messages().get();
            return list.last().content() == "b1 b2 b3 b4 b5 b6 b7 b8 b9 b10" && idle(*manager);
        },
        10s));
    QStringList contents;
    for (const ChatMessage& message : manager->messages().get()) contents << message.content();
    EXPECT_EQ(contents, QStringList({"A", "reply A", "B", "b1 b2 b3 b4 b5 b6 b7 b8 b9 b10"}))
        << contents.join(" | ").toStdString();
}

TEST_F(ManagerTest, SendWhileAReplyStreamsChangesNothing) {
    ChatScript slow = ChatScript::words("slow reply here", 150ms);
    slow.firstByteDelay = 300ms;  // nothing arrives while the second send is tried
    h.server.setChatScript(slow);
    auto manager = ConversationManager::makeNew(context);
    std::atomic<int> chunkSignals = 0;
    Subscription counting = manager->chunkUpdated().subscribe([&] { ++chunkSignals; });
    manager->send("first", "llama3.2:latest");
    const MessageList before = manager->messages().get();
    const auto status = manager->statusMessage().get();
    manager->send("second", "llama3.2:latest");
    EXPECT_EQ(manager->messages().get(), before);
    EXPECT_EQ(manager->statusMessage().get(), status);
    EXPECT_EQ(chunkSignals, 1);
    ASSERT_TRUE(eventually([&] { return idle(*manager); }));
    for (const auto& request : h.server.requestsTo("/api/chat"))
        EXPECT_EQ(request.rawBody.find("second"), std::string::npos) << "the ignored send was sent";
    counting.cancel();
}

TEST_F(ManagerTest, AReplyWithoutTextAnnouncesTheEmptyString) {
    ChatScript empty;
    h.server.setChatScript(empty);
    auto manager = ConversationManager::makeNew(context);
    std::vector<UpdatedMessage> announced;
    auto owner = std::make_shared<int>(0);
    h.notifications.observe(kLastMessageUpdated, owner, [&](const std::any& object) {
        announced.push_back(std::any_cast<UpdatedMessage>(object));
    });
    manager->send("hello", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return !announced.empty(); }));
    EXPECT_EQ(announced[0].string, "");
    EXPECT_EQ(announced[0].id, manager->id());
    ASSERT_TRUE(eventually([&] { return idle(*manager); }));
    const MessageList list = manager->messages().get();
    ASSERT_EQ(list.size(), 2) << "Ollama's final record makes an empty reply message";
    EXPECT_EQ(list.at(1).content(), "");
    EXPECT_TRUE(
        eventually([&] { return h.conversationFile(manager->id())["messages"].size() == 2; }));
}

TEST_F(ManagerTest, AStreamWithoutAnyChunkAddsNoReplyButIsStillAnnouncedAndSaved) {
    ModelServiceBridge silent(scriptedFactory(ClientScript{}, std::make_shared<ClientLog>()));
    EngineContext quiet = context;
    quiet.bridge = &silent;
    auto manager = ConversationManager::makeNew(quiet);
    std::vector<UpdatedMessage> announced;
    auto owner = std::make_shared<int>(0);
    h.notifications.observe(kLastMessageUpdated, owner, [&](const std::any& object) {
        announced.push_back(std::any_cast<UpdatedMessage>(object));
    });
    manager->send("hello", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return !announced.empty() && idle(*manager); }));
    EXPECT_EQ(announced[0].string, "");
    EXPECT_EQ(manager->messages().get().size(), 1);
    EXPECT_TRUE(manager->statusMessage().get().has_value()) << "the waiting word stays";
    EXPECT_TRUE(
        eventually([&] { return h.conversationFile(manager->id())["messages"].size() == 1; }));
    h.tasks.waitForAll();
}

TEST_F(ManagerTest, AnErrorAfterTwoChunksKeepsThePartialReplyAndAddsTheError) {
    ChatScript failing = ChatScript::words("one two three");
    failing.errorAfter = 2;
    failing.errorMessage = "model crashed";
    h.server.setChatScript(failing);
    auto manager = ConversationManager::makeNew(context);
    manager->send("hi", "llama3.2:latest");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 3 && idle(*manager); }));
    const MessageList list = manager->messages().get();
    EXPECT_EQ(list.at(1).content(), "one two");
    EXPECT_EQ(list.at(2).type(), ChatMessageType::error);
    EXPECT_TRUE(list.at(2).content().startsWith("Error: "));
    EXPECT_TRUE(list.at(2).content().contains("model crashed"));
    EXPECT_EQ(manager->statusMessage().get(), std::nullopt);
    EXPECT_EQ(h.server.requestsTo("/api/chat").size(), 1u) << "no title after a failed reply";
    ASSERT_TRUE(
        eventually([&] { return h.conversationFile(manager->id())["messages"].size() == 3; }));
}

TEST_F(ManagerTest, AManagerReadFromItsFileNeverAsksForATitle) {
    const QUuid id = QUuid::createUuid();
    h.store.writeConversation(id, {ChatMessage::make("old", ChatMessageType::user)});
    auto first = h.pool.managerFor(id);
    EXPECT_EQ(h.pool.managerFor(id), first) << "one manager per conversation";
    EXPECT_FALSE(first->isNew());
    EXPECT_EQ(first->messages().get().size(), 1);
    first->send("again", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return first->messages().get().size() == 3 && idle(*first); }));
    // A title request would have been started as the first reply ended, before this one.
    first->send("and again", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return first->messages().get().size() == 5 && idle(*first); }));
    EXPECT_EQ(h.server.requestsTo("/api/chat").size(), 2u) << "the two replies only";
}

/// The bodies of the chat requests the server received, title requests left out.
std::vector<nlohmann::json> replyRequests(const FakeOllama& server) {
    std::vector<nlohmann::json> bodies;
    for (const auto& request : server.requestsTo("/api/chat"))
        if (request.body["messages"].back()["content"] != kTitlePrompt.toStdString())
            bodies.push_back(request.body);
    return bodies;
}

TEST_F(ManagerTest, AConversationNobodyConfiguredSendsNoSettings) {
    auto manager = ConversationManager::makeNew(context);
    manager->send("hi", "llama3.2:latest");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 2 && idle(*manager); }));
    const auto bodies = replyRequests(h.server);
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0], nlohmann::json::parse(R"({"model":"llama3.2:latest",
        "messages":[{"role":"user","content":"hi"}],"stream":true,
        "options":{"temperature":0.7,"num_predict":2147483647}})"));
    ASSERT_TRUE(eventually([&] { return h.conversationFile(manager->id()).is_object(); }));
    EXPECT_FALSE(h.conversationFile(manager->id()).contains("settings"));
}

TEST_F(ManagerTest, SendRegenerateAndEditUseTheConversationsSettings) {
    auto manager = ConversationManager::makeNew(context);
    ConversationSettings settings;
    settings.systemPrompt = QStringLiteral("Be brief.");
    settings.temperature = 0.1;
    settings.contextLength = 2048;
    settings.seed = 9;
    settings.think = ThinkSetting::off;
    manager->setSettings(settings);
    EXPECT_FALSE(QFile::exists(h.store.conversationPath(manager->id())))
        << "a conversation without messages has no file yet";

    manager->send("first", "qwen3:8b");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 2 && idle(*manager); }));
    manager->regenerate("qwen3:8b");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 2 && idle(*manager); }));
    const QUuid first = manager->messages().get().at(0).id();
    manager->editAndResend(first, "edited", "qwen3:8b");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 3 && idle(*manager); }));

    for (const auto& body : replyRequests(h.server)) {
        ASSERT_GE(body["messages"].size(), 2u);
        EXPECT_EQ(body["messages"][0],
                  (nlohmann::json{{"role", "system"}, {"content", "Be brief."}}));
        EXPECT_EQ(body["messages"][1]["role"], "user");
        EXPECT_EQ(body["think"], false);
        EXPECT_EQ(body["options"]["temperature"], 0.1);
        EXPECT_EQ(body["options"]["num_ctx"], 2048);
        EXPECT_EQ(body["options"]["seed"], 9);
    }
    EXPECT_EQ(replyRequests(h.server).back()["messages"][1]["content"], "edited");
    for (const ChatMessage& message : manager->messages().get())
        EXPECT_NE(message.content(), "Be brief.")
            << "the system prompt is no message of the transcript";

    // The settings are in the file, and a manager read from it uses them.
    ASSERT_TRUE(eventually([&] {
        return h.conversationFile(manager->id())["settings"] ==
               nlohmann::json::parse(R"({"system":"Be brief.","temperature":0.1,"num_ctx":2048,
                                         "seed":9,"think":false})");
    }));
    h.tasks.waitForAll();
    manager->close();
    auto again = ConversationManager::load(context, manager->id());
    EXPECT_EQ(again->settings().get(), settings);
    again->send("more", "qwen3:8b");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 4 && idle(*again); }));
    EXPECT_EQ(replyRequests(h.server).back()["options"]["seed"], 9);
}

TEST_F(ManagerTest, ThinkingIsLeftOutForAModelThatCannotThink) {
    auto manager = ConversationManager::makeNew(context);
    ConversationSettings settings;
    settings.think = ThinkSetting::on;
    manager->setSettings(settings);
    // llama3.2 cannot think: Ollama would refuse the request; the setting stays for others.
    manager->send("first", "llama3.2:latest");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 2 && idle(*manager); }));
    EXPECT_EQ(manager->messages().get().at(1).type(), ChatMessageType::assistant);
    EXPECT_FALSE(replyRequests(h.server).back().contains("think"));
    EXPECT_EQ(manager->settings().get(), settings);
    manager->send("second", "qwen3:8b");
    ASSERT_TRUE(
        eventually([&] { return manager->messages().get().size() == 4 && idle(*manager); }));
    EXPECT_EQ(replyRequests(h.server).back()["think"], true);
}

TEST_F(ManagerTest, ChangedSettingsAreSavedAndApplyToTheNextRequest) {
    const QUuid id = QUuid::createUuid();
    h.store.writeConversation(id, {ChatMessage::make("old", ChatMessageType::user)});
    auto manager = ConversationManager::load(context, id);
    ConversationSettings settings;
    settings.contextLength = 16384;
    manager->setSettings(settings);
    ASSERT_TRUE(eventually([&] { return h.store.readConversationFile(id).settings == settings; }));
    manager->send("next", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 1 && idle(*manager); }));
    EXPECT_EQ(replyRequests(h.server)[0]["options"]["num_ctx"], 16384);
    EXPECT_FALSE(replyRequests(h.server)[0].contains("think"));

    manager->setSettings({});
    ASSERT_TRUE(eventually([&] { return !h.conversationFile(id).contains("settings"); }));
}

/// Bytes that pass for a PNG picture wherever only its signature is read.
QByteArray pngPicture(const char* name) {
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + name;
}

TEST_F(ManagerTest, PicturesGoOnlyToAModelThatCanSee) {
    h.server.setModels(FakeOllama::standardModels());
    const QByteArray red = pngPicture("red");
    const QByteArray blue = pngPicture("blue");
    const QString redName = h.store.attachments().store(red).reference;
    const QString blueName = h.store.attachments().store(blue).reference;
    ASSERT_FALSE(redName.isEmpty());
    auto manager = ConversationManager::makeNew(context);
    manager->send("What is this?", "llava:latest", {redName, blueName});
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 1 && idle(*manager); }));
    const auto seen = replyRequests(h.server)[0]["messages"][0];
    EXPECT_EQ(seen["images"],
              (nlohmann::json{red.toBase64().toStdString(), blue.toBase64().toStdString()}));
    EXPECT_EQ(manager->messages().get().at(0).images(), QStringList({redName, blueName}));

    // The next request of the conversation sends them again; a model that cannot see
    // gets the text alone.
    manager->send("And now?", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 2 && idle(*manager); }));
    const nlohmann::json textOnly = replyRequests(h.server)[1]["messages"];
    for (const auto& message : textOnly) EXPECT_FALSE(message.contains("images")) << message.dump();
    manager->send("Once more", "llava:latest");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 3 && idle(*manager); }));
    EXPECT_EQ(replyRequests(h.server)[2]["messages"][0]["images"].size(), 2u);
    EXPECT_FALSE(replyRequests(h.server)[2]["messages"][2].contains("images"));
    EXPECT_EQ(h.server.requestsTo("/api/show").size(), 2u) << "each model asked once";

    // Editing keeps the pictures; a picture whose file is gone is left out.
    ASSERT_TRUE(h.store.attachments().remove(blueName));
    manager->editAndResend(manager->messages().get().at(0).id(), "Which colour?", "llava:latest");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 4 && idle(*manager); }));
    EXPECT_EQ(replyRequests(h.server)[3]["messages"].back()["images"],
              nlohmann::json{red.toBase64().toStdString()});
    EXPECT_EQ(manager->messages().get().at(0).images(), QStringList({redName, blueName}));
    ASSERT_TRUE(eventually([&] {
        return h.conversationFile(manager->id())["messages"][0]["images"] ==
               nlohmann::json({redName.toStdString(), blueName.toStdString()});
    }));
}

TEST_F(ManagerTest, AFinishedReplyKeepsItsFiguresAndWhetherTheContextWasFull) {
    auto manager = ConversationManager::makeNew(context);
    const auto lastReply = [&] {
        const MessageList list = manager->messages().get();
        return list.last();
    };
    // A short exchange cannot fill any context: Ollama is not asked which one it uses.
    manager->send("hi", "llama3.2");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 1 && idle(*manager); }));
    ASSERT_TRUE(lastReply().stats());
    const ReplyStats small = *lastReply().stats();
    EXPECT_GT(small.promptEvalCount, 0);
    EXPECT_GT(small.evalCount, 0);
    EXPECT_TRUE(small.tokensPerSecond());
    EXPECT_EQ(small.contextLength, 0);
    EXPECT_FALSE(small.contextCut);
    EXPECT_TRUE(h.server.requestsTo("/api/ps").empty());

    // A long message fills the server's default context (the fake loads the model with
    // 4096 tokens, as a server does when a request does not say).
    const QString longText = QString(20000, QLatin1Char('x'));
    manager->send(longText, "llama3.2");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 2 && idle(*manager); }));
    ASSERT_TRUE(lastReply().stats());
    EXPECT_EQ(lastReply().stats()->contextLength, 4096);
    EXPECT_TRUE(lastReply().stats()->contextCut);
    EXPECT_EQ(h.server.requestsTo("/api/ps").size(), 1u);

    // With a context length of its own, the conversation compares with that.
    ConversationSettings roomy;
    roomy.contextLength = 32768;
    manager->setSettings(roomy);
    manager->send("again", "llama3.2");
    ASSERT_TRUE(eventually([&] { return replyRequests(h.server).size() == 3 && idle(*manager); }));
    EXPECT_EQ(lastReply().stats()->contextLength, 32768);
    EXPECT_FALSE(lastReply().stats()->contextCut);
    EXPECT_EQ(h.server.requestsTo("/api/ps").size(), 1u) << "the setting says it all";

    // The figures are stored with the reply.
    ASSERT_TRUE(eventually([&] {
        const auto file = h.conversationFile(manager->id());
        return file["messages"].size() == 6 &&
               file["messages"][3]["stats"]["context_cut"] == true &&
               file["messages"][5]["stats"]["context_length"] == 32768;
    }));
}

TEST_F(ManagerTest, AStoppedReplyHasNoFigures) {
    h.server.setChatScript(ChatScript::words("one two three four five six", 100ms));
    auto manager = ConversationManager::makeNew(context);
    manager->send("hi", "llama3.2:latest");
    ASSERT_TRUE(eventually([&] { return manager->messages().get().size() == 2; }));
    manager->stop();
    ASSERT_TRUE(eventually([&] { return idle(*manager); }));
    EXPECT_TRUE(manager->messages().get().last().stopped());
    EXPECT_FALSE(manager->messages().get().last().stats());
}

}  // namespace
