// What the model menu and the model manager say of each model, with the real application
// model against the fake Ollama server: capabilities and context length (/api/show),
// the loaded models (/api/ps), loading a chosen model in the background and "Unload".

#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "Harness.h"
#include "MainView.h"
#include "ModelManagerView.h"
#include "ModelMenu.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class ModelStatusTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainView> view;

    void TearDown() override {
        if (view) view->viewModel().applicationWillQuit();
        view.reset();
    }

    void start(qsizetype models) {
        view = std::make_unique<MainView>(h.services());
        view->resize(1000, 700);
        view->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        ASSERT_TRUE(eventually([&] { return model().availableModels().size() == models; }));
    }
    ZoruveVede& model() { return view->viewModel(); }
    ModelMenu* menu() { return view->modelMenu(); }

    /// Opens the model menu afresh, as the user does (which asks the server again).
    void openMenu() {
        menu()->close();
        menu()->popup(view->modelButton()->mapToGlobal(QPoint(0, view->modelButton()->height())));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu()));
    }
    QAction* item(const QString& id) {
        for (QAction* action : menu()->modelActions())
            if (action->data().toString() == id) return action;
        return nullptr;
    }
    /// The quiet second line of a model's item; empty when it has none.
    QString line(const QString& id) {
        QAction* action = item(id);
        return action ? action->text().section(QLatin1Char('\t'), 1) : QStringLiteral("gone");
    }
    QStringList unloadTexts() {
        QStringList texts;
        for (QAction* action : menu()->unloadActions()) texts << action->text();
        return texts;
    }
    /// The chat requests without messages, as "model keep_alive" ("-" when not sent).
    QStringList loadRequests() {
        QStringList seen;
        for (const RecordedRequest& request : h.server.requestsTo("/api/chat")) {
            if (request.body.contains("messages") && !request.body["messages"].empty()) continue;
            const auto keep = request.body.find("keep_alive");
            seen << QString::fromStdString(request.body["model"].get<std::string>() + " " +
                                           (keep == request.body.end() ? "-" : keep->dump()));
        }
        return seen;
    }
    ModelManagerView* manager(const QString& id) {
        view->setShowModelPopover(true);
        view->modelManager()->setSelection(id);
        return view->modelManager();
    }
    QStringList stateRows(ModelManagerView* m) {
        QStringList rows;
        for (int i = 0; i < m->stateValues().size(); ++i)
            rows << (m->stateValues()[i]->isHidden() ? QStringLiteral("-")
                                                     : m->stateValues()[i]->text());
        return rows;
    }
};

TEST_F(ModelStatusTest, TheMenuMarksWhatEachModelCanDoAndAnEmbeddingModelCannotBeChosen) {
    std::vector<ModelInfo> models = FakeOllama::standardModels();
    ModelInfo old = ModelInfo::make("phi:latest");
    old.capabilities = {};  // a server before 0.6.4 does not say
    old.contextLength = 0;
    models.push_back(old);
    h.server.setModels(models);
    start(5);
    openMenu();
    ASSERT_TRUE(eventually([&] {
        for (const char* id :
             {"llama3.2:latest", "llava:latest", "qwen3:8b", "nomic-embed-text:latest"})
            if (line(id).isEmpty()) return false;
        return true;
    }));

    EXPECT_EQ(ModelMenu::nameOf(item("qwen3:8b")), "qwen3:8b");
    EXPECT_EQ(line("llama3.2:latest"), "tools \u00B7 128K context");
    EXPECT_EQ(line("llava:latest"), "vision \u00B7 128K context");
    EXPECT_EQ(line("qwen3:8b"), "thinking \u00B7 tools \u00B7 40K context");
    EXPECT_EQ(line("nomic-embed-text:latest"), "embedding only \u00B7 2K context");
    EXPECT_EQ(line("phi:latest"), "") << "nothing said, nothing shown";
    EXPECT_TRUE(item("phi:latest")->isEnabled());
    EXPECT_TRUE(item("qwen3:8b")->toolTip().contains("Context: 40,960 tokens"));

    // The embedding model is listed, cannot be chosen, and says why.
    QAction* embedding = item("nomic-embed-text:latest");
    EXPECT_FALSE(embedding->isEnabled());
    EXPECT_EQ(embedding->toolTip(), "nomic-embed-text:latest can only make embeddings, not chat");
    embedding->trigger();
    model().chooseModel(QStringLiteral("nomic-embed-text:latest"));
    EXPECT_EQ(model().selectedModel(), std::nullopt);
    EXPECT_TRUE(loadRequests().isEmpty());

    // The manager says the same in words.
    ModelManagerView* m = manager(QStringLiteral("qwen3:8b"));
    EXPECT_EQ(stateRows(m).mid(0, 2), (QStringList{"Chat, thinking, tools", "40,960 tokens"}));
    m->setSelection(QStringLiteral("nomic-embed-text:latest"));
    EXPECT_EQ(stateRows(m).mid(0, 2), (QStringList{"Embeddings only", "2,048 tokens"}));
    m->setSelection(QStringLiteral("phi:latest"));
    EXPECT_EQ(stateRows(m).mid(0, 2), (QStringList{"-", "-"}));
    view->setShowModelPopover(false);

    // Each model is described once: opening the menu again asks only which are loaded.
    const size_t psBefore = h.server.requestsTo("/api/ps").size();
    openMenu();
    ASSERT_TRUE(eventually([&] { return h.server.requestsTo("/api/ps").size() > psBefore; }));
    EXPECT_EQ(h.server.requestsTo("/api/show").size(), 5u);
}

TEST_F(ModelStatusTest, AChosenModelLoadsInTheBackgroundAndUnloadFreesIt) {
    start(2);
    item("qwen3:8b")->trigger();
    EXPECT_EQ(model().selectedModel(), "qwen3:8b");
    ASSERT_TRUE(eventually([&] { return loadRequests() == QStringList{"qwen3:8b -"}; }));
    ASSERT_TRUE(eventually([&] { return menu()->unloadActions().size() == 1; }));
    EXPECT_EQ(line("qwen3:8b"), "thinking \u00B7 tools \u00B7 128K context \u00B7 loaded");
    EXPECT_EQ(line("llama3.2:latest"), "tools \u00B7 128K context");
    // 2.4 GB: the weights and a 4,096-token cache, all on the GPU, for Ollama's 5 minutes.
    EXPECT_EQ(unloadTexts(),
              QStringList{"Unload qwen3:8b\t2.4 GB \u00B7 100% GPU \u00B7 unloads in 5 min"});

    ModelManagerView* m = manager(QStringLiteral("qwen3:8b"));
    EXPECT_EQ(stateRows(m)[2], "2.4 GB \u00B7 100% GPU \u00B7 unloads in 5 min");
    ASSERT_FALSE(m->unloadButton()->isHidden());
    m->setSelection(QStringLiteral("llama3.2:latest"));
    EXPECT_EQ(stateRows(m)[2], "Not loaded");
    EXPECT_TRUE(m->unloadButton()->isHidden());

    // Unload in the manager: keep_alive 0 for that model, and the mark goes everywhere.
    m->setSelection(QStringLiteral("qwen3:8b"));
    m->unloadButton()->click();
    ASSERT_TRUE(eventually([&] { return loadRequests().size() == 2; }));
    EXPECT_EQ(loadRequests().last(), "qwen3:8b 0");
    ASSERT_TRUE(eventually([&] { return stateRows(m)[2] == "Not loaded"; }));
    EXPECT_TRUE(m->unloadButton()->isHidden());
    EXPECT_TRUE(menu()->unloadActions().isEmpty());
    EXPECT_FALSE(line("qwen3:8b").contains("loaded"));
    EXPECT_TRUE(h.server.loadedModels().empty());
    view->setShowModelPopover(false);

    // Unload in the menu, of the model that was loaded beside the chosen one.
    h.server.setLoadedModels({{"llama3.2:latest", 8192}});
    openMenu();
    ASSERT_TRUE(eventually([&] { return menu()->unloadActions().size() == 1; }));
    EXPECT_TRUE(unloadTexts().first().startsWith("Unload llama3.2:latest\t"));
    menu()->unloadActions().first()->trigger();
    ASSERT_TRUE(eventually([&] { return loadRequests().size() == 3; }));
    EXPECT_EQ(loadRequests().last(), "llama3.2:latest 0");
    ASSERT_TRUE(eventually([&] { return menu()->unloadActions().isEmpty(); }));
    EXPECT_EQ(model().selectedModel(), "qwen3:8b") << "unloading chooses nothing";
}

TEST_F(ModelStatusTest, AServerThatCannotDescribeModelsShowsThemAsBefore) {
    h.server.setRouteReply("/api/show", HttpReply::jsonError(500, "unable to read model file"));
    h.server.setLoadedModels({{"llama3.2:latest", 4096}});
    start(2);
    openMenu();
    // Only once /api/ps has answered is the loaded mark there; /api/show failed before.
    ASSERT_TRUE(eventually([&] { return line("llama3.2:latest") == "loaded"; }));
    EXPECT_GE(h.server.requestsTo("/api/show").size(), 2u);
    EXPECT_EQ(line("qwen3:8b"), "");
    EXPECT_TRUE(item("qwen3:8b")->isEnabled());
    item("qwen3:8b")->trigger();
    EXPECT_EQ(model().selectedModel(), "qwen3:8b");

    // Once the server answers, the descriptions come the next time the menu opens.
    h.server.setRouteReply("/api/show", std::nullopt);
    openMenu();
    EXPECT_TRUE(eventually([&] { return line("llama3.2:latest").startsWith("tools"); }));
}

TEST_F(ModelStatusTest, ABackgroundLoadThatFailsSaysNothing) {
    start(2);
    h.server.setRouteReply("/api/chat", HttpReply::jsonError(500, "model runner crashed"));
    item("qwen3:8b")->trigger();
    EXPECT_TRUE(line("qwen3:8b").endsWith("loading\u2026"));
    ASSERT_TRUE(eventually([&] { return !line("qwen3:8b").contains("loading"); }));
    // The load went to the server (waited for, as everything the server sees here is).
    EXPECT_TRUE(eventually([&] { return h.server.requestsTo("/api/chat").size() == 1; }));
    EXPECT_FALSE(line("qwen3:8b").contains("loaded"));
    EXPECT_FALSE(model().showModalAlert());
    EXPECT_EQ(model().selectedModel(), "qwen3:8b") << "the choice stands";
}

TEST_F(ModelStatusTest, AServerThatStopsListingLoadedModelsShowsNoneLoaded) {
    h.server.setLoadedModels({{"llama3.2:latest", 4096}});
    start(2);
    openMenu();
    ASSERT_TRUE(eventually([&] { return menu()->unloadActions().size() == 1; }));
    ModelManagerView* m = manager(QStringLiteral("qwen3:8b"));
    ASSERT_TRUE(eventually([&] { return stateRows(m)[2] == "Not loaded"; }));
    view->setShowModelPopover(false);

    h.server.setRouteReply("/api/ps", HttpReply{404, "text/plain", "404 page not found"});
    openMenu();
    ASSERT_TRUE(eventually([&] { return menu()->unloadActions().isEmpty(); }));
    EXPECT_EQ(line("llama3.2:latest"), "tools \u00B7 128K context");
    m = manager(QStringLiteral("qwen3:8b"));
    EXPECT_EQ(stateRows(m), (QStringList{"Chat, thinking, tools", "131,072 tokens", "-"}))
        << "not said to be unloaded when the server cannot tell";
}

}  // namespace
