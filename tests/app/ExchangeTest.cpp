// Exporting and importing conversations from the main window, with the real application
// model, a search index in the test's folder and the fake Ollama server: imported
// conversations join the list and the index without ever replacing one, each file that
// is not imported is reported with its reason, and exporting everything writes one file
// per conversation under a safe, unique name.

#include <QAction>
#include <QApplication>
#include <QMessageBox>
#include <QSet>

#include "ConversationExport.h"
#include "ExchangeCommands.h"
#include "Harness.h"
#include "MainView.h"
#include "MainWindow.h"
#include "ShortcutsWindow.h"

using namespace parlote;
using namespace parlote::testing;

namespace {

class ExchangeTest : public ::testing::Test {
protected:
    Harness h;
    std::unique_ptr<MainWindow> window;
    const Conversation garden = stored("Garden plans");
    const QDateTime at = QDateTime(QDate(2026, 3, 14), QTime(9, 0), Qt::UTC);
    QList<ChatMessage> gardenMessages;

    ExchangeTest() {
        h.searchIndex = h.dir.filePath(QStringLiteral("cache/search.sqlite"));
        h.store.saveTOC({garden});
        gardenMessages = {message("When should I plant tomatoes?", ChatMessageType::user),
                          message("After the last frost.", ChatMessageType::assistant)};
        h.store.writeConversation(garden.id().uuid(), gardenMessages);
    }

    void TearDown() override {
        if (!window) return;
        model().applicationWillQuit();
        window.reset();
    }

    ChatMessage message(const QString& text, ChatMessageType type) const {
        return ChatMessage(QUuid::createUuid(), text, type, at);
    }

    void start() {
        window = std::make_unique<MainWindow>(h.services(), [] { return nullptr; });
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    ZoruveVede& model() const { return window->mainView()->viewModel(); }
    ExchangeCommands* exchange() const { return window->exchangeCommands(); }

    QString file(const QString& name, const QByteArray& bytes) const {
        const QString path = h.dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QByteArray bytesOf(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    ImportReport import(const QStringList& paths) {
        std::optional<ImportReport> report;
        exchange()->importFiles(paths, [&](const ImportReport& r) { report = r; });
        EXPECT_TRUE(eventually([&] { return report.has_value(); }));
        return report.value_or(ImportReport{});
    }

    QStringList titles() const {
        QStringList list;
        for (const Conversation& c : model().conversations()) list << c.title();
        return list;
    }

    /// The conversations a search for `text` finds, once the index took in every change.
    QSet<QUuid> found(const QString& text) {
        bool idle = false;
        model().whenSearchIdle([&] { idle = true; });
        EXPECT_TRUE(eventually([&] { return idle; }));
        std::optional<SearchAnswer> answer;
        model().searchConversations(text, 20, [&](const SearchAnswer& a) { answer = a; });
        EXPECT_TRUE(eventually([&] { return answer.has_value(); }));
        QSet<QUuid> ids;
        if (answer)
            for (const SearchFinding& finding : answer->findings) ids << finding.conversation;
        return ids;
    }
};

TEST_F(ExchangeTest, TheFileMenuOffersTheCommandsWithTheirKeys) {
    start();
    EXPECT_EQ(exchange()->exportAction()->shortcut(), QKeySequence("Ctrl+Shift+E"));
    EXPECT_EQ(exchange()->importAction()->shortcut(), QKeySequence(QKeySequence::Open));
    QStringList listed;
    for (const ShortcutsWindow::Section& section : ShortcutsWindow::sections(window->menuActions()))
        for (const auto& entry : section.entries) listed << entry.what;
    EXPECT_TRUE(listed.contains("Export Conversation")) << listed.join(", ").toStdString();
    EXPECT_TRUE(listed.contains("Import Conversations"));
    // Nothing to export while no conversation is open.
    EXPECT_FALSE(exchange()->exportAction()->isEnabled());
    model().setSelectedConversation(garden.id());
    EXPECT_TRUE(exchange()->exportAction()->isEnabled());
}

TEST_F(ExchangeTest, AnImportedConversationJoinsTheListItsFileAndTheSearchIndex) {
    start();
    TitledConversation exported{QUuid::createUuid(), QStringLiteral("Bread baking"), {}};
    exported.content.messages = {message("How long does rye dough proof?", ChatMessageType::user),
                                 message("<think>Rye is slow.</think>\n\nAbout **three** hours.",
                                         ChatMessageType::assistant)};
    exported.content.settings.temperature = 0.3;
    const ImportReport report = import({file("bread.json", conversationToJsonFile(exported))});
    EXPECT_EQ(report.imported, 1);
    EXPECT_TRUE(report.skipped.isEmpty());

    EXPECT_EQ(titles(), QStringList({"Bread baking", "Garden plans"}));
    const Conversation& entry = model().conversations().first();
    EXPECT_EQ(entry.id().uuid(), exported.id);
    EXPECT_EQ(entry.lastMessage(), "About **three** hours.");
    EXPECT_EQ(model().selectedConversation(), entry.id()) << "the imported one is opened";
    const TranscriptRead read = h.store.readConversationFile(exported.id);
    EXPECT_EQ(read.messages, exported.content.messages);
    EXPECT_EQ(read.settings, exported.content.settings);
    EXPECT_EQ(h.store.loadTOC().size(), 2) << "the list on disk has it too";

    EXPECT_EQ(found("rye"), QSet<QUuid>({exported.id}));
}

TEST_F(ExchangeTest, AnImportWhoseIdIsTakenGetsANewIdAndLeavesTheOtherAlone) {
    start();
    const QByteArray before = bytesOf(h.store.conversationPath(garden.id().uuid()));
    TitledConversation copy{garden.id().uuid(), QStringLiteral("Garden plans, edited"), {}};
    copy.content.messages = {message("Which roses climb?", ChatMessageType::user)};
    // The same file twice: each gets an id of its own.
    const QString path = file("copy.json", conversationToJsonFile(copy));
    EXPECT_EQ(import({path, path}).imported, 2);

    const QList<Conversation> list = model().conversations();
    ASSERT_EQ(list.size(), 3);
    QSet<QUuid> ids;
    for (const Conversation& c : list) ids.insert(c.id().uuid());
    EXPECT_EQ(ids.size(), 3);
    EXPECT_EQ(list.last().id(), garden.id());
    EXPECT_EQ(list.last().title(), "Garden plans");
    EXPECT_EQ(bytesOf(h.store.conversationPath(garden.id().uuid())), before);
    EXPECT_EQ(h.store.readConversation(list.first().id().uuid()), copy.content.messages);
    EXPECT_EQ(found("roses").size(), 2) << "both copies";
    EXPECT_EQ(found("tomatoes"), QSet<QUuid>({garden.id().uuid()}));
}

TEST_F(ExchangeTest, AnImportReportsEachFileItSkippedAndWhy) {
    start();
    const QString own = h.store.conversationPath(garden.id().uuid());
    const QString copied = h.dir.filePath(QFileInfo(own).fileName());
    QFile::copy(own, copied);  // a data-folder file, its id in use
    const ImportReport report =
        import({copied, file("broken.json", "{\"messages\":[{"),
                file("photo.png", "\x89PNG\r\n\x1a\n"), file("toc.json", "{\"contents\":[]}")});
    EXPECT_EQ(report.imported, 1);
    ASSERT_EQ(report.skipped.size(), 3);
    EXPECT_EQ(report.skipped[0],
              std::make_pair(QString("broken.json"), QString("damaged (not valid JSON)")));
    EXPECT_EQ(report.skipped[1], std::make_pair(QString("photo.png"), QString("not a JSON file")));
    EXPECT_EQ(report.skipped[2],
              std::make_pair(QString("toc.json"), QString("not a conversation")));
    EXPECT_EQ(titles(), QStringList({"When should I plant tomatoes?", "Garden plans"}))
        << "a data-folder file is titled by its first message";

    exchange()->showImportReport(report);
    QMessageBox* box = exchange()->importReportBox();
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->informativeText(),
              "1 conversation imported.\n\nSkipped:\n"
              "\u2022 broken.json: damaged (not valid JSON)\n"
              "\u2022 photo.png: not a JSON file\n"
              "\u2022 toc.json: not a conversation");
    box->close();
}

TEST_F(ExchangeTest, ExportingEverythingWritesOneFilePerConversationUnderUniqueSafeNames) {
    const Conversation second = stored("Garden plans");
    const Conversation slashed = stored("  Plans/ideas\n2026 ");
    h.store.saveTOC({garden, second, slashed});
    h.store.writeConversation(second.id().uuid(), {message("Roses?", ChatMessageType::user)});
    h.store.writeConversation(slashed.id().uuid(), {message("Ideas?", ChatMessageType::user)});
    start();
    const QString folder = h.dir.filePath("exports");
    QDir().mkpath(folder);
    file("exports/Garden plans.md", "mine");

    std::optional<ExportAllReport> report;
    exchange()->exportAll(folder, ExportFormat::markdown,
                          [&](const ExportAllReport& r) { report = r; });
    ASSERT_TRUE(eventually([&] { return report.has_value(); }));
    EXPECT_EQ(report->written, 3);
    EXPECT_TRUE(report->failed.isEmpty());
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name),
              QStringList({"Garden plans (2).md", "Garden plans (3).md", "Garden plans.md",
                           "Plans-ideas 2026.md"}));
    EXPECT_EQ(bytesOf(folder + "/Garden plans.md"), "mine") << "never overwritten";
    EXPECT_TRUE(bytesOf(folder + "/Garden plans (2).md").contains("When should I plant tomatoes?"));
    EXPECT_TRUE(bytesOf(folder + "/Garden plans (3).md").contains("Roses?"));
}

TEST_F(ExchangeTest, TheOpenConversationExportsAsAPdfAndAsJsonThatImportsBack) {
    start();
    const QString pdf = h.dir.filePath("garden.pdf");
    const QString json = h.dir.filePath("garden.json");
    std::optional<QString> pdfError, jsonError;
    exchange()->exportConversation(garden.id(), pdf, ExportFormat::pdf,
                                   [&](const QString& e) { pdfError = e; });
    exchange()->exportConversation(garden.id(), json, ExportFormat::json,
                                   [&](const QString& e) { jsonError = e; });
    ASSERT_TRUE(eventually([&] { return pdfError && jsonError; }));
    EXPECT_EQ(*pdfError, "");
    EXPECT_EQ(*jsonError, "");
    EXPECT_TRUE(bytesOf(pdf).startsWith("%PDF-"));
    EXPECT_EQ(import({json}).imported, 1);
    EXPECT_EQ(titles(), QStringList({"Garden plans", "Garden plans"}));
    EXPECT_EQ(h.store.readConversation(model().conversations().first().id().uuid()),
              gardenMessages);
}

}  // namespace
