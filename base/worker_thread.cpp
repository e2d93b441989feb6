#include "base/worker_thread.h"

#include "base/run_log.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <vector>

namespace kestrelle {

// What the thread, its owner, the context's watch and the queued finished call share. The flags are
// read and written under `mutex`; the thread posts to the context and the waiting loops only while it
// holds the mutex, so neither can be destroyed between the check and the post.
struct WorkerThread::State {
    std::mutex mutex;
    std::condition_variable endedChanged;
    bool ended = false;
    bool contextGone = false;
    bool ownerGone = false;
    std::vector<QEventLoop*> waiters;
};

WorkerThread::~WorkerThread() {
    release();
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
}

// Lets go of the current state: a finished call still queued for it is dropped.
void WorkerThread::release() {
    if (state_) {
        std::lock_guard<std::mutex> guard(state_->mutex);
        state_->ownerGone = true;
    }
    QObject::disconnect(contextWatch_);
}

void WorkerThread::start(Body body, QObject* context, std::function<void()> finished) {
    release();
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    auto state = std::make_shared<State>();
    state_ = state;
    if (context) {
        // Direct: runs inside the context's destructor, before the object is gone.
        contextWatch_ = QObject::connect(context, &QObject::destroyed, [state] {
            std::lock_guard<std::mutex> guard(state->mutex);
            state->contextGone = true;
        });
    }
    thread_ = std::jthread(
        [state, body = std::move(body), context, finished = std::move(finished)](std::stop_token stop) {
            try {
                body(stop);
            } catch (const std::exception& error) {
                KESTRELLE_LOG(0, "Worker ended by an exception: %s", error.what());
            } catch (...) {
                KESTRELLE_LOG(0, "Worker ended by an unknown exception");
            }
            std::lock_guard<std::mutex> guard(state->mutex);
            state->ended = true;
            state->endedChanged.notify_all();
            if (context && finished && !state->contextGone && !state->ownerGone) {
                QMetaObject::invokeMethod(
                    context,
                    [state, finished] {
                        {
                            std::lock_guard<std::mutex> check(state->mutex);
                            if (state->ownerGone) return;
                        }
                        finished();
                    },
                    Qt::QueuedConnection);
            }
            // Posted after the finished call: a wait on the context's thread ends after it has run.
            for (QEventLoop* loop : state->waiters)
                QMetaObject::invokeMethod(loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
}

void WorkerThread::requestStop() {
    thread_.request_stop();
}

bool WorkerThread::stopRequested() const {
    return thread_.get_stop_token().stop_requested();
}

bool WorkerThread::ended() const {
    if (!state_) return false;
    std::lock_guard<std::mutex> guard(state_->mutex);
    return state_->ended;
}

void WorkerThread::waitForEnd(QEventLoop::ProcessEventsFlags flags) {
    if (!thread_.joinable()) return;
    const std::shared_ptr<State> state = state_;
    QEventLoop loop;
    bool wait = false;
    {
        std::lock_guard<std::mutex> guard(state->mutex);
        wait = !state->ended;
        if (wait) state->waiters.push_back(&loop);
    }
    if (wait) {
        loop.exec(flags);
        std::lock_guard<std::mutex> guard(state->mutex);
        state->waiters.erase(std::remove(state->waiters.begin(), state->waiters.end(), &loop),
                             state->waiters.end());
    }
    // The body has returned: the thread only has its last lines left.
    if (thread_.joinable() && state == state_) thread_.join();
}

bool WorkerThread::waitUntil(std::chrono::steady_clock::time_point deadline) {
    if (!state_) return true;
    std::unique_lock<std::mutex> guard(state_->mutex);
    return state_->endedChanged.wait_until(guard, deadline, [this] { return state_->ended; });
}

void WorkerThread::join() {
    if (thread_.joinable()) thread_.join();
}

}  // namespace kestrelle
