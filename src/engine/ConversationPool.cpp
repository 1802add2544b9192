#include "ConversationPool.h"

namespace parlote {

ConversationPool& ConversationPool::shared() {
    static ConversationPool pool(EngineContext::standard());
    return pool;
}

std::shared_ptr<ConversationManager> ConversationPool::managerFor(const QUuid& id) {
    std::lock_guard lock(mutex_);
    auto& slot = map_[id];
    if (!slot) slot = ConversationManager::load(context_, id);
    return slot;
}

void ConversationPool::insert(std::shared_ptr<ConversationManager> manager) {
    std::lock_guard lock(mutex_);
    map_.insert(manager->id(), std::move(manager));
}

void ConversationPool::remove(const QUuid& id) {
    std::lock_guard lock(mutex_);
    map_.remove(id);
}

bool ConversationPool::contains(const QUuid& id) const {
    std::lock_guard lock(mutex_);
    return map_.contains(id);
}

void ConversationPool::closeAll() {
    QList<std::shared_ptr<ConversationManager>> managers;
    {
        std::lock_guard lock(mutex_);
        managers = map_.values();
    }
    for (const auto& manager : managers) manager->close();
}

}  // namespace parlote
