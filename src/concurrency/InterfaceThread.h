#pragma once

// Hands work from any thread to the interface thread (the thread of the
// QCoreApplication), in the order it was handed over.
//
// The work travels through a queue guarded by a std::mutex, so every hand-over is a
// synchronisation that ThreadSanitizer sees; Qt's event loop only carries the wake-up.

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace parlote {

class InterfaceThread : public QObject {
    Q_OBJECT

public:
    /// Runs `work` on the interface thread soon, after everything posted before it.
    /// Needs a QCoreApplication.
    static void post(std::function<void()> work);
    /// Like post(), but `work` runs only if `receiver` still exists when its turn comes:
    /// the way a background step hands a result to an object that may be gone by then.
    static void post(std::weak_ptr<const void> receiver, std::function<void()> work);

    /// Runs everything posted so far, on the calling (interface) thread. For tests and
    /// for the last moments before quitting.
    static void drainNow();

    /// Makes the hand-over now, on the interface thread that calls it: made by the first
    /// post() of a worker instead, it would be a Qt object built on one thread and used
    /// on another without a synchronisation ThreadSanitizer can see.
    static void prepare() { instance(); }

private:
    InterfaceThread() = default;
    static InterfaceThread& instance();
    Q_INVOKABLE void drain();
    /// Runs the items queued when it is called, not those handed over meanwhile.
    void runQueued();

    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
    bool wakeScheduled_ = false;
};

}  // namespace parlote
