// Model names as the window shows them, and the model menu: '&' stays '&', invisible
// controls cannot make one name pass for another, long names are cut in the middle, and
// ten thousand models leave a short menu that filters as the user types.

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLineEdit>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include "DisplayName.h"
#include "ModelMenu.h"

namespace parlote {
namespace {

using views::displayMessage;
using views::displayName;

const QString rlo = QStringLiteral("\u202E");  // RIGHT-TO-LEFT OVERRIDE

// What a menu item or a button shows of `text`: '&' marks the next character as the
// shortcut, "&&" is a literal '&'.
QString shownByMnemonicWidget(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == QLatin1Char('&') && ++i == text.size()) break;
        shown += text.at(i);
    }
    return shown;
}

ChatModel model(const QString& name) {
    return ChatModel{name, name, QStringLiteral("sha256:00"), 1, "llama", "gguf", "8B", "Q4_0"};
}

QList<ChatModel> manyModels(int count) {
    QList<ChatModel> models;
    for (int i = 0; i < count; ++i) models << model(QStringLiteral("model-%1:latest").arg(i));
    return models;
}

TEST(DisplayName, InvisibleControlsShowAsTheirCodePoints) {
    EXPECT_EQ(displayName("llama3.2:latest"), "llama3.2:latest");
    EXPECT_EQ(displayName("fish&chips"), "fish&chips");
    // "gpt-" RLO "lave" would read "gpt-eval"; every bidi control and invisible character
    // is shown instead of acting.
    EXPECT_EQ(displayName("gpt-" + rlo + "lave"), "gpt-<U+202E>lave");
    EXPECT_EQ(displayName(QStringLiteral("a\u2066b\u2067c\u2068d\u2069e")),
              "a<U+2066>b<U+2067>c<U+2068>d<U+2069>e");
    EXPECT_EQ(displayName(QStringLiteral("a\u200Eb\u200Fc\u061Cd\u202Ae\u202Cf")),
              "a<U+200E>b<U+200F>c<U+061C>d<U+202A>e<U+202C>f");
    EXPECT_EQ(displayName(QStringLiteral("ll\u200Bama\nx\ty")), "ll<U+200B>ama<U+000A>x<U+0009>y");
    // A broken surrogate pair; a whole pair (an emoji) is kept.
    EXPECT_EQ(displayName(QString(QChar(0xD800)) + "x"), "<U+D800>x");
    EXPECT_EQ(displayName(QStringLiteral("cat\U0001F408")), QStringLiteral("cat\U0001F408"));
}

TEST(DisplayName, RightToLeftNamesAreIsolated) {
    const QString hebrew = QStringLiteral("\u05D0\u05D1:7b");
    EXPECT_EQ(displayName(hebrew), QStringLiteral("\u2068\u05D0\u05D1:7b\u2069"));
    EXPECT_EQ(displayName(QStringLiteral("\u0645\u0631\u062D\u0628\u0627") + rlo),
              QStringLiteral("\u2068\u0645\u0631\u062D\u0628\u0627<U+202E>\u2069"));
}

TEST(DisplayName, LongNamesAreCutInTheMiddle) {
    const QFontMetrics metrics(QApplication::font());
    const QString name = "head-" + QString(300, QLatin1Char('x')) + "-tail:8b";
    const QString shown = displayName(name, metrics, 200);
    EXPECT_LE(metrics.horizontalAdvance(shown), 200);
    EXPECT_TRUE(shown.startsWith("head-")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith("-tail:8b")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QStringLiteral("…")));
    EXPECT_EQ(displayName("short", metrics, 200), "short");

    // In an alert, long runs are cut; the spaces and the rest stay as they are.
    const QString message = "Unable to remove model '" + name + "':  error 500 ";
    const QString alert = displayMessage(message, 40);
    EXPECT_TRUE(alert.startsWith("Unable to remove model 'head-"));
    EXPECT_TRUE(alert.endsWith("-tail:8b':  error 500 "));
    EXPECT_LE(alert.size(), 80);
    EXPECT_EQ(displayMessage("Model 'a" + rlo + "b' failed"), "Model 'a<U+202E>b' failed");
}

class ModelMenuTest : public ::testing::Test {
protected:
    static constexpr int width = 250;
    ModelMenu menu{width};
    QStringList chosen;
    int manageRequests = 0;

    void SetUp() override {
        QObject::connect(&menu, &ModelMenu::modelChosen,
                         [this](const QString& id) { chosen << id; });
        QObject::connect(&menu, &ModelMenu::manageRequested, [this] { ++manageRequests; });
    }
    QStringList shownItems() const {
        QStringList texts;
        for (const QAction* action : menu.actions())
            if (!action->isSeparator() && !action->text().isEmpty())
                texts << shownByMnemonicWidget(action->text());
        return texts;
    }
    void open() {
        menu.popup(QPoint(0, 0));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    }
};

TEST_F(ModelMenuTest, ItemsShowNamesAsTheyAreAndFitTheWidth) {
    const QString longName = "family/" + QString(200, QLatin1Char('m')) + ":70b-instruct";
    menu.setModels({model("fish&chips"), model("gpt-" + rlo + "lave"), model(longName)});
    const QStringList shown = shownItems();
    ASSERT_EQ(shown.size(), 4);
    EXPECT_EQ(shown[0], "fish&chips");
    EXPECT_EQ(shown[1], "gpt-<U+202E>lave");
    EXPECT_TRUE(shown[2].startsWith("family/m")) << shown[2].toStdString();
    EXPECT_TRUE(shown[2].endsWith("70b-instruct")) << shown[2].toStdString();
    EXPECT_TRUE(shown[2].contains(QStringLiteral("…")));
    EXPECT_EQ(shown[3], "Manage Models");
    EXPECT_TRUE(menu.actions()[3]->isSeparator());
    EXPECT_LE(menu.sizeHint().width(), width) << "the long name is cut, not the menu widened";
    EXPECT_EQ(menu.filterField(), nullptr);

    menu.actions()[0]->trigger();
    menu.manageAction()->trigger();
    EXPECT_EQ(chosen, QStringList{"fish&chips"});
    EXPECT_EQ(manageRequests, 1);
}

TEST_F(ModelMenuTest, ManyModelsGiveAShortMenuThatFiltersAsYouType) {
    menu.setModels(manyModels(10000));
    // "Manage Models" first, then the filter field, then the first models.
    ASSERT_NE(menu.filterField(), nullptr);
    EXPECT_EQ(menu.actions().first(), menu.manageAction());
    EXPECT_EQ(menu.modelActions().size(), ModelMenu::listedLimit);
    EXPECT_LE(menu.actions().size(), ModelMenu::listedLimit + 4);
    EXPECT_EQ(shownItems().last(), "9,975 more: type to narrow the list");

    open();
    EXPECT_LE(menu.height(), menu.screen()->availableGeometry().height())
        << "the menu scrolls rather than overflows";
    EXPECT_EQ(menu.width(), width);
    EXPECT_TRUE(menu.filterField()->hasFocus());

    QTest::keyClicks(menu.filterField(), "model-999");
    QStringList expected{"Manage Models"};
    for (const char* name : {"model-999:latest", "model-9990:latest", "model-9991:latest"})
        expected << name;
    EXPECT_EQ(shownItems().mid(0, 4), expected);
    EXPECT_EQ(menu.modelActions().size(), 11);  // 999 and 9990 to 9999

    // Return takes the first model listed; the menu closes.
    QTest::keyClick(menu.filterField(), Qt::Key_Return);
    EXPECT_EQ(chosen, QStringList{"model-999:latest"});
    EXPECT_FALSE(menu.isVisible());

    // It opens on the whole list again. Down moves into the list, typing goes on in the
    // field wherever the focus is, and Return takes the highlighted model.
    open();
    EXPECT_EQ(menu.filterField()->text(), "");
    EXPECT_EQ(menu.modelActions().size(), ModelMenu::listedLimit);
    QTest::keyClicks(menu.filterField(), "-12");
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    QTest::keyClick(&menu, Qt::Key_3);
    EXPECT_EQ(menu.filterField()->text(), "-123");
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    QTest::keyClick(menu.filterField(), Qt::Key_Down);
    ASSERT_EQ(menu.activeAction(), menu.modelActions().value(1));
    QTest::keyClick(menu.activeAction() ? static_cast<QWidget*>(&menu) : menu.filterField(),
                    Qt::Key_Return);
    EXPECT_EQ(chosen.last(), "model-1230:latest");

    open();
    QTest::keyClicks(menu.filterField(), "no such model");
    EXPECT_TRUE(menu.modelActions().isEmpty());
    EXPECT_EQ(shownItems().last(), "No model matches");
    QTest::keyClick(menu.filterField(), Qt::Key_Return);  // nothing to choose
    EXPECT_EQ(chosen.size(), 2);
    menu.manageAction()->trigger();
    EXPECT_EQ(manageRequests, 1);
}

}  // namespace
}  // namespace parlote
