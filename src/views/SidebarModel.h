#pragma once

// The rows of the conversation sidebar as a list model: row 0 is the fixed "New
// Conversation" entry, row i the conversation i - 1. The sidebar (ConversationListView)
// passes the conversations in; the model only serves their titles and last messages.

#include <QAbstractListModel>
#include <QList>

#include "ChatRecords.h"

namespace parlote::views_detail {

class SidebarModel : public QAbstractListModel {
public:
    enum Role { LastMessageRole = Qt::UserRole + 1 };

    /// The text of row 0.
    static const QString newConversationText;

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
};

}  // namespace parlote::views_detail
