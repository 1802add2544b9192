#include "TaskRunner.h"

#include <vector>

namespace parlote {

TaskRunner::~TaskRunner() {
    waitForAll();
}

TaskRunner& TaskRunner::shared() {
    static TaskRunner runner;
    return runner;
}

void TaskRunner::reapFinished(std::unique_lock<std::mutex>& lock) {
    std::vector<std::thread> done;
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->finished) {
            done.push_back(std::move(it->thread));
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    lock.unlock();
    for (std::thread& thread : done) thread.join();  // they have returned; this is brief
    lock.lock();
}

void TaskRunner::start(std::function<void()> task) {
    std::unique_lock lock(mutex_);
    reapFinished(lock);
    // A worker's entry exists before its thread runs, and its thread needs this lock to
    // mark it finished. Should no thread be had, the exception leaves everything as it was.
    Worker& worker = workers_.emplace_back();
    try {
        worker.thread = std::thread([this, &worker, task = std::move(task)]() mutable {
            try {
                // The task and everything it holds are gone before it counts as finished.
                auto finishing = std::move(task);
                finishing();
            } catch (...) {
                // A task reports its own failures (a future, a stream); one that lets an
                // exception escape ends alone instead of ending the process.
            }
            std::lock_guard lock(mutex_);
            worker.finished = true;
            --running_;
            changed_.notify_all();
        });
    } catch (...) {
        workers_.pop_back();
        throw;
    }
    ++running_;
}

void TaskRunner::waitForAll() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return running_ == 0; });
    reapFinished(lock);
}

}  // namespace parlote
