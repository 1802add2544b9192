#pragma once

// Paints the rows of the conversation sidebar: the "New Conversation" entry centred, and
// for a conversation its title on top with the last message in up to two caption lines
// under it (as plain text, keeping the message's own line breaks). The row the keyboard
// is on is framed while the list has the focus. It also places the rename field over a
// row's title. Which row is being
// renamed, and the field itself, are the sidebar's: the delegate asks through the two
// functions it is given.

#include <QStyledItemDelegate>
#include <functional>

class QLineEdit;

namespace parlote::views_detail {

class SidebarDelegate : public QStyledItemDelegate {
public:
    /// Makes the title field inside `parent` for the row being renamed.
    using EditorFactory = std::function<QLineEdit*(QWidget* parent)>;
    /// Whether the title field is open over `row` (its title is then not painted).
    using EditingTest = std::function<bool(int row)>;

    SidebarDelegate(QObject* parent, EditorFactory makeEditor, EditingTest isEditing);

    /// The lines a preview (SidebarModel::previewText) is shown in at `width` pixels: at
    /// most two, the first broken between words when the message's first line is too
    /// long; the second ends in an ellipsis when anything is left out.
    static QStringList previewLines(const QString& preview, const QFont& font, int width);

    /// As wide as the list; `ConversationListView::rowHeight` high, or as high as the
    /// title and the preview's lines need.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override;
    // The field is filled once when the rename starts and then belongs to the user.
    void setEditorData(QWidget*, const QModelIndex&) const override {}
    void setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const override {}
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override;

    /// The part of the row the title text covers (what a click must hit to rename).
    QRect titleTextRect(const QRect& row, const QFont& font, const QString& titleText) const;

protected:
    // Return, Escape and leaving the field are handled by the sidebar itself; the default
    // handling would commit on focus loss.
    bool eventFilter(QObject*, QEvent*) override { return false; }

private:
    EditorFactory makeEditor_;
    EditingTest isEditing_;
};

}  // namespace parlote::views_detail
