#pragma once

// The rows of the conversation sidebar as a list model: row 0 is the fixed "New
// Conversation" entry, row i the conversation i - 1. The sidebar (ConversationListView)
// passes the conversations in; the model only serves their titles and last messages, the
// latter also as the plain text the sidebar shows (`previewText`).

#include <QAbstractListModel>
#include <QList>

#include "ChatRecords.h"

namespace parlote::views_detail {

class SidebarModel : public QAbstractListModel {
public:
    enum Role {
        /// The last message as stored.
        LastMessageRole = Qt::UserRole + 1,
        /// Its beginning as plain text (`previewText`).
        PreviewRole,
    };

    /// The text of row 0.
    static const QString newConversationText;

    /// The beginning of a last message as the sidebar shows it: plain text, one line per
    /// line the message has (blank lines left out), without a leading think block and
    /// without Markdown's marks: emphasis, headings, code marks and fences, quote and
    /// list markers, and links reduced to their text. Only the first few lines are made.
    static QString previewText(const QString& lastMessage);

    using QAbstractListModel::QAbstractListModel;

    const QList<Conversation>& conversations() const { return conversations_; }
    /// Replaces the rows: texts changing on the same conversations only update the rows,
    /// anything else resets the model.
    void setConversations(const QList<Conversation>& conversations);
    /// Whether `other` holds the same conversations, in the same order.
    bool sameIds(const QList<Conversation>& other) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<Conversation> conversations_;
    QStringList previews_;  // previewText of each conversation's last message
};

}  // namespace parlote::views_detail
