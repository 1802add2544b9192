#include "SidebarModel.h"

namespace parlote::views_detail {

const QString SidebarModel::newConversationText = QStringLiteral("New Conversation");

void SidebarModel::setConversations(const QList<Conversation>& conversations) {
    if (sameIds(conversations)) {
        conversations_ = conversations;
        if (!conversations_.isEmpty()) emit dataChanged(index(1), index(conversations_.size()));
        return;
    }
    beginResetModel();
    conversations_ = conversations;
    endResetModel();
}

bool SidebarModel::sameIds(const QList<Conversation>& other) const {
    if (other.size() != conversations_.size()) return false;
    for (qsizetype i = 0; i < other.size(); ++i)
        if (!(other[i].id() == conversations_[i].id())) return false;
    return true;
}

int SidebarModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 1 + int(conversations_.size());
}

QVariant SidebarModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    if (index.row() == 0)
        return role == Qt::DisplayRole ? QVariant(newConversationText) : QVariant();
    const Conversation& conversation = conversations_[index.row() - 1];
    switch (role) {
        case Qt::DisplayRole:
            return conversation.title();
        case LastMessageRole:
        case Qt::AccessibleDescriptionRole:
            return conversation.lastMessage();
        default:
            return {};
    }
}

Qt::ItemFlags SidebarModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

}  // namespace parlote::views_detail
