// The cross-thread building blocks on their own, with real threads: the faults such code
// has (an error overtaking items, a lost wake-up, a hand-over to something gone, a task
// that throws, order under several producers). Run under ThreadSanitizer as well.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Future.h"
#include "InterfaceThread.h"
#include "Published.h"
#include "TaskRunner.h"
#include "ThrowingStream.h"

using namespace parlote;
using namespace std::chrono_literals;

namespace {

/// Runs the event loop until `done` holds or `limit` has passed.
template <class F>
bool runUntil(F done, std::chrono::milliseconds limit = 5s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

// Future.

TEST(FutureTest, AValueSetOnAnotherThreadReachesWaitersAndContinuations) {
    auto [future, promise] = Future<int>::make();
    std::atomic<int> continued{0};
    std::thread::id continuationThread;
    future.then([&](const int& value) {
        continuationThread = std::this_thread::get_id();
        continued = value;
    });
    std::thread setter([promise = promise]() mutable {
        std::this_thread::sleep_for(20ms);
        promise.set(7);
        promise.set(8);  // only the first value counts
    });
    EXPECT_EQ(future.result(), 7);
    setter.join();
    EXPECT_EQ(continued, 7);
    EXPECT_NE(continuationThread, std::this_thread::get_id()) << "runs on the setting thread";

    int late = 0;
    future.then([&](const int& value) { late = value; });
    EXPECT_EQ(late, 7) << "a continuation added after the value runs at once";
}

// ThrowingStream.

TEST(ThrowingStreamTest, ItemsBeforeAnErrorArriveFirstThenTheErrorOnceThenTheEnd) {
    auto [stream, producer] = ThrowingStream<int>::make();
    producer.yield(1);
    producer.yield(2);
    producer.fail(std::runtime_error("broken"));
    producer.yield(3);  // after the end: ignored
    EXPECT_EQ(stream.next(), 1);
    EXPECT_EQ(stream.next(), 2);
    EXPECT_THROW(stream.next(), std::runtime_error);
    EXPECT_EQ(stream.next(), std::nullopt);
}

TEST(ThrowingStreamTest, TryNextTellsEmptyFromFinished) {
    auto [stream, producer] = ThrowingStream<int>::make();
    bool ended = true;
    EXPECT_EQ(stream.tryNext(ended), std::nullopt);
    EXPECT_FALSE(ended);
    producer.yield(5);
    producer.finish();
    EXPECT_EQ(stream.tryNext(ended), 5);
    EXPECT_FALSE(ended);
    EXPECT_EQ(stream.tryNext(ended), std::nullopt);
    EXPECT_TRUE(ended);
}

TEST(ThrowingStreamTest, AProducerOnAnotherThreadKeepsItsOrderAndWakesTheConsumer) {
    auto [stream, producer] = ThrowingStream<int>::make();
    constexpr int kCount = 100'000;
    std::thread writer([producer = producer]() mutable {
        for (int i = 0; i < kCount; ++i) producer.yield(i);
        producer.finish();
    });
    int expected = 0;
    while (auto item = stream.next()) ASSERT_EQ(*item, expected++);
    writer.join();
    EXPECT_EQ(expected, kCount);
}

TEST(ThrowingStreamTest, AWaitWithATimeLimitEndsInTimeOrWithTheItem) {
    auto [stream, producer] = ThrowingStream<int>::make();
    bool timedOut = false;
    EXPECT_EQ(stream.nextWithin(10ms, timedOut), std::nullopt);
    EXPECT_TRUE(timedOut);
    std::thread writer([producer = producer]() mutable {
        std::this_thread::sleep_for(20ms);
        producer.yield(9);
    });
    EXPECT_EQ(stream.nextWithin(5s, timedOut), 9);
    EXPECT_FALSE(timedOut);
    writer.join();
}

TEST(ThrowingStreamTest, CancellingTellsTheProducerOnceAndDropsWhatIsQueued) {
    auto [stream, producer] = ThrowingStream<int>::make();
    std::atomic<int> told{0};
    producer.setOnCancel([&] { ++told; });
    producer.yield(1);
    stream.cancel();
    stream.cancel();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(producer.cancelled());
    producer.yield(2);
    EXPECT_EQ(stream.next(), std::nullopt);

    // A handler set after the cancel runs at once; an empty one is never called.
    int late = 0;
    producer.setOnCancel([&] { ++late; });
    EXPECT_EQ(late, 1);

    auto [other, otherProducer] = ThrowingStream<int>::make();
    otherProducer.setOnCancel([&] { ADD_FAILURE() << "a removed handler ran"; });
    otherProducer.setOnCancel(nullptr);
    other.cancel();
}

TEST(ThrowingStreamTest, AConsumerGoneWhileTheProducerGoesOnIsHarmless) {
    std::optional<ThrowingStream<std::string>> consumer;
    std::optional<ThrowingStream<std::string>::Producer> producer;
    {
        auto pair = ThrowingStream<std::string>::make();
        consumer.emplace(std::move(pair.first));
        producer.emplace(std::move(pair.second));
    }
    std::atomic<bool> started{false};
    std::thread writer([&] {
        started = true;
        for (int i = 0; i < 10'000; ++i) producer->yield(std::string(100, 'x'));
        producer->finish();
    });
    while (!started) std::this_thread::yield();
    consumer->cancel();
    consumer.reset();  // the queue belongs to the shared state, not to the consumer
    writer.join();
}

// TaskRunner.

TEST(TaskRunnerTest, ATaskThatThrowsEndsAloneAndTheRunnerGoesOn) {
    TaskRunner runner;
    std::atomic<int> ran{0};
    runner.start([] { throw std::runtime_error("task failed"); });
    runner.start([&] { ++ran; });
    runner.waitForAll();
    EXPECT_EQ(ran, 1);
}

TEST(TaskRunnerTest, WaitingForAllIncludesTasksStartedByTasks) {
    TaskRunner runner;
    std::atomic<int> finished{0};
    runner.start([&] {
        std::this_thread::sleep_for(20ms);
        runner.start([&] {
            std::this_thread::sleep_for(50ms);
            runner.start([&] { ++finished; });
            ++finished;
        });
        ++finished;
    });
    runner.waitForAll();
    EXPECT_EQ(finished, 3);
}

TEST(TaskRunnerTest, ABlockedTaskDoesNotHoldUpAnother) {
    TaskRunner runner;
    auto [gate, open] = Future<bool>::make();
    std::atomic<bool> second{false};
    runner.start([gate = gate] { gate.result(); });
    runner.start([&] { second = true; });
    const auto end = std::chrono::steady_clock::now() + 5s;
    while (!second && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(second);
    open.set(true);
    runner.waitForAll();
}

// Published and EventSource.

TEST(PublishedTest, SubscribingGivesTheCurrentValueAndEveryLaterOneInOrder) {
    Published<int> value(3);
    std::vector<int> seen;
    std::mutex seenMutex;
    auto [subscription, current] = value.subscribe([&](const int& v) {
        std::lock_guard lock(seenMutex);
        seen.push_back(v);
    });
    EXPECT_EQ(current, 3);
    std::vector<std::thread> writers;
    std::atomic<int> next{0};
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) value.update([&](int& v) { v = ++next; });
        });
    for (auto& writer : writers) writer.join();
    // Deliveries of concurrent assignments never overtake each other.
    ASSERT_EQ(seen.size(), 4000u);
    for (std::size_t i = 0; i < seen.size(); ++i) EXPECT_EQ(seen[i], int(i) + 1);

    subscription.cancel();
    value.set(-1);
    EXPECT_EQ(seen.size(), 4000u);
    EXPECT_EQ(value.get(), -1);
}

TEST(PublishedTest, AnEventSubscriptionEndsWithItsHandleEvenAfterTheSourceIsGone) {
    int fired = 0;
    Subscription kept;
    {
        EventSource source;
        Subscription scoped = source.subscribe([&] { ++fired; });
        kept = source.subscribe([&] { ++fired; });
        source.fire();
        EXPECT_EQ(fired, 2);
    }  // the source goes first; cancelling its subscription later is harmless
    kept.cancel();
}

// InterfaceThread.

TEST(InterfaceThreadTest, HandOversFromSeveralThreadsRunOnTheInterfaceThreadInTheirOrder) {
    constexpr int kThreads = 4;
    constexpr int kEach = 2000;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<int> ran{0};
    bool offThread = false;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i)
                InterfaceThread::post([&, t, i] {
                    if (QThread::currentThread() != QCoreApplication::instance()->thread())
                        offThread = true;
                    seen[t].push_back(i);
                    ++ran;
                });
        });
    for (auto& sender : senders) sender.join();
    ASSERT_TRUE(runUntil([&] { return ran == kThreads * kEach; }));
    EXPECT_FALSE(offThread);
    for (const auto& list : seen) {
        ASSERT_EQ(list.size(), std::size_t(kEach));
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(list[i], i);
    }
}

TEST(InterfaceThreadTest, AHandOverToAReceiverThatIsGoneDoesNothing) {
    auto receiver = std::make_shared<int>(0);
    bool ran = false;
    bool after = false;
    std::thread sender([&, weak = std::weak_ptr<int>(receiver)] {
        InterfaceThread::post(weak, [&] { ran = true; });
        InterfaceThread::post([&] { after = true; });
    });
    sender.join();
    receiver.reset();
    ASSERT_TRUE(runUntil([&] { return after; }));
    EXPECT_FALSE(ran);
}

TEST(InterfaceThreadTest, HandOversThatNeverStopLeaveRoomForTheEventLoop) {
    // Each item hands over the next one, as a fast stream does; a timer must still fire.
    std::atomic<bool> stop{false};
    int handed = 0;
    std::function<void()> again = [&] {
        ++handed;
        if (!stop) InterfaceThread::post(again);
    };
    InterfaceThread::post(again);
    bool fired = false;
    QTimer::singleShot(20, [&] { fired = true; });
    EXPECT_TRUE(runUntil([&] { return fired; }));
    stop = true;
    EXPECT_GT(handed, 1);
    InterfaceThread::drainNow();
}

TEST(InterfaceThreadTest, ANestedEventLoopInsideAHandOverKeepsTheOrder) {
    std::vector<int> order;
    InterfaceThread::post([&] {
        order.push_back(1);
        QEventLoop nested;  // a modal dialog would do this
        QTimer::singleShot(20, &nested, &QEventLoop::quit);
        nested.exec();
        order.push_back(2);
    });
    InterfaceThread::post([&] { order.push_back(3); });
    ASSERT_TRUE(runUntil([&] { return order.size() == 3; }));
    EXPECT_TRUE(order == std::vector<int>({1, 2, 3}) || order == std::vector<int>({1, 3, 2}));
    EXPECT_EQ(order.front(), 1) << "nothing overtakes the item that is running";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the interface thread of these tests
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
