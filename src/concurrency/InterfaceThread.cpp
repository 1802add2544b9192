#include "InterfaceThread.h"

#include <QCoreApplication>
#include <QThread>

namespace parlote {

InterfaceThread& InterfaceThread::instance() {
    // Lives as long as the process; made on first use and moved to the application's
    // thread, whichever thread asked first.
    static InterfaceThread* dispatcher = [] {
        auto* object = new InterfaceThread();
        object->moveToThread(QCoreApplication::instance()->thread());
        return object;
    }();
    return *dispatcher;
}

void InterfaceThread::post(std::function<void()> work) {
    InterfaceThread& self = instance();
    bool wake;
    {
        std::lock_guard lock(self.mutex_);
        self.queue_.push_back(std::move(work));
        wake = !self.wakeScheduled_;
        self.wakeScheduled_ = true;
    }
    if (wake) QMetaObject::invokeMethod(&self, "drain", Qt::QueuedConnection);
}

void InterfaceThread::post(std::weak_ptr<const void> receiver, std::function<void()> work) {
    post([receiver = std::move(receiver), work = std::move(work)] {
        if (auto alive = receiver.lock()) work();
    });
}

void InterfaceThread::drainNow() {
    InterfaceThread& self = instance();
    for (;;) {
        {
            std::lock_guard lock(self.mutex_);
            if (self.queue_.empty()) return;
        }
        self.runQueued();
    }
}

void InterfaceThread::drain() {
    runQueued();
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            wakeScheduled_ = false;
            return;
        }
    }
    // What was handed over while this turn ran waits for the next turn, so that input and
    // painting come in between, however fast the hand-overs arrive.
    QMetaObject::invokeMethod(this, "drain", Qt::QueuedConnection);
}

void InterfaceThread::runQueued() {
    std::size_t count;
    {
        std::lock_guard lock(mutex_);
        count = queue_.size();
    }
    // One item at a time: should an item run a nested event loop (a modal dialog), the
    // items after it still run in order, inside or after it, never before it.
    for (; count > 0; --count) {
        std::function<void()> work;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty()) return;
            work = std::move(queue_.front());
            queue_.pop_front();
        }
        work();
    }
}

}  // namespace parlote
