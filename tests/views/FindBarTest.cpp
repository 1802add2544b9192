// Finding text in the open conversation: the bar under the transcript, what it finds (the
// text as shown, case and accents aside), the count, going from match to match with the
// keys, closing, the highlights, a far match in a long transcript brought into view with
// only its row laid out, and matches following a reply as it streams.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include "FindBar.h"
#include "FindText.h"
#include "ImageStore.h"
#include "TestPalettes.h"
#include "TranscriptView.h"

namespace parlote {
namespace {

const QDateTime kTime(QDate(2026, 1, 1), QTime(9, 0), Qt::UTC);

ChatMessage user(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::user, kTime);
}
ChatMessage reply(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::assistant, kTime);
}
ChatMessage error(const QString& text) {
    return ChatMessage(QUuid::createUuid(), text, ChatMessageType::error, kTime);
}

// The colours the matches are painted on in the light palette (TranscriptFind.cpp).
const QColor kMatch(255, 226, 80);
const QColor kCurrent(255, 150, 0);

class FindBarTest : public ::testing::Test {
protected:
    ImageStore images;  // keeps the view off the network
    // The transcript, the bar under it and the input box under both, as in the window.
    QWidget window;
    TranscriptView* view = new TranscriptView(&window, &images);
    FindBar* bar = new FindBar(view, &window);
    QLineEdit* input = new QLineEdit(&window);

    void SetUp() override {
        auto* column = new QVBoxLayout(&window);
        column->addWidget(view, 1);
        column->addWidget(bar);
        column->addWidget(input);
        window.addActions({bar->findAction(), bar->findNextAction(), bar->findPreviousAction()});
        bar->setFallbackFocus(input);
        window.resize(600, 500);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);
        input->setFocus();
    }

    QLineEdit* field() const { return bar->field(); }
    QString count() const { return bar->countLabel()->text(); }
    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(QApplication::focusWidget(), k, modifiers);
    }
    /// Opens the bar with Ctrl+F from wherever the keyboard is and types `text`.
    void find(const QString& text) {
        key(Qt::Key_F, Qt::ControlModifier);
        ASSERT_TRUE(bar->isVisible());
        ASSERT_TRUE(field()->hasFocus());
        QTest::keyClicks(field(), text);
    }
    QImage grab() {
        view->viewport()->repaint();
        return view->viewport()->grab().toImage();
    }
    /// Whether `colour` is painted in `area` of the viewport.
    static bool painted(const QImage& image, const QRect& area, const QColor& colour) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                if (image.valid(x, y) && image.pixelColor(x, y) == colour) return true;
        return false;
    }
    /// How many matches in view are painted in `colour`.
    int paintedMatches(const QColor& colour) {
        const QImage image = grab();
        int found = 0;
        for (int row = 0; row < view->rowCount(); ++row) {
            if (!view->rowRect(row).intersects(view->viewport()->rect())) continue;
            for (const QRect& r : view->findMatchRects(row)) found += painted(image, r, colour);
        }
        return found;
    }
};

TEST_F(FindBarTest, FoldingLeavesCaseAndAccentsAsideOneCharacterForOne) {
    using find::foldQuery;
    using find::foldText;
    EXPECT_EQ(foldText(u"Café CRÈME Ångström Ελληνικά"), "cafe creme angstrom ελληνικα");
    EXPECT_EQ(foldText(u"line\nbreak\ttab\u00A0nbsp"), "line break tab nbsp");
    // Letters of other scripts keep their marks; the length never changes.
    EXPECT_EQ(foldText(u"й ऩ"), u"й ऩ");
    EXPECT_EQ(foldText(u"Straße").size(), 6);
    const QString deseret = QString::fromUcs4(U"\U00010400x");  // a capital, two units
    EXPECT_EQ(foldText(deseret), QString::fromUcs4(U"\U00010428x"));
    // An accent typed on its own is left out of what is looked for.
    EXPECT_EQ(foldQuery(u"cafe\u0301"), "cafe");
    EXPECT_EQ(foldQuery(u"\u0301"), QString());
    EXPECT_EQ(find::countMatches(u"aaaa", u"aa"), 2) << "matches do not overlap";
    EXPECT_EQ(find::matchStarts(u"abcabc", u"bc"), (std::vector<qsizetype>{1, 4}));
}

TEST_F(FindBarTest, TypingFindsTheTextAsShownInEveryMessageAndCountsIt) {
    MessageList list;
    list.append(user("Why is the sky blue?"));
    list.append(
        reply("The sky looks **Blue** because of [Rayleigh](https://blue.example.com) "
              "scattering.\n\n- blue light scatters most\n\n```\nBLUE = 1\n```"));
    list.append(user("And at the café?"));
    list.append(reply("<think>Is the sky blue there too?</think>\n\nThe *same* as anywhere."));
    list.append(error("Could not reach the model: **blue** timeout"));
    view->setMessages(list);
    EXPECT_FALSE(bar->isVisible()) << "closed until asked for";
    EXPECT_EQ(count(), "");

    find("blue");
    // In the question, in the reply's bold text, list and code, and in the error; not in the
    // link's address, which does not show, nor in the reasoning, which is not the answer.
    EXPECT_EQ(view->findMatchCount(), 5);
    EXPECT_EQ(count(), "1 of 5");
    EXPECT_EQ(view->currentFindRow(), 0) << "the first match from the top of the view";
    EXPECT_EQ(view->findMatchRects(1).size(), 3u);
    EXPECT_EQ(view->findMatchRects(3).size(), 0u);
    EXPECT_EQ(view->findMatchRects(4).size(), 1u);
    EXPECT_EQ(paintedMatches(kCurrent), 1);
    EXPECT_EQ(paintedMatches(kMatch), 4);

    // Accents do not matter either way; the Markdown syntax is not in the text.
    field()->setText("cafe");
    EXPECT_EQ(count(), "1 of 1");
    EXPECT_EQ(view->currentFindRow(), 2);
    field()->setText("CAFÉ");
    EXPECT_EQ(count(), "1 of 1");
    field()->setText("**");
    EXPECT_EQ(count(), "1 of 2") << "only in the error, which shows its text as written";
    EXPECT_EQ(view->currentFindRow(), 4);
    EXPECT_EQ(paintedMatches(kCurrent), 1);
    EXPECT_EQ(paintedMatches(kMatch), 1);
    field()->setText("example.com");
    EXPECT_EQ(count(), "No matches");
    // Words across a line break are found with a space between them, a list's marker too.
    field()->setText("scattering. • blue");
    EXPECT_EQ(count(), "1 of 1");
    EXPECT_EQ(view->findMatchRects(1).size(), 1u);
    EXPECT_EQ(paintedMatches(kCurrent), 1);
    field()->clear();
    EXPECT_EQ(count(), "") << "nothing while the field is empty";
    EXPECT_EQ(view->findMatchCount(), 0);
}

TEST_F(FindBarTest, ReturnAndF3GoToTheNextAndPreviousMatchAndGoRoundAtTheEnds) {
    MessageList list;
    list.append(user("one apple"));
    list.append(reply("two apples, and a third apple"));
    list.append(user("no fruit"));
    view->setMessages(list);
    find("apple");
    EXPECT_EQ(count(), "1 of 3");
    key(Qt::Key_Return);
    EXPECT_EQ(count(), "2 of 3");
    EXPECT_EQ(view->currentFindRow(), 1);
    key(Qt::Key_Return);
    EXPECT_EQ(count(), "3 of 3");
    key(Qt::Key_Return);
    EXPECT_EQ(count(), "1 of 3") << "past the last, the first";
    key(Qt::Key_Return, Qt::ShiftModifier);
    EXPECT_EQ(count(), "3 of 3") << "before the first, the last";
    key(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(count(), "1 of 3");

    // F3 and Shift+F3 anywhere in the window.
    input->setFocus();
    key(Qt::Key_F3);
    EXPECT_EQ(count(), "2 of 3");
    view->setFocus();
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(count(), "1 of 3");
    key(Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(count(), "3 of 3");
    key(Qt::Key_F3);
    EXPECT_EQ(count(), "1 of 3");
    // The buttons do the same.
    bar->nextButton()->click();
    EXPECT_EQ(count(), "2 of 3");
    bar->previousButton()->click();
    EXPECT_EQ(count(), "1 of 3");
    EXPECT_EQ(paintedMatches(kCurrent), 1);

    // Without a match they do nothing and are greyed.
    field()->setText("pear");
    EXPECT_EQ(count(), "No matches");
    EXPECT_FALSE(bar->nextButton()->isEnabled());
    key(Qt::Key_Return);
    EXPECT_EQ(count(), "No matches");
}

TEST_F(FindBarTest, EscapeClosesTheBarTakesTheHighlightsAwayAndGivesTheKeyboardBack) {
    MessageList list;
    list.append(user("a red balloon"));
    list.append(reply("Red is a colour; red again."));
    view->setMessages(list);

    // From the input box, back to the input box.
    find("red");
    EXPECT_EQ(count(), "1 of 3");
    EXPECT_EQ(paintedMatches(kMatch), 2);
    const std::vector<QRect> matches = view->findMatchRects(1);
    key(Qt::Key_Escape);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(input->hasFocus());
    EXPECT_EQ(view->findMatchCount(), 0);
    EXPECT_TRUE(view->findText().isEmpty());
    const QImage image = grab();
    for (const QRect& r : matches) {
        EXPECT_FALSE(painted(image, r, kMatch));
        EXPECT_FALSE(painted(image, r, kCurrent));
    }

    // Opened again, the text is still there, selected, and found again.
    key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(field()->hasFocus());
    EXPECT_EQ(field()->selectedText(), "red");
    EXPECT_EQ(count(), "1 of 3");
    // Ctrl+F in the open bar selects the text again.
    field()->deselect();
    key(Qt::Key_F, Qt::ControlModifier);
    EXPECT_EQ(field()->selectedText(), "red");
    bar->closeButton()->click();
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(input->hasFocus());

    // From the transcript, back to the transcript; a widget gone meanwhile hands the
    // keyboard to the input box.
    view->setFocus();
    find("balloon");
    key(Qt::Key_Escape);
    EXPECT_TRUE(view->hasFocus());
    auto* other = new QLineEdit(&window);
    window.layout()->addWidget(other);
    other->show();
    other->setFocus();
    ASSERT_TRUE(other->hasFocus());
    find("balloon");
    delete other;
    key(Qt::Key_Escape);
    EXPECT_TRUE(input->hasFocus());

    // F3 while the bar is closed opens it with the text looked for again.
    key(Qt::Key_F3);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(count(), "1 of 1");
}

TEST_F(FindBarTest, TheBarAndItsCountAreReadByScreenReaders) {
    MessageList list;
    list.append(user("first word"));
    list.append(reply("second word"));
    view->setMessages(list);
    find("word");
    EXPECT_EQ(bar->accessibleName(), "Find in conversation");
    QAccessibleInterface* fieldItem = QAccessible::queryAccessibleInterface(field());
    ASSERT_NE(fieldItem, nullptr);
    EXPECT_EQ(fieldItem->text(QAccessible::Name), "Find in conversation");
    EXPECT_EQ(fieldItem->text(QAccessible::Description), "1 of 2");
    key(Qt::Key_Return);
    EXPECT_EQ(fieldItem->text(QAccessible::Description), "2 of 2");
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(bar->countLabel());
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(QAccessible::Name), "2 of 2");
    for (QToolButton* button : {bar->previousButton(), bar->nextButton(), bar->closeButton()})
        EXPECT_FALSE(button->accessibleName().isEmpty());
}

TEST_F(FindBarTest, AFarMatchInTenThousandMessagesIsBroughtIntoViewLayingOutOnlyItsRow) {
    MessageList list;
    for (int i = 0; i < 10'000; ++i)
        list.append(i % 2 ? reply(QStringLiteral("Answer *%1* with some **words** in it").arg(i))
                          : user(QStringLiteral("Question %1").arg(i)));
    const int far = 1'234;
    list.replace(far, reply("The answer is in **Zanzibar**, far up."));
    list.replace(8'000, user("zanzibar again"));
    view->openTranscript(list);
    view->viewport()->repaint();
    const int laidOut = view->laidOutRowCount();
    ASSERT_LT(laidOut, 40);

    find("zanzibar");
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->findMatchCount() == 2; }));
    EXPECT_FALSE(view->isFindSearching());
    // The view was at the end: the first match from there is the first of all, going round.
    EXPECT_EQ(count(), "1 of 2");
    EXPECT_EQ(view->currentFindRow(), far);
    const QRect match = view->currentFindMatchRect();
    EXPECT_TRUE(view->viewport()->rect().contains(match)) << "in view";
    EXPECT_EQ(view->textRect(far, "Zanzibar"), match);
    EXPECT_FALSE(view->isFollowing());
    view->viewport()->repaint();
    // The row of the match and the rows around it, not the ten thousand.
    EXPECT_LT(view->laidOutRowCount(), 2 * laidOut + 2);
    EXPECT_EQ(paintedMatches(kCurrent), 1);

    key(Qt::Key_Return);
    EXPECT_EQ(view->currentFindRow(), 8'000);
    EXPECT_TRUE(view->viewport()->rect().contains(view->currentFindMatchRect()));
    EXPECT_LT(view->laidOutRowCount(), 3 * laidOut + 3);

    // Narrowing the text looks again only where it was found: at once.
    QTest::keyClick(field(), Qt::Key_Space);
    EXPECT_FALSE(view->isFindSearching());
    EXPECT_EQ(count(), "1 of 1");
    EXPECT_EQ(view->currentFindRow(), 8'000);
}

TEST_F(FindBarTest, MatchesFollowAStreamingReplyWithoutLosingTheCurrentOne) {
    MessageList list;
    list.append(user("Tell me about tides."));
    list.append(reply("Tides come from the moon."));
    list.append(user("More about the moon, please."));
    view->setMessages(list);
    view->setReplyInProgress(true);
    find("moon");
    EXPECT_EQ(count(), "1 of 2");
    key(Qt::Key_Return);
    EXPECT_EQ(count(), "2 of 2");
    const int current = view->currentFindRow();

    const ChatMessage placeholder = reply("");
    list.append(placeholder);
    QString text;
    bool searching = false;
    for (const QString chunk :
         {"The ", "pull of ", "the Mo", "on and ", "the sun ", "and the moon."}) {
        text += chunk;
        list.replace(3, placeholder.withContent(text));
        view->setMessages(list);
        searching = searching || view->isFindSearching();
        QTest::qWait(5);
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->findMatchCount() == 4; }));
    EXPECT_FALSE(searching) << "the count stays while the reply is looked through again";
    EXPECT_EQ(count(), "2 of 4") << "the current match stays";
    EXPECT_EQ(view->currentFindRow(), current);
    EXPECT_EQ(view->findMatchRects(3).size(), 2u);
    key(Qt::Key_Return);
    EXPECT_EQ(view->currentFindRow(), 3);
    EXPECT_EQ(count(), "3 of 4");

    // The reply asked for again: its matches go with it.
    list.replace(3, placeholder.withContent("Gravity."));
    view->setMessages(list);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->findMatchCount() == 2; }));
    EXPECT_EQ(count(), "2 matches") << "its match was current: none is now";
}

TEST_F(FindBarTest, AnotherConversationIsLookedThroughAgain) {
    MessageList first;
    first.append(user("a cat"));
    first.append(reply("the cat sat"));
    view->openTranscript(first);
    find("cat");
    EXPECT_EQ(count(), "1 of 2");
    MessageList second;
    second.append(user("cats and more cats"));
    second.append(reply("a catalogue of cats"));
    view->openTranscript(second);
    EXPECT_TRUE(QTest::qWaitFor([&] { return count() == "4 matches"; }));
    EXPECT_EQ(view->currentFindRow(), -1) << "no match current until the user moves";
    key(Qt::Key_Return);
    EXPECT_EQ(count(), "1 of 4");
}

TEST_F(FindBarTest, SelectingAndCopyingWorkOverTheHighlights) {
    MessageList list;
    list.append(user("select these words"));
    list.append(reply("the words here"));
    view->setMessages(list);
    find("words");
    view->setFocus();
    view->selectAll();
    EXPECT_EQ(view->selectedText(), "select these words\n\nthe words here");
    // The selection is painted over the matches.
    const QImage image = grab();
    EXPECT_TRUE(painted(image, view->findMatchRects(1).front(),
                        view->palette().color(QPalette::Highlight)));
    EXPECT_FALSE(painted(image, view->findMatchRects(1).front(), kMatch));
    // Escape in the transcript clears the selection, not the find.
    key(Qt::Key_Escape);
    EXPECT_FALSE(view->hasSelection());
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(paintedMatches(kMatch), 1);
}

TEST_F(FindBarTest, TheMatchesReadInTheDarkPalette) {
    window.setPalette(testing::darkPalette());
    MessageList list;
    list.append(user("night and night"));
    view->setMessages(list);
    find("night");
    const QColor darkMatch(120, 96, 0);
    EXPECT_EQ(paintedMatches(kCurrent), 1);
    EXPECT_EQ(paintedMatches(darkMatch), 1);
}

}  // namespace
}  // namespace parlote
