#include "TaskRunner.h"

#include <thread>

namespace parlote {

TaskRunner::~TaskRunner() { waitForAll(); }

TaskRunner& TaskRunner::shared() {
    static TaskRunner runner;
    return runner;
}

void TaskRunner::start(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    // The thread cannot finish before the count is raised: it needs this lock to lower it.
    // Should no thread be had, the exception leaves the count untouched.
    std::thread([this, task = std::move(task)]() mutable {
        {
            // The task and everything it holds are gone before waitForAll() can return.
            auto finishing = std::move(task);
            finishing();
        }
        std::lock_guard lock(mutex_);
        --running_;
        changed_.notify_all();
    }).detach();
    ++running_;
}

void TaskRunner::waitForAll() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return running_ == 0; });
}

}  // namespace parlote
