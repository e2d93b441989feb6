#pragma once
// Makes the photo browser's thumbnails one after the other on a thread of its own. Each finished
// picture is handed to a callback (on the worker's thread; the browser forwards it to the UI thread).

#include "app/photo_folder.h"

#include <QImage>
#include <QSize>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
        // Called on the worker's thread before each row; tests hold the worker at a row with it.
        std::function<void(int row)> beforeRow;
    };

    // Starts the thread at once.
    ThumbnailWorker(Job job, Delivery deliver);
    // Stops and joins the thread (blocking: owners on the UI thread call stopAndWait first).
    ~ThumbnailWorker();

    ThumbnailWorker(const ThumbnailWorker&) = delete;
    ThumbnailWorker& operator=(const ThumbnailWorker&) = delete;

    // Asks the worker to stop before its next thumbnail; the one being made is finished first.
    void requestStop() { stopRequested_.store(true); }
    bool finished() const { return finished_.load(); }
    // Waits up to `timeout` for the thread to end; true when it has.
    bool waitFor(std::chrono::milliseconds timeout);
    // Stops the worker and waits for it, calling `whileWaiting` between short waits so that the
    // caller's thread can go on handling its events.
    void stopAndWait(const std::function<void()>& whileWaiting);

private:
    void run();

    Job job_;
    Delivery deliver_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
    std::thread thread_;
};

}  // namespace kestrelle
