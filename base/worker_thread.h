#pragma once
// The one way Kestrelle runs work off the user-interface thread: a thread that runs a body once, hands it
// a stop token, and reports the body's end on the thread of a QObject (normally the window that started
// it) through a queued call.
//
//     worker_.start([this](std::stop_token stop) { job_.run(stop); },
//                   this, [this] { onWorkerFinished(); });
//     ...
//     worker_.requestStop();  // the body's stop token is set (std::stop_callback reacts at once)
//     worker_.waitForEnd();   // UI thread: events keep being handled until the body has returned
//
// The finished call never runs inside start(), and it is dropped when its context object or this
// WorkerThread is destroyed before it runs, so an owner never hears from a worker it has let go.
// Destroying a WorkerThread asks the body to stop and joins the thread (blocking: an owner on the
// user-interface thread calls waitForEnd() first when the body may take a while to end).

#include <QEventLoop>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>

namespace kestrelle {

class WorkerThread {
public:
    using Body = std::function<void(std::stop_token stop)>;

    WorkerThread() = default;
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `body` on a new thread. Once it has returned, `finished` runs on `context`'s thread (that
    // thread needs a running event loop). A thread started earlier is stopped and joined first.
    // Without a context nothing is called; wait with waitUntil() or join().
    void start(Body body, QObject* context = nullptr, std::function<void()> finished = {});

    // Sets the body's stop token. Any thread.
    void requestStop();
    bool stopRequested() const;
    // A thread was started and not joined yet.
    bool active() const { return thread_.joinable(); }
    // The body has returned. Any thread.
    bool ended() const;

    // Handles events (`flags`) on the calling thread until the body has returned, then joins. Returns
    // at once when no thread is active. A finished call already queued for this thread may run during
    // the wait.
    void waitForEnd(QEventLoop::ProcessEventsFlags flags = QEventLoop::AllEvents);
    // For a thread without an event loop: blocks until the body has returned or `deadline` has passed;
    // true when it has returned (also when nothing was started).
    bool waitUntil(std::chrono::steady_clock::time_point deadline);
    // Blocks until the thread has ended. Meant for after the body has returned, or for threads that
    // handle no events.
    void join();

private:
    struct State;

    void release();

    std::shared_ptr<State> state_;
    QMetaObject::Connection contextWatch_;
    std::jthread thread_;
};

}  // namespace kestrelle
