// Model names as the window shows them, and the model menu with ten thousand models: a
// short menu that filters as the user types.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

#include "DisplayName.h"
#include "ModelMenu.h"
#include "ModelStateText.h"

namespace parlote {
namespace {

using views::displayName;

TEST(DisplayName, ControlsShowAsCodePointsAndRightToLeftNamesAreIsolated) {
    EXPECT_EQ(displayName("fish&chips:latest"), "fish&chips:latest");
    // "gpt-" RLO "lave" would read "gpt-eval".
    EXPECT_EQ(displayName(QStringLiteral("gpt-\u202Elave")), "gpt-<U+202E>lave");
    EXPECT_EQ(displayName(QStringLiteral("a\u2066b\u2069c\u200Ed\u200Fe\u061Cf\u200Bg\nh")),
              "a<U+2066>b<U+2069>c<U+200E>d<U+200F>e<U+061C>f<U+200B>g<U+000A>h");
    EXPECT_EQ(displayName(QString(QChar(0xD800)) + "x"), "<U+D800>x") << "half a pair";
    EXPECT_EQ(displayName(QStringLiteral("cat\U0001F408")), QStringLiteral("cat\U0001F408"));
    EXPECT_EQ(displayName(QStringLiteral("\u05D0\u05D1:7b")),
              QStringLiteral("\u2068\u05D0\u05D1:7b\u2069"));
}

TEST(DisplayName, LongNamesAndWordsAreCutInTheMiddle) {
    const QFontMetrics metrics(QApplication::font());
    const QString name = "head-" + QString(300, QLatin1Char('x')) + "-tail:8b";
    const QString shown = displayName(name, metrics, 200);
    EXPECT_LE(metrics.horizontalAdvance(shown), 200);
    EXPECT_TRUE(shown.startsWith("head-") && shown.endsWith("-tail:8b")) << shown.toStdString();

    const QString alert = views::displayMessage("Cannot remove '" + name + "':  error 500 ", 40);
    EXPECT_TRUE(alert.startsWith("Cannot remove 'head-")) << alert.toStdString();
    EXPECT_TRUE(alert.endsWith("-tail:8b':  error 500 ")) << alert.toStdString();
    EXPECT_LE(alert.size(), 80);
}

TEST(ModelMenu, ManyModelsGiveAShortMenuThatFiltersAsYouType) {
    ModelMenu menu(250);
    QStringList chosen;
    QObject::connect(&menu, &ModelMenu::modelChosen, [&](const QString& id) { chosen << id; });
    QList<ChatModel> models;
    for (int i = 0; i < 10000; ++i) {
        const QString name = QStringLiteral("model-%1:latest").arg(i);
        models << ChatModel{name, name, {}, 1, {}, {}, {}, {}};
    }
    menu.setModels(models);
    const auto open = [&] {
        menu.popup(QPoint(0, 0));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    };
    const auto listed = [&] {
        QStringList names;
        for (const QAction* action : menu.modelActions()) names << action->text();
        return names;
    };

    // "Manage Models" first, the filter field, the first models and how many more.
    ASSERT_NE(menu.filterField(), nullptr);
    EXPECT_EQ(menu.actions().first(), menu.manageAction());
    EXPECT_EQ(menu.modelActions().size(), ModelMenu::listedLimit);
    EXPECT_EQ(menu.actions().last()->text(), "9,975 more: type to narrow the list");
    open();
    EXPECT_EQ(menu.width(), 250);
    EXPECT_LE(menu.height(), menu.screen()->availableGeometry().height());
    EXPECT_TRUE(menu.filterField()->hasFocus());

    // Return takes the first match and closes the menu.
    QTest::keyClicks(menu.filterField(), "model-999");
    EXPECT_EQ(listed().size(), 11);  // 999 and 9990 to 9999
    EXPECT_EQ(listed().first(), "model-999:latest");
    QTest::keyClick(menu.filterField(), Qt::Key_Return);
    EXPECT_EQ(chosen, QStringList{"model-999:latest"});
    EXPECT_FALSE(menu.isVisible());

    // It opens on the whole list again. Down moves into the list, typing goes on in the
    // field wherever the focus is, Return takes the highlighted model.
    open();
    EXPECT_EQ(menu.filterField()->text(), "");
    QTest::keyClicks(menu.filterField(), "-12");
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    QTest::keyClick(&menu, Qt::Key_3);
    EXPECT_EQ(menu.filterField()->text(), "-123");
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    ASSERT_EQ(menu.activeAction(), menu.modelActions().value(1));
    QTest::keyClick(&menu, Qt::Key_Return);
    EXPECT_EQ(chosen.last(), "model-1230:latest");

    open();
    QTest::keyClicks(menu.filterField(), "no such model");
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(menu.actions().last()->text(), "No model matches");
    QTest::keyClick(menu.filterField(), Qt::Key_Return);  // nothing to choose
    EXPECT_EQ(chosen.size(), 2);
}

TEST(ModelStateText, ProcessorShareAndExpiryAreSaidAsOllamasCommandLineSaysThem) {
    const QDateTime now(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC);
    RunningModel running{"m", "", 1000, 1000, 4096, now.addSecs(299)};
    EXPECT_EQ(views::processorShare(running), "100% GPU");
    running.sizeVram = 0;
    EXPECT_EQ(views::processorShare(running), "100% CPU");
    running.sizeVram = 520;
    EXPECT_EQ(views::processorShare(running), "48%/52% CPU/GPU");
    running.sizeVram = 1001;
    EXPECT_EQ(views::processorShare(running), "") << "more on the GPU than in all: unknown";

    running.sizeVram = 1000;
    EXPECT_EQ(views::expiryText(running, now), "unloads in 5 min");
    EXPECT_EQ(views::expiryText(running, now.addSecs(250)), "unloads in under a minute");
    EXPECT_EQ(views::expiryText(running, now.addSecs(300)), "unloading");
    running.expiresAt = now.addSecs(3 * 3600);
    EXPECT_EQ(views::expiryText(running, now), "unloads in 3 h");
    running.expiresAt = QDateTime(QDate(2318, 1, 1), QTime(0, 0), Qt::UTC);  // keep_alive -1
    EXPECT_EQ(views::expiryText(running, now), "stays loaded");
    running.expiresAt = QDateTime();
    EXPECT_EQ(views::memoryLine(running, now), "1,000 bytes \u00B7 100% GPU");
}

TEST(ModelStateText, ContextLengthsAndCapabilitiesInShortAndInFull) {
    EXPECT_EQ(views::shortContext(131072), "128K context");
    EXPECT_EQ(views::shortContext(40960), "40K context");
    EXPECT_EQ(views::shortContext(0), "");
    EXPECT_EQ(views::fullContext(131072), "131,072 tokens");

    ModelDetails details;
    details.capabilities = {"tools", "completion", "insert", "vision"};
    EXPECT_EQ(views::capabilityMarks(details), "") << "the server did not say";
    details.capabilitiesKnown = true;
    EXPECT_EQ(views::capabilityMarks(details), "vision \u00B7 tools");
    EXPECT_EQ(views::capabilityList(details), "Chat, vision, tools");
    details.capabilities = {"embedding"};
    EXPECT_EQ(views::capabilityMarks(details), "embedding only");
    EXPECT_EQ(views::capabilityList(details), "Embeddings only");
    const ModelState embedding{details, std::nullopt, false};
    EXPECT_FALSE(embedding.canChat());
    EXPECT_TRUE(ModelState{}.canChat()) << "not described yet: it may be chosen";
}

TEST(ModelMenu, TheLongMenuListsUnloadItemsAboveTheFilterField) {
    ModelMenu menu(250);
    QList<ChatModel> models;
    QHash<QString, ModelState> states;
    for (int i = 0; i < 40; ++i) {
        const QString name = QStringLiteral("model-%1:latest").arg(i);
        models << ChatModel{name, name, {}, 1, {}, {}, {}, {}};
    }
    states["model-30:latest"].running = RunningModel{"model-30:latest", "", 10, 10, 0, {}};
    menu.setModels(models);
    menu.setModelStates(states);
    QStringList unloads;
    QObject::connect(&menu, &ModelMenu::unloadRequested, [&](const QString& id) { unloads << id; });

    ASSERT_EQ(menu.unloadActions().size(), 1);
    QAction* unload = menu.unloadActions().first();
    const QList<QAction*> actions = menu.actions();
    EXPECT_LT(actions.indexOf(unload), actions.indexOf(menu.modelActions().first()));
    EXPECT_EQ(actions.first(), menu.manageAction());
    EXPECT_EQ(unload->data(), QVariant()) << "going through the items to choose one unloads none";
    unload->trigger();
    EXPECT_EQ(unloads, QStringList{"model-30:latest"});

    // Filtering keeps it; Return passes over a model that cannot chat.
    ModelDetails embedding;
    embedding.capabilitiesKnown = true;
    embedding.capabilities = {"embedding"};
    states["model-1:latest"].details = embedding;
    menu.setModelStates(states);
    QStringList chosen;
    QObject::connect(&menu, &ModelMenu::modelChosen, [&](const QString& id) { chosen << id; });
    menu.popup(QPoint(0, 0));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    QTest::keyClicks(menu.filterField(), "model-1");
    EXPECT_EQ(menu.unloadActions().size(), 1);
    ASSERT_FALSE(menu.modelActions().first()->isEnabled());
    QTest::keyClick(menu.filterField(), Qt::Key_Return);
    EXPECT_EQ(chosen, QStringList{"model-10:latest"});

    // The unloaded model's item goes once the states say so.
    menu.setModelStates({});
    EXPECT_TRUE(menu.unloadActions().isEmpty());
}

}  // namespace
}  // namespace parlote
