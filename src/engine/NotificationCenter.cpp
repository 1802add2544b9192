#include "NotificationCenter.h"

#include <algorithm>

#include "InterfaceThread.h"

namespace parlote {

NotificationCenter& NotificationCenter::shared() {
    static NotificationCenter center;
    return center;
}

void NotificationCenter::observe(const QString& name, std::weak_ptr<void> owner, Handler handler) {
    std::lock_guard lock(mutex_);
    observers_.push_back({name, std::move(owner), std::make_shared<Handler>(std::move(handler))});
}

void NotificationCenter::post(const QString& name, std::any object) {
    std::vector<Observer> receivers;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(observers_, [](const Observer& o) { return o.owner.expired(); });
        for (const Observer& observer : observers_)
            if (observer.name == name) receivers.push_back(observer);
    }
    if (receivers.empty()) return;
    InterfaceThread::post([receivers = std::move(receivers), object = std::move(object)] {
        for (const Observer& receiver : receivers) {
            // The owner is checked on the interface thread, where it is destroyed.
            if (auto alive = receiver.owner.lock()) (*receiver.handler)(object);
        }
    });
}

}  // namespace parlote
