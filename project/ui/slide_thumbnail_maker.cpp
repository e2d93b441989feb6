#include "project/ui/slide_thumbnail_maker.h"

#include "project/slideshow_project.h"
#include "render/photo_loader.h"

#include <QObject>
#include <QPointer>

#include <cmath>

namespace kestrelle {

SlideThumbnailMaker::SlideThumbnailMaker(QObject* context, Delivery deliver)
    : context_(context), deliver_(std::move(deliver)) {}

SlideThumbnailMaker::~SlideThumbnailMaker() {
    *alive_ = false;
    thread_.requestStop();
    thread_.join();
}

void SlideThumbnailMaker::request(std::vector<std::string> paths, double pixelRatio) {
    bool start = false;
    {
        std::lock_guard<std::mutex> guard(queue_.lock);
        queue_.paths.clear();
        for (std::string& path : paths) {
            if (path != queue_.current) {
                queue_.paths.push_back(std::move(path));
            }
        }
        queue_.pixelRatio = pixelRatio;
        start = !queue_.running && !queue_.paths.empty();
        queue_.running = queue_.running || start;
    }
    if (start) {
        // The previous body has ended (it cleared `running` as its last act under the lock).
        thread_.start([this](std::stop_token stop) { run(stop); });
    }
}

bool SlideThumbnailMaker::idle() const {
    std::lock_guard<std::mutex> guard(queue_.lock);
    return !queue_.running;
}

int SlideThumbnailMaker::made() const {
    std::lock_guard<std::mutex> guard(queue_.lock);
    return queue_.made;
}

void SlideThumbnailMaker::run(const std::stop_token& stop) {
    while (!stop.stop_requested()) {
        std::string path;
        double ratio = 1.0;
        {
            std::lock_guard<std::mutex> guard(queue_.lock);
            if (queue_.paths.empty()) {
                queue_.current.clear();
                queue_.running = false;
                return;
            }
            path = std::move(queue_.paths.front());
            queue_.paths.pop_front();
            queue_.current = path;
            ratio = queue_.pixelRatio;
        }
        QImage thumbnail;
        // The type is checked before the file is opened: a FIFO or a folder must never be read.
        if (isReadablePhotoFile(path)) {
            const int width = static_cast<int>(std::lround(kThumbnailWidth * ratio));
            const int height = static_cast<int>(std::lround(kThumbnailHeight * ratio));
            if (PhotoLoader::load(thumbnail, width, height, path, kWhiteBackground) && !thumbnail.isNull()) {
                thumbnail.setDevicePixelRatio(ratio);
            }
        }
        {
            std::lock_guard<std::mutex> guard(queue_.lock);
            ++queue_.made;
        }
        QMetaObject::invokeMethod(
            context_,
            [alive = alive_, deliver = deliver_, path, thumbnail] {
                if (*alive && deliver) {
                    deliver(path, thumbnail);
                }
            },
            Qt::QueuedConnection);
    }
    std::lock_guard<std::mutex> guard(queue_.lock);
    queue_.current.clear();
    queue_.running = false;
}

}  // namespace kestrelle
