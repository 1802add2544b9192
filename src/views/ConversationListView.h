#pragma once

// The left pane of the main window: a heading, the fixed "New Conversation" entry and
// one row per saved conversation. The pane owns no conversation data: the owner passes
// the rows and the selection in, and receives selection changes, renames and confirmed
// deletions through the three signals.
//
// A click selects a row and never renames it. Renaming starts with F2, "Rename" in the
// row's context menu, a double-click on a title, or a click on the title of the row that
// is already selected (as in a file manager: that rename waits for the double-click
// interval, so that a double-click is not taken as two clicks). A rename under way ends,
// keeping the old title, when another conversation is selected.
//
// A row shows the conversation's title and, under it, the last message as plain text in
// up to two lines; assistive technology reads the title (with "pinned" for a pinned one)
// and then that text. Pinned conversations come first, under a header of their own; the
// row's context menu pins and unpins (reported through `pinRequested`).

#include <QList>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>
#include <optional>

#include "ChatRecords.h"

class QLabel;
class QLineEdit;
class QListView;
class QMessageBox;

namespace parlote {

namespace views_detail {
class SidebarModel;
class SidebarDelegate;
class SidebarList;
}  // namespace views_detail

class ConversationListView : public QWidget {
    Q_OBJECT
public:
    /// Height of every entry of the list, the new-conversation entry included, unless a
    /// conversation's last message takes two lines (the row is then as high as they need).
    static constexpr int rowHeight = 50;

    explicit ConversationListView(QWidget* parent = nullptr);
    ~ConversationListView() override;

    /// Replaces the rows (in list order). The selection and a rename under way are kept
    /// as long as their conversation is still in the list; nothing is reported.
    void setConversations(const QList<Conversation>& conversations);
    const QList<Conversation>& conversations() const;

    /// Selects an entry on the owner's behalf. A different value than the present one
    /// is a change of the selection and is reported through `selectionChanged`, except
    /// while the pane has not been shown yet (that value is the one present at first
    /// display). An id not in the list leaves no row highlighted.
    void setSelectedConversation(const SidebarID& id);
    const SidebarID& selectedConversation() const { return selected_; }

    /// Puts the title field over the row of `id` (a conversation in the list), moving a
    /// rename under way on another row there without reporting anything.
    void startRename(const SidebarID& id);
    /// Whether a click on the selected title has asked for a rename that has not started
    /// yet (it starts after the double-click interval, unless the selection changes).
    bool renameScheduled() const { return scheduledRename_.has_value(); }
    /// The conversation being renamed, if any, and its title field.
    std::optional<SidebarID> editingConversation() const { return editing_; }
    QLineEdit* titleEditor() const;

    /// Shows the delete confirmation for `id` (a conversation). The selection is not
    /// changed; "Delete" reports `deleteRequested(id)`, "Cancel" nothing.
    void askDelete(const SidebarID& id);
    /// The confirmation while it is open, otherwise null.
    QMessageBox* deleteConfirmation() const;

    QListView* listView() const;
    /// Where the title text of `id`'s row is drawn, in the list viewport's coordinates
    /// (empty when the row is not in the list). A click there on the selected row, or a
    /// double-click on any row, starts the rename.
    QRect titleTextRect(const SidebarID& id) const;

    /// Puts the search `field` at the top of the pane and `results` in place of the
    /// heading and the list while showSearchResults(true).
    void setSearch(QWidget* field, QWidget* results);
    void showSearchResults(bool shown);

signals:
    /// The selection changed (by the user or through `setSelectedConversation`).
    void selectionChanged(const parlote::SidebarID& id);
    /// Return in the title field: the conversation and the text exactly as typed.
    void renameRequested(const parlote::SidebarID& id, const QString& title);
    /// The user confirmed the deletion of a conversation.
    void deleteRequested(const parlote::SidebarID& id);
    /// "Pin" or "Unpin" in a row's context menu: the conversation and its new pin.
    void pinRequested(const parlote::SidebarID& id, bool pinned);

protected:
    void showEvent(QShowEvent* event) override;

private:
    friend class views_detail::SidebarList;

    int rowOf(const SidebarID& id) const;  // -1 when not in the list
    SidebarID idAt(int row) const;
    bool isConversationRow(int row) const;  // not the new-conversation entry nor a header
    void showSelection();                   // highlights `selected_` without reporting
    void listSelectionChanged();
    void scheduleRename(const SidebarID& id);
    void cancelScheduledRename();
    void openEditor();
    void closeEditor();
    void commitRename();
    void cancelRename();
    void closeRenameElsewhere();  // the rename ends when another conversation is selected
    QLineEdit* makeEditor(QWidget* parent);
    void showContextMenu(int row, const QPoint& globalPos);
    void deleteKeyPressed();

    views_detail::SidebarModel* model_;
    views_detail::SidebarDelegate* delegate_;
    views_detail::SidebarList* list_;
    QLabel* heading_;
    QWidget* searchResults_ = nullptr;

    SidebarID selected_ = SidebarID::newConversation();
    bool shown_ = false;
    bool syncing_ = false;  // the list's selection is being set from `selected_`

    std::optional<SidebarID> scheduledRename_;
    QTimer renameTimer_;

    std::optional<SidebarID> editing_;
    QString editingTitle_;
    QPointer<QLineEdit> editor_;

    std::optional<SidebarID> pendingDelete_;
    QPointer<QMessageBox> confirmation_;
};

}  // namespace parlote
