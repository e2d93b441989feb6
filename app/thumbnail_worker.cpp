#include "app/thumbnail_worker.h"

#include "app/folder_source.h"
#include "render/photo_loader.h"

#include <thread>

namespace kestrelle {

ThumbnailWorker::ThumbnailWorker(Job job, Delivery deliver, QObject* context, std::function<void()> ended)
    : job_(std::move(job)), taken_(job_.names.size(), false), deliver_(std::move(deliver)) {
    thread_.start([this](std::stop_token stop) { run(stop); }, context, std::move(ended));
}

void ThumbnailWorker::stopAndWait(QEventLoop::ProcessEventsFlags flags) {
    requestStop();
    thread_.waitForEnd(flags);
}

void ThumbnailWorker::showRowsFrom(int row) {
    std::lock_guard<std::mutex> guard(rowsLock_);
    if (row >= 0 && row < static_cast<int>(taken_.size())) wanted_ = row;
}

int ThumbnailWorker::takeRow() {
    std::lock_guard<std::mutex> guard(rowsLock_);
    const int count = static_cast<int>(taken_.size());
    if (wanted_ >= 0) {
        cursor_ = wanted_;
        wanted_ = -1;
    }
    for (int step = 0; step < count; ++step) {
        const int row = (cursor_ + step) % count;
        if (taken_[static_cast<std::size_t>(row)]) continue;
        taken_[static_cast<std::size_t>(row)] = true;
        cursor_ = row + 1;
        return row;
    }
    return -1;
}

void ThumbnailWorker::makeRow(int row) {
    if (job_.beforeRow) job_.beforeRow(row);
    QImage thumbnail;
    if (job_.mode == BrowserMode::Audio) {
        thumbnail = job_.audioPicture;
    } else if (!PhotoLoader::load(thumbnail, job_.size.width(), job_.size.height(),
                                  joinPath(job_.folder, job_.names[static_cast<std::size_t>(row)]),
                                  kWhiteBackground)) {
        return;  // the row keeps its blank picture
    }
    thumbnail.setDevicePixelRatio(job_.devicePixelRatio);
    deliver_(row, thumbnail);
}

void ThumbnailWorker::run(const std::stop_token& stop) {
    const int count = static_cast<int>(job_.names.size());
    // Rows go out in order, top first (the ones in view; after a scroll, those then in view), to two
    // decoding threads where the machine has the cores: decoding is most of a thumbnail's time.
    auto work = [this, &stop] {
        for (int row = takeRow(); row >= 0 && !stop.stop_requested(); row = takeRow()) makeRow(row);
    };
    std::jthread second;
    if (job_.mode == BrowserMode::Photo && count > 1 && std::thread::hardware_concurrency() >= 2) {
        second = std::jthread(work);
    }
    work();
    if (second.joinable()) second.join();
    deliver_(-1, QImage());
}

}  // namespace kestrelle
