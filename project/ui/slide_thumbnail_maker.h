#pragma once
// Makes the storyboard's slide thumbnails on a worker thread, for slides that arrive without one (a
// slideshow just opened). The storyboard hands over the photo paths it still needs, those in view first,
// as often as the view changes; the worker takes them from the front one at a time, so a scroll puts the
// newly visible photos next. Each finished thumbnail comes back on the storyboard's thread through a
// queued call; the user-interface thread never decodes a photo for it.

#include "base/worker_thread.h"

#include <QImage>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QObject;

namespace kestrelle {

class SlideThumbnailMaker {
public:
    // `deliver` runs on `context`'s thread for every thumbnail made (a null image when the file could
    // not be read at all); it is dropped once the maker or the context is gone.
    using Delivery = std::function<void(const std::string& path, const QImage& thumbnail)>;
    SlideThumbnailMaker(QObject* context, Delivery deliver);
    // Stops the worker and joins it: at most the one photo being decoded is finished first.
    ~SlideThumbnailMaker();
    SlideThumbnailMaker(const SlideThumbnailMaker&) = delete;
    SlideThumbnailMaker& operator=(const SlideThumbnailMaker&) = delete;

    // The paths still wanted, most wanted first; replaces what was queued. Thumbnails are made
    // `pixelRatio` device pixels per point. Starts the worker when it is not running.
    void request(std::vector<std::string> paths, double pixelRatio);
    // Nothing queued and nothing being made.
    bool idle() const;
    // How many thumbnails the worker has made so far (tests, benchmarks).
    int made() const;

private:
    struct Queue {
        mutable std::mutex lock;
        std::deque<std::string> paths;
        std::string current;  // being made now; not queued again meanwhile
        double pixelRatio = 1.0;
        bool running = false;
        int made = 0;
    };
    void run(const std::stop_token& stop);

    QObject* context_;
    Delivery deliver_;
    // Shared with the queued deliveries, which check it before calling back.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    Queue queue_;
    WorkerThread thread_;  // last: stops before the queue it reads goes
};

}  // namespace kestrelle
