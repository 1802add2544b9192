#pragma once

// The rows of the conversation sidebar as a list model: row 0 is the fixed "New
// Conversation" entry, then the conversations as the sidebar shows them (pinnedFirst):
// while any is pinned, under a header "Pinned" and, for the rest, a header "Others";
// without pins, no header at all. Headers can be neither selected nor reached with the
// keyboard. The sidebar (ConversationListView) passes the conversations in; the model only
// serves their titles and last messages, the latter also as the plain text the sidebar
// shows (`previewText`).

#include <QAbstractListModel>
#include <QList>
#include <optional>
#include <vector>

#include "ChatRecords.h"

namespace parlote::views_detail {

class SidebarModel : public QAbstractListModel {
public:
    enum Role {
        /// The last message as stored.
        LastMessageRole = Qt::UserRole + 1,
        /// Its beginning as plain text (`previewText`).
        PreviewRole,
        /// What the row is (a RowKind).
        KindRole,
    };
    enum class RowKind { NewConversation, Header, Conversation };

    /// The text of row 0.
    static const QString newConversationText;
    /// The headers over the pinned conversations and over the others.
    static const QString pinnedHeaderText;
    static const QString othersHeaderText;

    /// The beginning of a last message as the sidebar shows it: plain text, one line per
    /// line the message has (blank lines left out), without a leading think block and
    /// without Markdown's marks: emphasis, headings, code marks and fences, quote and
    /// list markers, and links reduced to their text. Only the first few lines are made.
    static QString previewText(const QString& lastMessage);

    using QAbstractListModel::QAbstractListModel;

    /// The conversations as they were passed in (in the list's order, not the rows').
    const QList<Conversation>& conversations() const { return conversations_; }
    /// Replaces the rows: texts changing on the same conversations only update the rows,
    /// anything else (a pin included) resets the model.
    void setConversations(const QList<Conversation>& conversations);
    /// Whether `other` gives the same rows: the same conversations, pinned alike, in the
    /// same order.
    bool sameIds(const QList<Conversation>& other) const;

    RowKind kindOf(int row) const;
    /// The conversation shown in `row`; null for row 0, a header or a row not in the model.
    const Conversation* conversationAt(int row) const;
    /// The row of `id`: 0 for the new-conversation entry, -1 when not in the list.
    int rowOf(const SidebarID& id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // One row after row 0: a header (`shown` < 0, `header` its text) or shown_[shown].
    struct Row {
        qsizetype shown = -1;
        QString header;
    };

    QList<Conversation> conversations_;
    QList<Conversation> shown_;  // pinnedFirst(conversations_)
    // previewText of each shown conversation's last message, made when first asked for: a
    // list of thousands shows a few dozen rows at start-up.
    mutable std::vector<std::optional<QString>> previews_;
    const QString& previewOf(qsizetype shownRow) const;
    QList<Row> rows_;
};

}  // namespace parlote::views_detail
