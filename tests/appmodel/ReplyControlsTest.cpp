// Stopping, regenerating and editing replies, driven through ZoruveVede against the fake
// Ollama server: what the server sees, what the transcript and the sidebar show, and what
// reaches the file.

#include <QFile>

#include "Harness.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

QStringList textsOf(const MessageList& messages) {
    QStringList texts;
    for (const ChatMessage& message : messages) texts << message.content();
    return texts;
}

/// The contents of the messages a chat request sent.
QStringList sentHistory(const RecordedRequest& request) {
    QStringList texts;
    for (const auto& message : request.body["messages"])
        texts << QString::fromStdString(message["content"].get<std::string>());
    return texts;
}

bool isTitleRequest(const RecordedRequest& request) {
    return request.body["messages"].back()["content"] == kTitlePrompt.toStdString();
}

class ReplyControlsTest : public ::testing::Test {
protected:
    Harness h;
    std::atomic<int> replies{0};

    /// Every chat is answered "reply N" (N counting from 1), titles with "A title".
    void numberReplies() {
        h.server.setChatResponder([this](const nlohmann::json& request) {
            if (request["messages"].back()["content"] == kTitlePrompt.toStdString())
                return ChatScript::words("A title");
            return ChatScript::words("reply " + std::to_string(++replies));
        });
    }

    ZoruveVede& startWithModel() {
        ZoruveVede& model = h.start();
        model.setSelectedModel(QString("llama3.2:latest"));
        return model;
    }

    /// Runs `command` and waits until the reply it asked for has ended: a chat request was
    /// made and the transcript is idle again.
    template <class F>
    void runAndSettle(ZoruveVede& model, F command) {
        const size_t before = h.server.requestsTo("/api/chat").size();
        command();
        ASSERT_TRUE(eventually(
            [&] {
                return h.server.requestsTo("/api/chat").size() > before &&
                       !model.inSendingMessage() && !model.messages().last().content().isEmpty();
            },
            10s));
        QTest::qWait(20);  // deliveries queued for the interface thread
    }

    void sendAndSettle(ZoruveVede& model, const QString& text) {
        runAndSettle(model, [&] {
            model.setInputText(text);
            model.sendMessage();
        });
    }

    static QString sidebarPreview(const ZoruveVede& model) {
        return model.conversations().isEmpty() ? QString()
                                               : model.conversations().first().lastMessage();
    }

    nlohmann::json fileOf(ZoruveVede& model) {
        QFile file(h.store.conversationPath(model.selectedConversation().uuid()));
        if (!file.open(QIODevice::ReadOnly)) return {};
        return nlohmann::json::parse(file.readAll().toStdString());
    }
};

TEST_F(ReplyControlsTest, StopClosesTheRequestKeepsThePartialReplyAndAllowsTheNextSend) {
    h.answer(ChatScript::words("one two three four five six seven eight nine ten eleven", 150ms),
             "A title");
    ZoruveVede& model = startWithModel();
    model.setInputText("Count");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] {
        return model.messages().size() == 2 && model.messages().last().content().contains("two");
    }));
    model.stopReply();

    // The server saw the connection close and stopped writing.
    EXPECT_TRUE(h.server.waitForAbortedChatStreams(1, 5000ms));
    ASSERT_TRUE(eventually([&] { return !model.inSendingMessage(); }));
    const ChatMessage partial = model.messages().last();
    EXPECT_EQ(partial.type(), ChatMessageType::assistant);
    EXPECT_TRUE(partial.stopped());
    EXPECT_TRUE(partial.content().startsWith("one two"));
    EXPECT_FALSE(partial.content().contains("eleven"));
    EXPECT_EQ(model.messages().size(), 2) << "a stop is not an error";
    EXPECT_FALSE(model.statusMessage());
    ASSERT_TRUE(eventually([&] { return sidebarPreview(model) == partial.content(); }));
    const nlohmann::json file = fileOf(model);
    ASSERT_EQ(file["messages"].size(), 2u);
    EXPECT_EQ(file["messages"][1]["stopped"], true);
    EXPECT_EQ(QString::fromStdString(file["messages"][1]["content"]), partial.content());

    // No title was asked for; the next message is answered in full.
    h.answer(ChatScript::words("all of it"), "A title");
    sendAndSettle(model, "Again");
    EXPECT_EQ(textsOf(model.messages()),
              QStringList({"Count", partial.content(), "Again", "all of it"}));
    EXPECT_FALSE(model.messages().last().stopped());
    int titles = 0;
    for (const RecordedRequest& request : h.server.requestsTo("/api/chat"))
        titles += isTitleRequest(request);
    EXPECT_EQ(titles, 1) << "only the reply that ended by itself asks for a title";
}

TEST_F(ReplyControlsTest, AStopWhileTheModelLoadsLeavesNoReply) {
    ChatScript slowLoad = ChatScript::words("never seen");
    slowLoad.firstByteDelay = 3000ms;
    h.answer(slowLoad, "A title");
    ZoruveVede& model = startWithModel();
    model.setInputText("Hello");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return h.server.requestsTo("/api/chat").size() == 1; }));
    model.stopReply();
    ASSERT_TRUE(eventually([&] { return !model.inSendingMessage(); }));
    QTest::qWait(50);
    EXPECT_EQ(textsOf(model.messages()), QStringList({"Hello"}));
    EXPECT_FALSE(model.statusMessage()) << "the waiting word goes with the stop";
    EXPECT_EQ(fileOf(model)["messages"].size(), 1u);
}

TEST_F(ReplyControlsTest, QuittingRightAfterAStopKeepsThePartialReplyOnDisk) {
    h.answer(ChatScript::words("alpha beta gamma delta epsilon zeta eta theta", 150ms), "T");
    ZoruveVede& model = startWithModel();
    model.setInputText("Letters");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] {
        return model.messages().size() == 2 && model.messages().last().content().contains("beta");
    }));
    const QUuid id = model.selectedConversation().uuid();
    model.stopReply();
    model.applicationWillQuit();
    h.pool.closeAll();
    h.tasks.waitForAll();
    const QList<ChatMessage> stored = h.store.readConversation(id);
    ASSERT_EQ(stored.size(), 2);
    EXPECT_TRUE(stored.at(1).content().startsWith("alpha beta"));
}

TEST_F(ReplyControlsTest, RegeneratedRepliesArePagedAndTheShownOneIsSentAsHistory) {
    numberReplies();
    ZoruveVede& model = startWithModel();
    sendAndSettle(model, "Hello");
    ASSERT_TRUE(model.canRegenerate());
    runAndSettle(model, [&] { model.regenerateReply(); });
    runAndSettle(model, [&] { model.regenerateReply(); });
    EXPECT_EQ(textsOf(model.messages()), QStringList({"Hello", "reply 3"}));
    EXPECT_EQ(model.messages().last().variantIndex(), 2);
    EXPECT_EQ(model.messages().last().variantCount(), 3);

    // Each regeneration sent the transcript up to the user's message.
    for (const RecordedRequest& request : h.server.requestsTo("/api/chat")) {
        if (isTitleRequest(request)) continue;
        EXPECT_EQ(sentHistory(request), QStringList({"Hello"}));
    }

    model.showVariant(model.messages().last().id(), 0);
    ASSERT_TRUE(eventually([&] { return model.messages().last().content() == "reply 1"; }));
    model.showVariant(model.messages().last().id(), 1);
    ASSERT_TRUE(eventually([&] { return model.messages().last().content() == "reply 2"; }));
    EXPECT_EQ(model.messages().last().variantIndex(), 1);
    ASSERT_TRUE(eventually([&] { return sidebarPreview(model) == "reply 2"; }));

    sendAndSettle(model, "Next");
    std::vector<RecordedRequest> chats = h.server.requestsTo("/api/chat");
    std::erase_if(chats, isTitleRequest);
    EXPECT_EQ(sentHistory(chats.back()), QStringList({"Hello", "reply 2", "Next"}));

    // The file shows the thread as it is; the other replies are kept beside it.
    const nlohmann::json file = fileOf(model);
    ASSERT_EQ(file["messages"].size(), 4u);
    EXPECT_EQ(file["messages"][1]["content"], "reply 2");
    ASSERT_EQ(file["variants"].size(), 1u);
    EXPECT_EQ(file["variants"][0]["others"].size(), 2u);
}

TEST_F(ReplyControlsTest, EditingTheFirstMessageKeepsTheOldTailAsAVersion) {
    numberReplies();
    ZoruveVede& model = startWithModel();
    for (const char* text : {"A", "B", "C"}) sendAndSettle(model, text);
    ASSERT_EQ(textsOf(model.messages()),
              QStringList({"A", "reply 1", "B", "reply 2", "C", "reply 3"}));
    ASSERT_EQ(model.lastUserMessage(), model.messages().at(4).id());

    runAndSettle(model, [&] { model.editAndResend(model.messages().at(0).id(), "  A, better  "); });
    EXPECT_EQ(textsOf(model.messages()), QStringList({"A, better", "reply 4"}));
    EXPECT_EQ(model.messages().at(0).variantIndex(), 1);
    EXPECT_EQ(model.messages().at(0).variantCount(), 2);
    std::vector<RecordedRequest> chats = h.server.requestsTo("/api/chat");
    std::erase_if(chats, isTitleRequest);
    EXPECT_EQ(sentHistory(chats.back()), QStringList({"A, better"}));

    model.showVariant(model.messages().at(0).id(), 0);
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 6; }));
    EXPECT_EQ(textsOf(model.messages()),
              QStringList({"A", "reply 1", "B", "reply 2", "C", "reply 3"}));

    // Versions survive reading the conversation again.
    h.tasks.waitForAll();
    const TranscriptRead read = h.store.readConversationFile(model.selectedConversation().uuid());
    EXPECT_EQ(read.messages.size(), 6);
    ASSERT_EQ(read.variants.size(), 1u);
    EXPECT_EQ(read.variants[0].others[0].messages.at(0).content(), "A, better");
}

TEST_F(ReplyControlsTest, RegeneratingAfterAStopDuringTheLoadBringsBackTheEarlierReply) {
    numberReplies();
    ZoruveVede& model = startWithModel();
    sendAndSettle(model, "Hello");
    ChatScript slowLoad = ChatScript::words("never seen");
    slowLoad.firstByteDelay = 3000ms;
    h.answer(slowLoad, "A title");
    model.regenerateReply();
    ASSERT_TRUE(eventually([&] {
        return model.messages().size() == 1 && h.server.requestsTo("/api/chat").size() == 3;
    }));
    model.stopReply();
    ASSERT_TRUE(eventually([&] { return !model.inSendingMessage(); }));
    ASSERT_TRUE(eventually([&] { return model.messages().size() == 2; }));
    EXPECT_EQ(model.messages().last().content(), "reply 1");
    EXPECT_FALSE(model.messages().last().hasVariants());
}

TEST_F(ReplyControlsTest, AThinkingReplyKnowsHowLongItThought) {
    ChatScript thinking;
    thinking.chunks = {{"", "Let me", false}, {"", " think.", false}, {"The answer.", "", false}};
    thinking.chunkDelay = 30ms;
    h.answer(thinking, "A title");
    ZoruveVede& model = startWithModel();
    sendAndSettle(model, "Question");
    const ChatMessage reply = model.messages().last();
    EXPECT_TRUE(reply.content().startsWith("<think>"));
    ASSERT_TRUE(reply.thinkingSeconds().has_value());
    EXPECT_GE(*reply.thinkingSeconds(), 0.0);
    EXPECT_EQ(sidebarPreview(model), "The answer.");
}

}  // namespace
