#include "app/thumbnail_worker.h"

#include "app/folder_source.h"
#include "render/photo_loader.h"

namespace kestrelle {

ThumbnailWorker::ThumbnailWorker(Job job, Delivery deliver)
    : job_(std::move(job)), deliver_(std::move(deliver)) {
    thread_ = std::thread([this] { run(); });
}

ThumbnailWorker::~ThumbnailWorker() {
    requestStop();
    if (thread_.joinable()) thread_.join();
}

bool ThumbnailWorker::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return ended_.wait_for(lock, timeout, [this] { return finished_.load(); });
}

void ThumbnailWorker::stopAndWait(const std::function<void()>& whileWaiting) {
    requestStop();
    while (!waitFor(std::chrono::milliseconds(5))) {
        if (whileWaiting) whileWaiting();
    }
    if (thread_.joinable()) thread_.join();
}

void ThumbnailWorker::run() {
    const int count = static_cast<int>(job_.names.size());
    for (int row = 0; row < count && !stopRequested_.load(); ++row) {
        if (job_.beforeRow) job_.beforeRow(row);
        QImage thumbnail;
        if (job_.mode == BrowserMode::Audio) {
            thumbnail = job_.audioPicture;
        } else if (!PhotoLoader::load(thumbnail, job_.size.width(), job_.size.height(),
                                      joinPath(job_.folder, job_.names[static_cast<std::size_t>(row)]),
                                      kWhiteBackground)) {
            continue;  // the row keeps its blank picture
        }
        thumbnail.setDevicePixelRatio(job_.devicePixelRatio);
        deliver_(row, thumbnail);
    }
    deliver_(-1, QImage());
    {
        std::lock_guard lock(mutex_);
        finished_.store(true);
    }
    ended_.notify_all();
}

}  // namespace kestrelle
