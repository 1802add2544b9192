// ZoruveVede: conversations imported from files join the list.

#include <QFileInfo>
#include <QSet>

#include "ZoruveVede.h"

namespace parlote {

namespace {

/// The sidebar's preview of a thread: its last reply without the think block.
QString lastReplyPreview(const QList<ChatMessage>& messages) {
    for (auto it = messages.crbegin(); it != messages.crend(); ++it)
        if (it->type() == ChatMessageType::assistant) return withoutThinkBlock(it->content());
    return {};
}

}  // namespace

void ZoruveVede::importConversations(QList<TitledConversation> conversations,
                                     std::function<void(const ImportSaved&)> done) {
    // The ids in use that the task cannot see: the list's and a pending deletion's.
    QSet<QUuid> used;
    for (const Conversation& entry : conversations_) used.insert(entry.id().uuid());
    if (pendingDeletion_) used.insert(pendingDeletion_->entry.id().uuid());

    ConversationPool* pool = &pool_;
    const ChatStore* store = &store_;
    std::weak_ptr<int> alive = alive_;
    pool_.context().tasks->start([this, alive, pool, store, used = std::move(used),
                                  conversations = std::move(conversations),
                                  done = std::move(done)]() mutable {
        auto taken = [&](const QUuid& id) {
            return id.isNull() || used.contains(id) || pool->contains(id) ||
                   QFileInfo::exists(store->conversationPath(id));
        };
        QList<TitledConversation> written;
        ImportSaved saved;
        for (TitledConversation& conversation : conversations) {
            while (taken(conversation.id)) conversation.id = QUuid::createUuid();
            used.insert(conversation.id);
            const ConversationContent& content = conversation.content;
            const WriteResult result = store->writeConversation(conversation.id, content.messages,
                                                                content.variants, content.settings);
            if (result)
                written.append(std::move(conversation));
            else
                saved.failed.append({conversation.title, result.error});
        }
        post(alive, [this, written = std::move(written), saved = std::move(saved),
                     done = std::move(done)]() mutable {
            QList<Conversation> list = conversations_;
            for (qsizetype i = written.size() - 1; i >= 0; --i) {
                const TitledConversation& conversation = written.at(i);
                const SidebarID id = SidebarID::conversation(conversation.id);
                list.prepend(Conversation(id, conversation.title,
                                          lastReplyPreview(conversation.content.messages)));
            }
            for (const TitledConversation& conversation : written)
                saved.added.append(SidebarID::conversation(conversation.id));
            if (!written.isEmpty()) {
                setConversations(std::move(list));
                saveConversationList();
            }
            // As for a conversation saved by its manager: the search index follows.
            for (const TitledConversation& conversation : written)
                pool_.context().notifications->post(
                    kConversationSaved,
                    SavedTranscript{conversation.id, MessageList(conversation.content.messages)});
            if (done) done(saved);
        });
    });
}

}  // namespace parlote
