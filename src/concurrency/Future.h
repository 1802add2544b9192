#pragma once

// The answer of a one-shot background operation. The job that makes it sets it once;
// a caller on a background task waits for it with result(), and a caller on an event
// loop registers a continuation with then() and hands the value to its own thread.
//
// Built on std::mutex and std::condition_variable so that every hand-over between
// threads is visible to ThreadSanitizer.

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace parlote {

template <class T>
class Future {
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::optional<T> value;
        std::function<void(const T&)> continuation;
    };

public:
    /// The job's end: sets the value once.
    class Promise {
    public:
        void set(T value) {
            std::function<void(const T&)> continuation;
            {
                std::lock_guard lock(state_->mutex);
                if (state_->value) return;
                state_->value.emplace(std::move(value));
                continuation = std::move(state_->continuation);
            }
            state_->ready.notify_all();
            if (continuation) continuation(*state_->value);  // the value never changes again
        }

    private:
        friend class Future;
        explicit Promise(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    static std::pair<Future, Promise> make() {
        auto state = std::make_shared<State>();
        return {Future(state), Promise(state)};
    }

    /// Blocks until the value is set.
    const T& result() const {
        std::unique_lock lock(state_->mutex);
        state_->ready.wait(lock, [&] { return state_->value.has_value(); });
        return *state_->value;
    }

    /// Runs `continuation` with the value once it is set: on the setting thread, or at
    /// once on this thread when it is already there. One continuation per future.
    void then(std::function<void(const T&)> continuation) {
        {
            std::lock_guard lock(state_->mutex);
            if (!state_->value) {
                state_->continuation = std::move(continuation);
                return;
            }
        }
        continuation(*state_->value);
    }

private:
    explicit Future(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

}  // namespace parlote
