// The worker thread: where and when its finished call runs, its stop token, and what its destruction
// and its context's destruction do.

#include "base/worker_thread.h"

#include "tests/support/temp_home.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace kestrelle {
namespace {

// A gate the body waits at until the test opens it or a stop is requested.
class Gate {
public:
    // True when opened, false when stopped.
    bool wait(std::stop_token stop) {
        std::unique_lock<std::mutex> guard(mutex_);
        entered_ = true;
        changed_.notify_all();
        return changed_.wait(guard, stop, [this] { return open_; });
    }
    void waitUntilEntered() {
        std::unique_lock<std::mutex> guard(mutex_);
        changed_.wait(guard, [this] { return entered_; });
    }
    void open() {
        std::lock_guard<std::mutex> guard(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool entered_ = false;
    bool open_ = false;
};

class WorkerThreadTest : public testing::TempHomeTest {
protected:
    static void SetUpTestSuite() {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "test_base";
            static char* argv[] = {name, nullptr};
            static QCoreApplication app(argc, argv);
        }
    }
    static constexpr auto kGuard = std::chrono::seconds(60);
    static std::chrono::steady_clock::time_point guardDeadline() {
        return std::chrono::steady_clock::now() + kGuard;
    }
};

TEST_F(WorkerThreadTest, FinishedRunsQueuedOnTheContextThreadAfterTheBodyReturned) {
    QObject context;
    std::atomic<bool> bodyReturned{false};
    std::atomic<QThread*> bodyThread{nullptr};
    int calls = 0;
    bool returnedBeforeCall = false;
    QThread* callThread = nullptr;
    WorkerThread worker;
    worker.start(
        [&](std::stop_token) {
            bodyThread = QThread::currentThread();
            bodyReturned = true;
        },
        &context,
        [&] {
            ++calls;
            returnedBeforeCall = bodyReturned.load();
            callThread = QThread::currentThread();
        });
    ASSERT_TRUE(worker.waitUntil(guardDeadline()));
    EXPECT_TRUE(worker.ended());
    // Nothing runs on the worker's thread nor before the context's thread handles its events.
    EXPECT_EQ(calls, 0);
    worker.waitForEnd();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(returnedBeforeCall);
    EXPECT_EQ(callThread, context.thread());
    EXPECT_NE(bodyThread.load(), context.thread());
    EXPECT_FALSE(worker.active());
}

// The wait handles events (the finished call among them) and ends once the body has returned.
TEST_F(WorkerThreadTest, WaitForEndHandlesEventsUntilTheBodyReturns) {
    QObject context;
    Gate gate;
    int calls = 0;
    bool eventHandledWhileWaiting = false;
    WorkerThread worker;
    worker.start([&](std::stop_token stop) { gate.wait(stop); }, &context, [&] { ++calls; });
    gate.waitUntilEntered();
    // An event posted to this thread runs during the wait, and it is what lets the body go.
    QMetaObject::invokeMethod(
        &context,
        [&] {
            eventHandledWhileWaiting = true;
            gate.open();
        },
        Qt::QueuedConnection);
    worker.waitForEnd();
    EXPECT_TRUE(eventHandledWhileWaiting);
    EXPECT_TRUE(worker.ended());
    EXPECT_FALSE(worker.active());
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(worker.stopRequested());
}

TEST_F(WorkerThreadTest, AStopRequestReachesTheBodysToken) {
    Gate gate;
    std::atomic<int> outcome{-1};
    WorkerThread worker;
    worker.start([&](std::stop_token stop) { outcome = gate.wait(stop) ? 1 : 0; });
    gate.waitUntilEntered();
    EXPECT_FALSE(worker.ended());
    worker.requestStop();
    EXPECT_TRUE(worker.stopRequested());
    ASSERT_TRUE(worker.waitUntil(guardDeadline()));
    EXPECT_EQ(outcome, 0);
}

// Destruction stops the body and joins: the body has returned when the destructor has; a finished call
// that was on its way is dropped.
TEST_F(WorkerThreadTest, DestroyingItStopsJoinsAndDropsThePendingCall) {
    QObject context;
    Gate gate;
    std::atomic<bool> bodyReturned{false};
    int calls = 0;
    auto worker = std::make_unique<WorkerThread>();
    worker->start(
        [&](std::stop_token stop) {
            gate.wait(stop);
            bodyReturned = true;
        },
        &context, [&] { ++calls; });
    gate.waitUntilEntered();
    worker.reset();
    EXPECT_TRUE(bodyReturned);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);

    // The same once the call is already queued.
    worker = std::make_unique<WorkerThread>();
    worker->start([](std::stop_token) {}, &context, [&] { ++calls; });
    ASSERT_TRUE(worker->waitUntil(guardDeadline()));
    worker.reset();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

TEST_F(WorkerThreadTest, AContextDestroyedFirstGetsNoCall) {
    Gate gate;
    int calls = 0;
    auto context = std::make_unique<QObject>();
    WorkerThread worker;
    worker.start([&](std::stop_token stop) { gate.wait(stop); }, context.get(), [&] { ++calls; });
    gate.waitUntilEntered();
    context.reset();
    gate.open();
    ASSERT_TRUE(worker.waitUntil(guardDeadline()));
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

// A second start lets the first body go (stopped, joined) and only the second one reports.
TEST_F(WorkerThreadTest, StartingAgainStopsTheFirstAndOnlyTheSecondReports) {
    QObject context;
    Gate gate;
    std::atomic<bool> firstStopped{false};
    int firstCalls = 0;
    int secondCalls = 0;
    WorkerThread worker;
    worker.start([&](std::stop_token stop) { firstStopped = !gate.wait(stop); }, &context,
                 [&] { ++firstCalls; });
    gate.waitUntilEntered();
    worker.start([](std::stop_token) {}, &context, [&] { ++secondCalls; });
    EXPECT_TRUE(firstStopped);
    worker.waitForEnd();
    QCoreApplication::processEvents();
    EXPECT_EQ(firstCalls, 0);
    EXPECT_EQ(secondCalls, 1);
}

// A body that throws still ends, logs why, and its owner still hears of it.
TEST_F(WorkerThreadTest, ABodyThatThrowsStillReportsItsEnd) {
    QObject context;
    int calls = 0;
    WorkerThread worker;
    worker.start([](std::stop_token) { throw std::runtime_error("broken"); }, &context, [&] { ++calls; });
    worker.waitForEnd();
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 1);
    EXPECT_NE(testing::readFile(dataFolder() + "/run.log").find("Worker ended by an exception: broken"),
              std::string::npos);
}

}  // namespace
}  // namespace kestrelle
