// The conversation sidebar as a user works it: selecting rows, renaming in place (F2, a
// double-click, a click on the selected title, the context menu) and deleting through the
// context menu or the Delete key; pinned conversations first under their header; the last
// message's preview in up to two plain lines, what assistive technology reads and the focus
// frame.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAccessible>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <utility>

#include "ConversationListView.h"
#include "SidebarDelegate.h"
#include "SidebarModel.h"
#include "TestPalettes.h"
#include "ViewFonts.h"

namespace parlote {
namespace {

using views_detail::SidebarDelegate;
using views_detail::SidebarModel;

Conversation conversation(const QString& title, const QString& lastMessage = {}) {
    return Conversation(SidebarID::conversation(QUuid::createUuid()), title, lastMessage);
}

class Sidebar : public ::testing::Test {
protected:
    void SetUp() override {
        rows = {conversation("Rust lifetimes", "They are scopes."), conversation("Trip to Lyon"),
                conversation("Sourdough", "Feed the starter twice a day."),
                conversation("Haiku", "Old pond")};
        view.setConversations(rows);
        view.resize(260, 400);
        QObject::connect(&view, &ConversationListView::selectionChanged,
                         [this](const SidebarID& id) { selections << id; });
        QObject::connect(
            &view, &ConversationListView::renameRequested,
            [this](const SidebarID& id, const QString& t) { renames << std::pair(id, t); });
        QObject::connect(&view, &ConversationListView::deleteRequested,
                         [this](const SidebarID& id) { deletions << id; });
    }

    void show() {
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        view.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    }

    SidebarID id(int i) const { return rows[i].id(); }
    QWidget* viewport() const { return view.listView()->viewport(); }
    QRect rowRect(int listRow) const {
        return view.listView()->visualRect(view.listView()->model()->index(listRow, 0));
    }
    int highlightedRow() const {
        const QModelIndexList selected = view.listView()->selectionModel()->selectedRows();
        return selected.size() == 1 ? selected.first().row() : -1;
    }
    // A click on a conversation's row away from its title text (on the caption line).
    void clickRow(int i) {
        const QRect r = rowRect(i + 1);
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(r.right() - 10, r.bottom() - 6));
    }
    void clickNewConversation() {
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowRect(0).center());
    }
    void clickTitle(int i) {
        const QRect title = view.titleTextRect(id(i));
        ASSERT_FALSE(title.isEmpty());
        QTest::mouseClick(viewport(), Qt::LeftButton, {}, title.center());
    }
    // Press, release, double-click, release: what a double-click delivers.
    void doubleClickTitle(int i) {
        const QPoint at = view.titleTextRect(id(i)).center();
        QTest::mousePress(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(viewport(), Qt::LeftButton, {}, at);
    }
    // A click on the title of the selected row renames once the double-click interval
    // is over.
    void renameBySecondClick(int i) {
        clickTitle(i);
        ASSERT_TRUE(view.renameScheduled());
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.titleEditor() != nullptr; }));
        EXPECT_EQ(view.editingConversation(), id(i));
    }
    void retype(const QString& text) {
        QLineEdit* editor = view.titleEditor();
        ASSERT_NE(editor, nullptr);
        editor->selectAll();
        QTest::keyClicks(editor, text);
    }
    QMenu* openContextMenu(int listRow) {
        const QPoint pos = rowRect(listRow).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, pos, viewport()->mapToGlobal(pos));
        QCoreApplication::sendEvent(viewport(), &event);
        return view.listView()->findChild<QMenu*>();
    }
    void answerConfirmation(const QString& buttonText) {
        QMessageBox* box = view.deleteConfirmation();
        ASSERT_NE(box, nullptr);
        QAbstractButton* button = nullptr;
        for (QAbstractButton* b : box->buttons())
            if (b->text() == buttonText) button = b;
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        QCoreApplication::processEvents();
        EXPECT_EQ(view.deleteConfirmation(), nullptr);
    }

    QList<Conversation> rows;
    ConversationListView view;
    QList<SidebarID> selections;
    QList<std::pair<SidebarID, QString>> renames;
    QList<SidebarID> deletions;
};

TEST_F(Sidebar, ReportsEveryChangeOfTheSelectionButNotTheFirstValue) {
    view.setSelectedConversation(id(2));
    show();
    EXPECT_EQ(view.listView()->model()->index(0, 0).data().toString(), "New Conversation");
    EXPECT_EQ(highlightedRow(), 3);
    EXPECT_TRUE(selections.isEmpty());

    clickRow(1);
    clickRow(1);  // the same row again
    QTest::mouseClick(viewport(), Qt::LeftButton, Qt::ControlModifier, rowRect(2).center());
    EXPECT_EQ(highlightedRow(), 2) << "Ctrl+click must not leave the sidebar without a selection";
    EXPECT_EQ(selections, QList<SidebarID>{id(1)});

    clickNewConversation();
    view.listView()->setFocus();
    QTest::keyClick(view.listView(), Qt::Key_Down);
    view.setSelectedConversation(id(3));  // from the owner
    view.setSelectedConversation(id(3));  // the owner echoing it back
    EXPECT_EQ(selections, (QList<SidebarID>{id(1), SidebarID::newConversation(), id(0), id(3)}));
    EXPECT_EQ(highlightedRow(), 4);
    EXPECT_TRUE(renames.isEmpty());
}

TEST_F(Sidebar, NewRowsKeepTheSelectionAndARenameWithItsTypedText) {
    show();
    const SidebarID lyon = id(1);
    doubleClickTitle(1);
    retype("Lyon in May");
    selections.clear();
    rows.prepend(conversation("Arrived meanwhile"));
    rows[3].setTitle("Sourdough, renamed");
    view.setConversations(rows);
    EXPECT_EQ(highlightedRow(), 3);  // the edited row was selected by the double-click
    EXPECT_EQ(view.listView()->model()->index(4, 0).data().toString(), "Sourdough, renamed");
    ASSERT_NE(view.titleEditor(), nullptr);
    EXPECT_EQ(view.titleEditor()->text(), "Lyon in May");
    EXPECT_TRUE(rowRect(3).contains(view.titleEditor()->geometry()));
    QTest::keyClick(view.titleEditor(), Qt::Key_Return);
    EXPECT_EQ(renames, (QList<std::pair<SidebarID, QString>>{{lyon, "Lyon in May"}}));

    rows.removeAt(2);  // Lyon, deleted elsewhere: nothing highlighted until the owner says
    view.setConversations(rows);
    EXPECT_EQ(highlightedRow(), -1);
    EXPECT_TRUE(selections.isEmpty());
}

TEST_F(Sidebar, AClickSelectsAndNeverRenamesTheRowItSelects) {
    show();
    clickTitle(0);  // the title of a row not selected yet
    EXPECT_EQ(highlightedRow(), 1);
    EXPECT_EQ(selections, QList<SidebarID>{id(0)});
    EXPECT_FALSE(view.renameScheduled());
    EXPECT_EQ(view.titleEditor(), nullptr);

    // Beside the selected title, or on the selected row's caption: still no rename.
    const QRect title = view.titleTextRect(id(0));
    QTest::mouseClick(viewport(), Qt::LeftButton, {},
                      QPoint(title.right() + 20, title.center().y()));
    clickRow(0);
    EXPECT_FALSE(view.renameScheduled());

    // A click on another row cancels a rename asked for by a click on the selected title.
    clickTitle(0);
    EXPECT_TRUE(view.renameScheduled());
    clickTitle(2);
    EXPECT_FALSE(view.renameScheduled());
    EXPECT_EQ(highlightedRow(), 3);
    EXPECT_EQ(view.titleEditor(), nullptr);
    EXPECT_TRUE(renames.isEmpty());
}

TEST_F(Sidebar, F2ADoubleClickOrASecondClickOnTheTitleRename) {
    show();
    // F2 on the selected row.
    clickRow(1);
    view.listView()->setFocus();
    QTest::keyClick(view.listView(), Qt::Key_F2);
    ASSERT_NE(view.titleEditor(), nullptr);
    EXPECT_EQ(view.editingConversation(), id(1));
    EXPECT_TRUE(view.titleEditor()->hasFocus());
    QTest::keyClick(view.titleEditor(), Qt::Key_Escape);
    EXPECT_EQ(view.titleEditor(), nullptr);
    EXPECT_TRUE(view.listView()->hasFocus()) << "the focus goes back to the list";

    // A double-click on a row not selected: selects it and renames at once, with no
    // second rename starting later.
    doubleClickTitle(3);
    EXPECT_EQ(highlightedRow(), 4);
    ASSERT_NE(view.titleEditor(), nullptr);
    EXPECT_EQ(view.editingConversation(), id(3));
    EXPECT_FALSE(view.renameScheduled());
    QTest::keyClick(view.titleEditor(), Qt::Key_Escape);

    // A slow second click on the selected row's title.
    renameBySecondClick(3);
    EXPECT_EQ(view.titleEditor()->text(), "Haiku");

    // The context menu's Rename, on a row that is not selected.
    QTest::keyClick(view.titleEditor(), Qt::Key_Escape);
    QMenu* menu = openContextMenu(1);
    ASSERT_NE(menu, nullptr);
    menu->actions()[1]->trigger();
    menu->close();
    EXPECT_EQ(view.editingConversation(), id(0));
    EXPECT_EQ(highlightedRow(), 1) << "the row being renamed is the selected one";
    EXPECT_TRUE(renames.isEmpty());
}

TEST_F(Sidebar, ReturnCommitsAsTypedEscapeCancels) {
    show();
    doubleClickTitle(0);
    QLineEdit* editor = view.titleEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(editor->text(), "Rust lifetimes");
    EXPECT_EQ(editor->placeholderText(), "Title");
    retype("  Borrowing ");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_EQ(view.titleEditor(), nullptr);

    doubleClickTitle(1);
    view.titleEditor()->selectAll();
    QTest::keyClick(view.titleEditor(), Qt::Key_Backspace);
    QTest::keyClick(view.titleEditor(), Qt::Key_Return);
    EXPECT_EQ(renames,
              (QList<std::pair<SidebarID, QString>>{{id(0), "  Borrowing "}, {id(1), ""}}));

    doubleClickTitle(2);
    retype("Rye");
    QTest::keyClick(view.titleEditor(), Qt::Key_Escape);
    EXPECT_EQ(view.editingConversation(), std::nullopt);
    EXPECT_EQ(view.titleEditor(), nullptr);
    EXPECT_EQ(renames.size(), 2);
    renameBySecondClick(2);  // starts again from the title, not from the abandoned text
    EXPECT_EQ(view.titleEditor()->text(), "Sourdough");
}

TEST_F(Sidebar, RenamingAnotherRowAbandonsTheFirst) {
    show();
    doubleClickTitle(0);
    retype("changed");
    doubleClickTitle(3);
    EXPECT_EQ(view.editingConversation(), id(3));
    EXPECT_EQ(view.titleEditor()->text(), "Haiku");
    int visibleFields = 0;
    for (QLineEdit* field : view.listView()->findChildren<QLineEdit*>())
        visibleFields += field->isVisible();
    EXPECT_EQ(visibleFields, 1);
    QTest::keyClick(view.titleEditor(), Qt::Key_Return);
    EXPECT_EQ(renames, (QList<std::pair<SidebarID, QString>>{{id(3), "Haiku"}}));
}

TEST_F(Sidebar, ContextMenuDeleteAsksFirstAndKeepsTheSelection) {
    show();
    QMenu* menu = openContextMenu(2);
    ASSERT_NE(menu, nullptr);
    ASSERT_EQ(menu->actions().size(), 3);
    EXPECT_EQ(menu->actions()[0]->text(), "Pin");
    EXPECT_EQ(menu->actions()[1]->text(), "Rename");
    EXPECT_EQ(menu->actions()[2]->text(), "Delete");
    menu->actions()[2]->trigger();
    menu->close();

    QMessageBox* box = view.deleteConfirmation();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowTitle(), "Delete Conversation");
    EXPECT_EQ(
        box->text(),
        "Are you sure you want to delete this conversation? You can undo this for a few seconds.");
    QStringList buttons;
    for (QAbstractButton* b : box->buttons())
        buttons << b->text() + ":" + QString::number(box->buttonRole(b));
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{"Cancel:" + QString::number(QMessageBox::RejectRole),
                                    "Delete:" + QString::number(QMessageBox::DestructiveRole)}));
    EXPECT_TRUE(deletions.isEmpty());

    answerConfirmation("Delete");
    EXPECT_EQ(deletions, QList<SidebarID>{id(1)});
    EXPECT_TRUE(selections.isEmpty());
    EXPECT_EQ(highlightedRow(), 0);
}

TEST_F(Sidebar, CancelDoesNothingAndTheNewConversationEntryCannotBeDeleted) {
    show();
    EXPECT_EQ(openContextMenu(0), nullptr);
    view.listView()->setFocus();
    QTest::keyClick(view.listView(), Qt::Key_Delete);  // "New Conversation" is selected
    EXPECT_EQ(view.deleteConfirmation(), nullptr);

    clickRow(0);
    openContextMenu(4)->actions()[2]->trigger();
    answerConfirmation("Cancel");
    view.listView()->setFocus();
    QTest::keyClick(view.listView(), Qt::Key_Delete);  // asks about the selected row
    QTest::keyClick(view.deleteConfirmation(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(view.deleteConfirmation(), nullptr);
    EXPECT_TRUE(deletions.isEmpty());

    QTest::keyClick(view.listView(), Qt::Key_Delete);
    answerConfirmation("Delete");
    EXPECT_EQ(deletions, QList<SidebarID>{id(0)});
    EXPECT_EQ(highlightedRow(), 1);
}

TEST(SidebarPreview, ShowsPlainTextWithTheMessagesOwnLines) {
    EXPECT_EQ(SidebarModel::previewText("First line\n\n\nSecond line  \nThird"),
              "First line\nSecond line\nThird");
    EXPECT_EQ(SidebarModel::previewText(
                  "## Plan\n- **Pack** the `tent`\n2. Read [the map](https://example.org/map)"),
              "Plan\nPack the tent\nRead the map");
    EXPECT_EQ(SidebarModel::previewText("> quoted *words* and __strong__ ~~gone~~\n---\nafter"),
              "quoted words and strong gone\nafter");
    EXPECT_EQ(SidebarModel::previewText("```cpp\nint x = a_b * c;\n```\nDone"),
              "int x = a_b * c;\nDone")
        << "code keeps its characters; the fence goes";
    EXPECT_EQ(SidebarModel::previewText("2 * 3 * 4 in snake_case_names"),
              "2 * 3 * 4 in snake_case_names");
    EXPECT_EQ(SidebarModel::previewText("<think>Weighing it.\n**Hmm**</think>\n\nThe *answer*"),
              "The answer");
    EXPECT_EQ(SidebarModel::previewText("<think>still thinking"), "");
    EXPECT_EQ(SidebarModel::previewText("1\n2\n3\n4\n5"), "1\n2\n3") << "only what can show";
}

TEST(SidebarPreview, TakesAtMostTwoLinesAndMarksWhatIsLeftOut) {
    const QFont font = views::captionFont(QFont());
    const int width = QFontMetrics(font).horizontalAdvance("Pack the tent and the stove") + 4;
    EXPECT_EQ(SidebarDelegate::previewLines("Pack the tent\nand the stove", font, width),
              (QStringList{"Pack the tent", "and the stove"}));
    EXPECT_EQ(SidebarDelegate::previewLines("One", font, width), QStringList{"One"});
    EXPECT_EQ(SidebarDelegate::previewLines("", font, width), QStringList{});

    const QStringList cut = SidebarDelegate::previewLines("One\nTwo\nThree", font, width);
    EXPECT_EQ(cut, (QStringList{"One", QString("Two") + QChar(0x2026)})) << "a third line is cut";

    // A first line too long for one line goes on in the second, and is cut there.
    const QString longLine = QString("word ").repeated(40).trimmed();
    const QStringList wrapped = SidebarDelegate::previewLines(longLine + "\nNext", font, width);
    ASSERT_EQ(wrapped.size(), 2);
    EXPECT_TRUE(longLine.startsWith(wrapped[0]));
    EXPECT_TRUE(wrapped[1].endsWith(QChar(0x2026)));
    for (const QString& line : wrapped)
        EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), width);
}

TEST_F(Sidebar, ARowIsTallerOnlyWhenItsPreviewTakesTwoLines) {
    QFont font = view.font();
    font.setPixelSize(16);  // two caption lines under a title need more than 50 pixels
    view.setFont(font);
    rows[1].setLastMessage("Book the train\nand the hotel");
    rows[2].setLastMessage("");
    rows[3].setLastMessage("Old pond\n\nfrog jumps in\nsound of water");
    view.setConversations(rows);
    show();
    EXPECT_EQ(rowRect(0).height(), ConversationListView::rowHeight);
    EXPECT_EQ(rowRect(1).height(), ConversationListView::rowHeight) << "one line";
    EXPECT_EQ(rowRect(3).height(), ConversationListView::rowHeight) << "no message";
    const int twoLines = rowRect(2).height();
    EXPECT_GT(twoLines, ConversationListView::rowHeight);
    EXPECT_GE(twoLines, QFontMetrics(views::headlineFont(font)).height() +
                            2 * QFontMetrics(views::captionFont(font)).lineSpacing());
    EXPECT_EQ(rowRect(4).height(), twoLines);

    // The stored message is not changed by what is shown.
    const QModelIndex haiku = view.listView()->model()->index(4, 0);
    EXPECT_EQ(haiku.data(SidebarModel::LastMessageRole).toString(),
              "Old pond\n\nfrog jumps in\nsound of water");
    EXPECT_EQ(haiku.data(SidebarModel::PreviewRole).toString(),
              "Old pond\nfrog jumps in\nsound of water");

    // A reply arriving in one line makes the row short again.
    rows[1].setLastMessage("Booked.");
    view.setConversations(rows);
    EXPECT_EQ(rowRect(2).height(), ConversationListView::rowHeight);
}

TEST_F(Sidebar, ARenameUnderWayEndsWithTheOldTitleWhenAnotherConversationOpens) {
    show();
    doubleClickTitle(1);
    retype("Lyon in May");
    view.setSelectedConversation(id(2));  // opened from elsewhere (a command, the model)
    EXPECT_EQ(view.titleEditor(), nullptr);
    EXPECT_EQ(view.editingConversation(), std::nullopt);
    EXPECT_EQ(view.listView()->model()->index(2, 0).data().toString(), "Trip to Lyon");

    doubleClickTitle(0);
    retype("Borrowing");
    clickRow(3);  // a click on another row
    EXPECT_EQ(view.titleEditor(), nullptr);
    EXPECT_EQ(highlightedRow(), 4);
    EXPECT_TRUE(renames.isEmpty());

    // The owner echoing the selection of the row being renamed leaves the field open.
    doubleClickTitle(2);
    view.setSelectedConversation(id(2));
    EXPECT_EQ(view.editingConversation(), id(2));
}

TEST_F(Sidebar, RowsReadAsTitleAndLastMessage) {
    rows[0].setLastMessage("They are **scopes**.\nNot `types`.");
    view.setConversations(rows);
    show();
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(view.listView());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->text(QAccessible::Name), "Conversations");
    EXPECT_TRUE(list->text(QAccessible::Description).contains("F2"));
    QStringList read;
    for (int i = 0; i < list->childCount(); ++i) {
        QAccessibleInterface* row = list->child(i);
        if (row && row->role() != QAccessible::ColumnHeader &&
            row->role() != QAccessible::RowHeader)
            read << row->text(QAccessible::Name) + " | " + row->text(QAccessible::Description);
    }
    ASSERT_EQ(read.size(), 5);
    EXPECT_EQ(read[0], "New Conversation | Starts a new conversation");
    EXPECT_EQ(read[1], "Rust lifetimes | They are scopes. Not types.");
    EXPECT_EQ(read[2], "Trip to Lyon | ");

    view.startRename(id(1));
    ASSERT_NE(view.titleEditor(), nullptr);
    QAccessibleInterface* field = QAccessible::queryAccessibleInterface(view.titleEditor());
    EXPECT_EQ(field->text(QAccessible::Name), "Title");
    EXPECT_FALSE(field->text(QAccessible::Description).isEmpty());
}

TEST_F(Sidebar, PinnedConversationsComeFirstUnderHeadersTheKeyboardWalksPast) {
    QList<SidebarID> pins;
    QList<bool> pinValues;
    QObject::connect(&view, &ConversationListView::pinRequested,
                     [&](const SidebarID& pinned, bool value) {
                         pins << pinned;
                         pinValues << value;
                     });
    rows[2].setPinned(true);  // Sourdough
    rows[3].setPinned(true);  // Haiku
    view.setConversations(rows);
    view.setSelectedConversation(id(3));
    show();
    const QAbstractItemModel* model = view.listView()->model();
    QStringList shown;
    for (int row = 0; row < model->rowCount(); ++row)
        shown << model->index(row, 0).data().toString();
    EXPECT_EQ(shown, QStringList({"New Conversation", "Pinned", "Sourdough", "Haiku", "Others",
                                  "Rust lifetimes", "Trip to Lyon"}));
    EXPECT_EQ(highlightedRow(), 3) << "the selection follows its conversation";
    EXPECT_EQ(model->flags(model->index(1, 0)), Qt::NoItemFlags);
    EXPECT_EQ(model->index(2, 0).data(Qt::AccessibleTextRole).toString(), "Sourdough, pinned");
    EXPECT_EQ(model->index(5, 0).data(Qt::AccessibleTextRole).toString(), "Rust lifetimes");
    EXPECT_LT(rowRect(1).height(), rowRect(2).height()) << "a header is a small row";

    // The arrow keys step over the headers; a click on one selects nothing.
    view.setSelectedConversation(SidebarID::newConversation());
    view.listView()->setFocus();
    QTest::keyClick(view.listView(), Qt::Key_Down);
    EXPECT_EQ(view.selectedConversation(), id(2));
    QTest::keyClick(view.listView(), Qt::Key_Down);
    QTest::keyClick(view.listView(), Qt::Key_Down);
    EXPECT_EQ(view.selectedConversation(), id(0));
    QTest::keyClick(view.listView(), Qt::Key_Up);
    EXPECT_EQ(view.selectedConversation(), id(3));
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, rowRect(4).center());
    EXPECT_EQ(view.selectedConversation(), id(3));
    EXPECT_EQ(openContextMenu(1), nullptr);

    // A pinned row's menu unpins it, another row's pins it; F2 renames a pinned row.
    QMenu* menu = openContextMenu(3);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions()[0]->text(), "Unpin");
    menu->actions()[0]->trigger();
    menu->close();
    delete menu;
    menu = openContextMenu(6);
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions()[0]->text(), "Pin");
    menu->actions()[0]->trigger();
    menu->close();
    EXPECT_EQ(pins, QList<SidebarID>({id(3), id(1)}));
    EXPECT_EQ(pinValues, QList<bool>({false, true}));
    QTest::keyClick(view.listView(), Qt::Key_F2);
    EXPECT_EQ(view.editingConversation(), id(3));
    EXPECT_EQ(view.titleEditor()->text(), "Haiku");
    view.setSelectedConversation(id(3));

    // Without pins, no headers.
    rows[2].setPinned(false);
    rows[3].setPinned(false);
    view.setConversations(rows);
    EXPECT_EQ(model->rowCount(), 5);
    EXPECT_EQ(model->index(1, 0).data().toString(), "Rust lifetimes");
    EXPECT_EQ(highlightedRow(), 4);
}

TEST_F(Sidebar, TheSelectedRowIsFramedWhileTheListHasTheFocus) {
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        view.setPalette(dark ? testing::darkPalette() : QPalette());
        view.setSelectedConversation(id(1));
        show();
        const QRect row = rowRect(2);
        const QPoint onFrame(row.left() + 2, row.center().y());
        const QColor frame = view.palette().color(QPalette::HighlightedText);

        view.listView()->clearFocus();
        EXPECT_NE(viewport()->grab().toImage().pixelColor(onFrame), frame);
        view.listView()->setFocus();
        ASSERT_TRUE(view.listView()->hasFocus());
        EXPECT_EQ(viewport()->grab().toImage().pixelColor(onFrame), frame);
        EXPECT_NE(viewport()->grab().toImage().pixelColor(onFrame + QPoint(3, 0)), frame)
            << "a frame, not a filled row";
    }
}

}  // namespace
}  // namespace parlote
