#include "app/thumbnail_worker.h"

#include "app/folder_source.h"
#include "render/photo_loader.h"

namespace kestrelle {

ThumbnailWorker::ThumbnailWorker(Job job, Delivery deliver, QObject* context, std::function<void()> ended)
    : job_(std::move(job)), deliver_(std::move(deliver)) {
    thread_.start([this](std::stop_token stop) { run(stop); }, context, std::move(ended));
}

void ThumbnailWorker::stopAndWait(QEventLoop::ProcessEventsFlags flags) {
    requestStop();
    thread_.waitForEnd(flags);
}

void ThumbnailWorker::run(const std::stop_token& stop) {
    const int count = static_cast<int>(job_.names.size());
    for (int row = 0; row < count && !stop.stop_requested(); ++row) {
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
}

}  // namespace kestrelle
