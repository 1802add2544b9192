// Everyday situations of the application model: Ollama starting after Parlote, working
// offline until something needs the service, and drafts (their text and their pictures)
// that stay with their conversation.

#include <QBuffer>
#include <QImage>
#include <QSignalSpy>

#include "Harness.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class EverydayTest : public ::testing::Test {
protected:
    Harness h;

    /// Closes the model and starts a new one over the same files (the bridge and the
    /// server go on, unlike at a real quit).
    ZoruveVede& restart() {
        h.model.reset();
        return h.start();
    }

    /// A small PNG of one colour.
    static QByteArray png(QColor colour) {
        QImage image(8, 8, QImage::Format_RGB32);
        image.fill(colour);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }
    QByteArray readFile(const QString& path) const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void writeFile(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
};

TEST_F(EverydayTest, TheRememberedModelWaitsForAListThatSaysWhetherItIsThere) {
    h.setSetting("selectedModel", "qwen3:8b");
    h.serviceDown = true;  // Ollama not yet started at login
    ZoruveVede& model = h.start();
    EXPECT_FALSE(model.ollamaRunning());
    EXPECT_FALSE(model.selectedModel());
    EXPECT_FALSE(model.showLoadAlert()) << "nobody asked for anything yet";

    // A service still starting lists no models: that is no answer either.
    h.server.setModels({});
    h.serviceDown = false;
    bool listed = false;
    model.reloadModels([&] { listed = true; });
    ASSERT_TRUE(eventually([&] { return listed; }));
    EXPECT_FALSE(model.selectedModel());

    h.server.setModels({ModelInfo::make("llama3.2:latest"), ModelInfo::make("qwen3:8b")});
    model.reloadModels();
    ASSERT_TRUE(eventually([&] { return model.selectedModel() == QString("qwen3:8b"); }));

    // A list of models without it ends the wait: a later one does not bring it back.
    h.server.setModels({ModelInfo::make("qwen3:8b")});
    h.setSetting("selectedModel", "gone:latest");
    ZoruveVede& again = restart();
    EXPECT_FALSE(again.selectedModel());
    h.server.setModels({ModelInfo::make("gone:latest")});
    listed = false;
    again.reloadModels([&] { listed = true; });
    ASSERT_TRUE(eventually([&] { return listed; }));
    ASSERT_EQ(again.availableModels().size(), 1);
    EXPECT_FALSE(again.selectedModel());
}

TEST_F(EverydayTest, OfflineTheWaitingAlertComesWithASendAndRetrySendsTheMessage) {
    h.serviceDown = true;
    ZoruveVede& model = h.start();
    EXPECT_FALSE(model.showLoadAlert());
    model.setSelectedModel(QString("llama3.2:latest"));
    model.setInputText("Are you there?");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.showLoadAlert(); }));
    EXPECT_EQ(model.inputText(), "Are you there?");

    // Still down: the alert stays and nothing is sent.
    model.setShowLoadAlert(false);  // as the alert's own closing does
    model.retryWaitingAction();
    ASSERT_TRUE(eventually([&] { return model.showLoadAlert(); }));
    EXPECT_TRUE(model.messages().isEmpty());

    h.serviceDown = false;
    model.setShowLoadAlert(false);
    model.retryWaitingAction();
    ASSERT_TRUE(
        eventually([&] { return model.messages().size() == 2 && !model.inSendingMessage(); }, 10s));
    EXPECT_EQ(model.messages().at(0).content(), "Are you there?");
    EXPECT_FALSE(model.showLoadAlert());
    EXPECT_TRUE(model.ollamaRunning());
    EXPECT_TRUE(model.inputText().isEmpty());

    // Cancel drops the waiting action: a later retry sends nothing.
    h.serviceDown = true;
    model.setInputText("Second");
    model.sendMessage();
    ASSERT_TRUE(eventually([&] { return model.showLoadAlert(); }));
    model.cancelWaitingAction();
    EXPECT_FALSE(model.showLoadAlert());
    h.serviceDown = false;
    model.retryWaitingAction();
    QTest::qWait(300);
    EXPECT_EQ(model.messages().size(), 2);
    EXPECT_EQ(model.inputText(), "Second");
}

TEST_F(EverydayTest, DraftsStayWithTheirConversationAcrossSwitchesAndARestart) {
    const Conversation a = stored("Alpha"), b = stored("Beta");
    h.store.saveTOC({a, b});
    ZoruveVede& model = h.start();
    auto open = [&](ZoruveVede& m, const SidebarID& id) {
        m.setSelectedConversation(id);
        if (id.isConversation()) m.selectConversation(id);
    };
    model.setInputText("half a thought for the new one");
    open(model, a.id());
    EXPECT_EQ(model.inputText(), "");
    model.setInputText("draft for Alpha");
    open(model, b.id());
    EXPECT_EQ(model.inputText(), "");
    model.setInputText("draft for Beta");
    open(model, a.id());
    EXPECT_EQ(model.inputText(), "draft for Alpha");
    open(model, SidebarID::newConversation());
    EXPECT_EQ(model.inputText(), "half a thought for the new one");

    // A deleted conversation's draft goes with it.
    model.removeConversation(a.id());

    ZoruveVede& again = restart();
    EXPECT_EQ(again.inputText(), "half a thought for the new one");
    open(again, b.id());
    EXPECT_EQ(again.inputText(), "draft for Beta");
    EXPECT_FALSE(h.store.loadDrafts().contains(a.id().id()));

    // Sending from the new-conversation state sends its draft; the new conversation
    // starts empty and Beta's draft stays.
    open(again, SidebarID::newConversation());
    again.setSelectedModel(QString("llama3.2:latest"));
    again.sendMessage();
    ASSERT_TRUE(
        eventually([&] { return again.messages().size() == 2 && !again.inSendingMessage(); }, 10s));
    EXPECT_EQ(again.messages().at(0).content(), "half a thought for the new one");
    EXPECT_EQ(again.inputText(), "");
    open(again, SidebarID::newConversation());
    EXPECT_EQ(again.inputText(), "");
    open(again, b.id());
    EXPECT_EQ(again.inputText(), "draft for Beta");
}

}  // namespace

namespace {

TEST_F(EverydayTest, FailuresOfTheConnectionReadInPlainWordsWithTheDetailsAfter) {
    EngineContext context{&h.store, &h.bridge, &h.notifications, &h.tasks};
    auto failureOf = [&](ChatScript script, bool down = false) {
        h.answer(std::move(script), "T");
        h.serviceDown = down;
        auto manager = ConversationManager::makeNew(context);
        manager->send("Hello", "llama3.2:latest");
        EXPECT_TRUE(eventually([&] {
            const MessageList list = manager->messages().get();
            return !list.isEmpty() && list.last().type() == ChatMessageType::error;
        }));
        h.serviceDown = false;
        const MessageList list = manager->messages().get();
        return list.isEmpty() ? QString() : list.last().content();
    };
    ChatScript dropped = ChatScript::words("one two three");
    dropped.dropAfter = 2;
    const QString lost = failureOf(dropped);
    EXPECT_TRUE(lost.startsWith(
        "Error: The connection to Ollama was lost while the reply was streaming.\nDetails: "))
        << lost.toStdString();

    EXPECT_TRUE(failureOf(ChatScript::words("x"), true)
                    .startsWith("Error: Parlote could not connect to Ollama. Start the Ollama "
                                "service and try again.\nDetails: Could not connect"));

    ChatScript refused;
    refused.httpError = HttpReply::jsonError(500, "model runner has unexpectedly stopped");
    const QString http = failureOf(refused);
    EXPECT_TRUE(http.startsWith("Error: Ollama answered with an error (HTTP status 500).\n"));
    EXPECT_TRUE(http.contains("model runner has unexpectedly stopped"));

    // An error Ollama itself reports already says what happened: its text stays as it is.
    ChatScript inBand = ChatScript::words("one two");
    inBand.errorAfter = 1;
    const QString reported = failureOf(inBand);
    EXPECT_TRUE(reported.startsWith("Error: Ollama at "));
    EXPECT_FALSE(reported.contains("Details:"));
}

}  // namespace

namespace {

TEST_F(EverydayTest, ACancelledDownloadClosesItsRequestAndEndsQuietly) {
    h.server.setRegistry({ModelInfo::make("phi3:mini")});
    PullScript slow;
    slow.stepsPerLayer = 50;
    slow.stepDelay = 20ms;
    h.server.setPullScript(slow);
    ZoruveVede& model = h.start();
    model.startModelInstall("phi3:mini");
    EXPECT_EQ(model.installingModel(), "phi3:mini");
    ASSERT_TRUE(eventually([&] { return model.progress() > 0; }));
    model.cancelModelInstall();
    EXPECT_TRUE(h.server.waitForAbortedPulls(1, 5000ms)) << "the server saw the request closed";
    ASSERT_TRUE(eventually([&] { return !model.isInstalling(); }));
    EXPECT_EQ(model.installationStatus(), "Cancelled");
    EXPECT_EQ(model.installOutcome(), ZoruveVede::InstallOutcome::Cancelled);
    EXPECT_EQ(model.downloadCompleted(), 0);
    EXPECT_FALSE(model.showModalAlert()) << "a cancel is neither a success nor an error";
    for (const ChatModel& installed : model.availableModels()) EXPECT_NE(installed.id, "phi3:mini");
}

TEST_F(EverydayTest, ADownloadCountsTheBytesOfEveryLayerAndEndsAsGoodNews) {
    h.server.setRegistry({ModelInfo::make("phi3:mini")});
    PullScript pull;
    pull.layerSizes = {4000, 300, 20};  // the weights, then the small blobs, one by one
    pull.stepsPerLayer = 4;
    h.server.setPullScript(pull);
    ZoruveVede& model = h.start();
    QList<std::pair<qint64, qint64>> seen;
    QObject::connect(&model, &ZoruveVede::downloadBytesChanged,
                     [&] { seen << std::pair(model.downloadCompleted(), model.downloadTotal()); });
    model.startModelInstall("phi3:mini");
    EXPECT_EQ(model.installOutcome(), ZoruveVede::InstallOutcome::None);
    ASSERT_TRUE(eventually([&] { return !model.isInstalling(); }, 10s));

    EXPECT_EQ(model.installOutcome(), ZoruveVede::InstallOutcome::Installed);
    EXPECT_TRUE(model.showModalAlert());
    EXPECT_EQ(model.modalAlertKind(), ZoruveVede::AlertKind::Information);
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.last(), (std::pair<qint64, qint64>(4320, 4320)));
    EXPECT_TRUE(seen.contains(std::pair<qint64, qint64>(2000, 4000))) << "half of the first layer";
    EXPECT_TRUE(seen.contains(std::pair<qint64, qint64>(4000, 4300))) << "the second one starting";
    for (qsizetype i = 1; i < seen.size(); ++i) {
        EXPECT_GE(seen[i].first, seen[i - 1].first) << "the bytes done never go back";
        EXPECT_LE(seen[i].first, seen[i].second);
    }

    // A failure after that reads as a problem, and the next download starts from nothing.
    pull.errorAfterSteps = 2;
    h.server.setPullScript(pull);
    h.server.setRegistry({ModelInfo::make("gemma2:2b")});
    seen.clear();
    model.startModelInstall("gemma2:2b");
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_EQ(seen.first(), (std::pair<qint64, qint64>(0, 0)));
    ASSERT_TRUE(eventually([&] { return !model.isInstalling(); }, 10s));
    EXPECT_EQ(model.installOutcome(), ZoruveVede::InstallOutcome::Failed);
    EXPECT_EQ(model.modalAlertKind(), ZoruveVede::AlertKind::Warning);
    EXPECT_EQ(model.modalAlertTitle(), "Error Installing Model");
}

TEST_F(EverydayTest, PicturesOfDraftsStayAcrossARestartInAFileOfTheirOwn) {
    const Conversation a = stored("Alpha");
    h.store.saveTOC({a});
    ZoruveVede& model = h.start();
    model.setInputText("What colour is this?");
    ASSERT_TRUE(eventually([&] { return QFile::exists(h.store.draftsPath()); }));
    const QByteArray textOnly = readFile(h.store.draftsPath());

    model.attachPictureData(png(Qt::red));
    ASSERT_TRUE(eventually([&] { return model.pendingImages().size() == 1; }));
    model.attachPictureData(png(Qt::green));
    ASSERT_TRUE(eventually([&] { return model.pendingImages().size() == 2; }));
    const QStringList newPictures = model.pendingImages();
    model.setSelectedConversation(a.id());
    model.selectConversation(a.id());
    model.attachPictureData(png(Qt::blue));
    ASSERT_TRUE(eventually([&] { return model.pendingImages().size() == 1; }));
    const QString alphaPicture = model.pendingImages()[0];
    ASSERT_TRUE(eventually([&] { return QFile::exists(h.store.draftPicturesPath()); }));

    // The text's file is as it was without pictures.
    ZoruveVede& again = restart();
    EXPECT_EQ(readFile(h.store.draftsPath()), textOnly);
    EXPECT_EQ(again.inputText(), "What colour is this?");
    EXPECT_EQ(again.pendingImages(), newPictures);
    again.setSelectedConversation(a.id());
    again.selectConversation(a.id());
    EXPECT_EQ(again.pendingImages(), QStringList{alphaPicture});

    // Alpha deleted: its draft's picture goes with it, and comes back with Undo.
    again.removeConversation(a.id());
    ASSERT_EQ(again.pendingImages(), newPictures);
    again.undoDeletion();
    EXPECT_EQ(again.pendingImages(), QStringList{alphaPicture});

    // Removing Alpha's picture, and sending the new draft, leave none: the file goes.
    again.removePendingImage(alphaPicture);
    again.setSelectedConversation(SidebarID::newConversation());
    again.setSelectedModel(QString("llama3.2:latest"));
    again.sendMessage();
    ASSERT_TRUE(
        eventually([&] { return again.messages().size() == 2 && !again.inSendingMessage(); }, 10s));
    EXPECT_EQ(again.messages().at(0).images(), newPictures);
    EXPECT_TRUE(eventually([&] { return !QFile::exists(h.store.draftPicturesPath()); }));
    EXPECT_TRUE(QFile::exists(h.store.attachments().path(alphaPicture)));
}

TEST_F(EverydayTest, ADamagedOrOutdatedDraftPicturesFileGivesWhatItCanAndNothingElse) {
    const Conversation a = stored("Alpha");
    h.store.saveTOC({a});
    const QString kept = h.store.attachments().store(png(Qt::red)).reference;
    const QString removed = h.store.attachments().store(png(Qt::blue)).reference;
    ASSERT_FALSE(kept.isEmpty());
    ASSERT_TRUE(h.store.attachments().remove(removed));
    QDir().mkpath(QFileInfo(h.store.draftPicturesPath()).path());

    // Not JSON at all: no pictures, and the file is not rewritten by reading it.
    const QByteArray damaged = "{\"pictures\": [tru";
    writeFile(h.store.draftPicturesPath(), damaged);
    ZoruveVede& model = h.start();
    EXPECT_TRUE(model.pendingImages().isEmpty());
    EXPECT_EQ(readFile(h.store.draftPicturesPath()), damaged);

    // A picture whose file is gone, a name that is no picture's, a wrong shape and a
    // conversation no longer listed are left out; the rest is kept.
    const std::string gone =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toStdString();
    nlohmann::json document = {
        {"pictures",
         {{"new", {removed.toStdString(), "../../etc/passwd", kept.toStdString(), 7}},
          {a.id().id().toStdString(), "not a list"},
          {gone, {kept.toStdString()}}}}};
    writeFile(h.store.draftPicturesPath(), QByteArray::fromStdString(document.dump()));
    ZoruveVede& again = restart();
    EXPECT_EQ(again.pendingImages(), QStringList{kept});
    again.setSelectedConversation(a.id());
    again.selectConversation(a.id());
    EXPECT_TRUE(again.pendingImages().isEmpty());
    // Written again with what was kept.
    EXPECT_TRUE(eventually([&] {
        const nlohmann::json written = h.readJson(h.store.draftPicturesPath());
        return written.is_object() &&
               written["pictures"] == nlohmann::json{{"new", {kept.toStdString()}}};
    }));
}

}  // namespace
