#pragma once
// Makes the photo browser's thumbnails in row order on a thread of its own, with a second decoding
// thread beside it where the machine has two cores. Each finished picture is handed to a callback (on
// a worker thread, either of the two; the browser forwards it to the UI thread).

#include "app/photo_folder.h"
#include "base/worker_thread.h"

#include <QEventLoop>
#include <QImage>
#include <QSize>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class QObject;

namespace kestrelle {

class ThumbnailWorker {
public:
    // Called for each finished thumbnail with its row; then once with row -1 and a null image when the
    // worker ends (finished or stopped).
    using Delivery = std::function<void(int row, const QImage& thumbnail)>;

    struct Job {
        std::string folder;
        std::vector<std::string> names;  // file names in row order
        BrowserMode mode = BrowserMode::Photo;
        QSize size{100, 90};           // the thumbnail in pixels
        qreal devicePixelRatio = 1.0;  // set on each thumbnail
        QImage audioPicture;           // every row's picture in audio mode
        // Called on a worker thread before each row; tests hold the worker at a row with it.
        std::function<void(int row)> beforeRow;
    };

    // Starts the thread at once. `ended` (optional) runs on `context`'s thread after the last delivery,
    // unless this worker or the context is gone by then.
    ThumbnailWorker(Job job, Delivery deliver, QObject* context = nullptr, std::function<void()> ended = {});
    // Stops and joins the thread (blocking: owners on the UI thread call stopAndWait first).
    ~ThumbnailWorker() = default;

    ThumbnailWorker(const ThumbnailWorker&) = delete;
    ThumbnailWorker& operator=(const ThumbnailWorker&) = delete;

    // The view scrolled: rows from `row` on (those now in view) are made next, then the rest, wrapping
    // round to the rows before it. Any thread may call it.
    void showRowsFrom(int row);

    // Asks the worker to stop before its next thumbnail; the one being made is finished first.
    void requestStop() { thread_.requestStop(); }
    bool finished() const { return thread_.ended(); }
    // Blocks until the worker has ended (for callers with no events to handle meanwhile).
    void join() { thread_.join(); }
    // Stops the worker and waits for it while the calling thread goes on handling its events (`flags`).
    void stopAndWait(QEventLoop::ProcessEventsFlags flags);

private:
    void run(const std::stop_token& stop);
    void makeRow(int row);
    // The next row nobody has taken yet (from the wanted row on, else from the cursor), -1 when all are.
    int takeRow();

    Job job_;
    std::mutex rowsLock_;
    std::vector<bool> taken_;  // rows handed to a decoding thread
    int cursor_ = 0;           // where the search for the next row starts
    int wanted_ = -1;          // a row to go on from, set by showRowsFrom
    Delivery deliver_;
    WorkerThread thread_;  // last: ends before the job it reads goes
};

}  // namespace kestrelle
