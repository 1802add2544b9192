#pragma once

// All conversation managers of the run, by conversation id.

#include <QHash>
#include <QUuid>
#include <memory>
#include <mutex>

#include "ConversationManager.h"

namespace parlote {

class ConversationPool {
public:
    explicit ConversationPool(EngineContext context) : context_(context) {}

    /// The pool over the process-wide store and bridge.
    static ConversationPool& shared();

    const EngineContext& context() const { return context_; }

    /// The manager of conversation `id`; made and read from its file on first use.
    std::shared_ptr<ConversationManager> managerFor(const QUuid& id);
    /// Enters a manager made for a new conversation.
    void insert(std::shared_ptr<ConversationManager> manager);
    /// Forgets the manager of a deleted conversation.
    void remove(const QUuid& id);
    bool contains(const QUuid& id) const;

    /// For quitting: every manager writes its transcript as it stands (a reply still
    /// arriving is kept as far as it came) and stops taking changes.
    void closeAll();

private:
    const EngineContext context_;
    mutable std::mutex mutex_;
    QHash<QUuid, std::shared_ptr<ConversationManager>> map_;
};

}  // namespace parlote
