#pragma once

// An asynchronous sequence that ends once, normally or with an error. The producer
// never waits: elements queue without bound until the single consumer takes them, in
// the order they were produced. The consumer may cancel: queued elements are dropped,
// later ones ignored, and the producer is told so that it can stop its work.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace parlote {

template <class T>
class ThrowingStream {
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<T> items;
        bool ended = false;
        int waiting = 0;  // consumers blocked in next()
        std::exception_ptr error;
        std::function<void()> onChange;
        bool cancelled = false;
        std::function<void()> onCancel;
    };

public:
    /// The producing end. Calls after the end are ignored.
    class Producer {
    public:
        void yield(T item) {
            notifyAfter([&] {
                if (!state_->ended) state_->items.push_back(std::move(item));
            });
        }
        void finish() {
            notifyAfter([&] { state_->ended = true; });
        }
        void fail(std::exception_ptr error) {
            notifyAfter([&] {
                if (state_->ended) return;
                state_->ended = true;
                state_->error = std::move(error);
            });
        }
        template <class E>
        void fail(E error) {
            fail(std::make_exception_ptr(std::move(error)));
        }
        /// Runs `handler` when the consumer cancels (at once if it already has). It is
        /// called under the stream's lock: it must be quick and must not use this stream.
        /// Setting an empty handler guarantees that the old one is not running and will
        /// not be called.
        void setOnCancel(std::function<void()> handler) {
            std::lock_guard lock(state_->mutex);
            if (state_->cancelled) {
                if (handler) handler();
                return;
            }
            state_->onCancel = std::move(handler);
        }
        bool cancelled() const {
            std::lock_guard lock(state_->mutex);
            return state_->cancelled;
        }

    private:
        friend class ThrowingStream;
        explicit Producer(std::shared_ptr<State> state) : state_(std::move(state)) {}
        template <class F>
        void notifyAfter(F&& change) {
            std::function<void()> handler;
            bool wake;
            {
                std::lock_guard lock(state_->mutex);
                change();
                handler = state_->onChange;
                wake = state_->waiting > 0;
            }
            // A consumer that is busy with earlier elements needs no wake-up call.
            if (wake) state_->changed.notify_all();
            if (handler) handler();
        }
        std::shared_ptr<State> state_;
    };

    static std::pair<ThrowingStream, Producer> make() {
        auto state = std::make_shared<State>();
        return {ThrowingStream(state), Producer(state)};
    }

    /// Blocks until the next element; nullopt after a normal end. Rethrows the error of
    /// an end with error, once the elements before it have been taken.
    std::optional<T> next() {
        std::unique_lock lock(state_->mutex);
        ++state_->waiting;
        state_->changed.wait(lock, [&] { return !state_->items.empty() || state_->ended; });
        --state_->waiting;
        return takeLocked();
    }

    /// Like next(), but waits at most `timeout`: nullopt with `timedOut` true when nothing
    /// arrived in that time.
    template <class Rep, class Period>
    std::optional<T> nextWithin(std::chrono::duration<Rep, Period> timeout, bool& timedOut) {
        std::unique_lock lock(state_->mutex);
        ++state_->waiting;
        const bool ready = state_->changed.wait_for(
            lock, timeout, [&] { return !state_->items.empty() || state_->ended; });
        --state_->waiting;
        timedOut = !ready;
        if (!ready) return std::nullopt;
        return takeLocked();
    }

    /// Ends the stream from the consumer's side: what is queued is dropped, the producer's
    /// cancel handler runs, and next() answers nullopt from now on.
    void cancel() {
        std::lock_guard lock(state_->mutex);
        if (state_->cancelled) return;
        state_->cancelled = true;
        state_->ended = true;
        state_->items.clear();
        state_->error = nullptr;
        if (auto handler = std::exchange(state_->onCancel, nullptr)) handler();
    }

    /// Like next(), but without waiting: nullopt with `ended` false when nothing is there yet.
    std::optional<T> tryNext(bool& ended) {
        std::lock_guard lock(state_->mutex);
        ended = state_->items.empty() && state_->ended;
        if (state_->items.empty() && !state_->ended) return std::nullopt;
        return takeLocked();
    }

    /// Called on the producer's thread after every element and at the end; lets a
    /// consumer on an event loop be told without blocking a thread. Called at once when
    /// something is already waiting.
    void setOnChange(std::function<void()> handler) {
        bool pending;
        {
            std::lock_guard lock(state_->mutex);
            state_->onChange = handler;
            pending = !state_->items.empty() || state_->ended;
        }
        if (pending && handler) handler();
    }

private:
    explicit ThrowingStream(std::shared_ptr<State> state) : state_(std::move(state)) {}

    std::optional<T> takeLocked() {
        if (!state_->items.empty()) {
            T item = std::move(state_->items.front());
            state_->items.pop_front();
            return item;
        }
        if (state_->error) {
            std::exception_ptr error = std::exchange(state_->error, nullptr);
            state_->items.clear();
            std::rethrow_exception(error);
        }
        return std::nullopt;
    }

    std::shared_ptr<State> state_;
};

}  // namespace parlote
