#pragma once

// A value whose every assignment is delivered to its subscribers, on the assigning
// thread, in the order of the assignments; and an event source of the same kind.
// Subscribing hands back the current value. A subscription ends when its handle is
// cancelled or destroyed.

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace parlote {

/// Ends a subscription when cancelled or destroyed.
class Subscription {
public:
    Subscription() = default;
    explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
    Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
    Subscription& operator=(Subscription&& other) noexcept {
        if (this != &other) {
            cancel();
            cancel_ = std::exchange(other.cancel_, nullptr);
        }
        return *this;
    }
    ~Subscription() { cancel(); }
    void cancel() {
        if (cancel_) std::exchange(cancel_, nullptr)();
    }

private:
    std::function<void()> cancel_;
};

namespace detail {

/// Subscribers called in order under one lock, so that deliveries from concurrent
/// assignments never overtake each other.
template <class... Args>
struct SubscriberList {
    std::mutex mutex;
    std::map<int, std::function<void(const Args&...)>> subscribers;
    int nextId = 0;

    void callAll(const Args&... args) {
        for (auto& [id, subscriber] : subscribers) subscriber(args...);
    }

    Subscription add(std::shared_ptr<SubscriberList> self, int id) {
        std::weak_ptr<SubscriberList> weak = self;
        return Subscription([weak, id] {
            if (auto list = weak.lock()) {
                std::lock_guard lock(list->mutex);
                list->subscribers.erase(id);
            }
        });
    }
};

}  // namespace detail

template <class T>
class Published {
public:
    explicit Published(T initial = T()) : state_(std::make_shared<State>()) {
        state_->value = std::move(initial);
    }

    T get() const {
        std::lock_guard lock(state_->mutex);
        return state_->value;
    }

    void set(T value) {
        std::lock_guard lock(state_->mutex);
        state_->value = std::move(value);
        state_->callAll(state_->value);
    }

    /// Changes the value in place under the lock and delivers the result.
    template <class F>
    void update(F&& change) {
        std::lock_guard lock(state_->mutex);
        change(state_->value);
        state_->callAll(state_->value);
    }

    /// Registers `subscriber` for every later assignment and returns the current value,
    /// in one step: no assignment falls between the two. The subscriber is not called
    /// for the current value, so the caller applies it outside any lock.
    std::pair<Subscription, T> subscribe(std::function<void(const T&)> subscriber) {
        std::lock_guard lock(state_->mutex);
        const int id = state_->nextId++;
        state_->subscribers.emplace(id, std::move(subscriber));
        return {state_->add(state_, id), state_->value};
    }

private:
    struct State : detail::SubscriberList<T> {
        T value;
    };
    std::shared_ptr<State> state_;
};

/// An event without payload.
class EventSource {
public:
    EventSource() : state_(std::make_shared<State>()) {}

    void fire() {
        std::lock_guard lock(state_->mutex);
        state_->callAll();
    }

    Subscription subscribe(std::function<void()> subscriber) {
        std::lock_guard lock(state_->mutex);
        const int id = state_->nextId++;
        state_->subscribers.emplace(id, std::move(subscriber));
        return state_->add(state_, id);
    }

private:
    using State = detail::SubscriberList<>;
    std::shared_ptr<State> state_;
};

}  // namespace parlote
