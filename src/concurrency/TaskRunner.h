#pragma once

// Background tasks that may block for a long time (on the network, on a stream): each
// runs on a thread of its own, so none waits behind another, and the runner can wait
// until all of them have ended.

#include <condition_variable>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace parlote {

class TaskRunner {
public:
    TaskRunner() = default;
    /// Waits for every task still running.
    ~TaskRunner();
    TaskRunner(const TaskRunner&) = delete;
    TaskRunner& operator=(const TaskRunner&) = delete;

    /// The runner of the application's own background tasks.
    static TaskRunner& shared();

    /// Runs `task` on a thread of its own. An exception that escapes it ends that task
    /// only.
    void start(std::function<void()> task);
    /// Blocks until no task of this runner is running and their threads have ended
    /// (thread-local clean-up included, so that nothing of theirs outlives this call).
    void waitForAll();

private:
    struct Worker {
        std::thread thread;
        bool finished = false;  // under mutex_
    };
    /// Joins the threads of finished tasks; called with mutex_ held.
    void reapFinished(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::list<Worker> workers_;
    int running_ = 0;
};

}  // namespace parlote
