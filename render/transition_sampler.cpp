#include "render/transition_sampler.h"

#include "render/photo_loader.h"

#include <algorithm>
#include <chrono>

namespace kestrelle {
namespace {

QImage filledPicture(int width, int height, QRgb colour) {
    QImage picture(width, height, QImage::Format_RGB32);
    picture.fill(colour);
    return picture;
}

// A photo fitted on black; black when it cannot be loaded at all.
QImage photoOrBlack(const std::string& path, int width, int height) {
    QImage picture;
    if (path.empty() || !PhotoLoader::load(picture, width, height, path, kBlackBackground)) {
        return filledPicture(width, height, qRgb(0, 0, 0));
    }
    return picture;
}

}  // namespace

SamplePictures loadSamplePictures(const SampleSource& source, int width, int height) {
    width = std::max(1, width);
    height = std::max(1, height);
    SamplePictures pictures;
    if (!source.fromProject) {
        pictures.current = filledPicture(width, height, qRgb(0, 0, 0));
        pictures.next = filledPicture(width, height, qRgb(255, 255, 255));
        return pictures;
    }
    pictures.current = photoOrBlack(source.currentPhoto, width, height);
    pictures.next = photoOrBlack(source.nextPhoto, width, height);
    return pictures;
}

void InterruptibleSleeper::sleepMs(int milliseconds) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(std::max(0, milliseconds)),
                   [this] { return interrupted_; });
}

void InterruptibleSleeper::interrupt() {
    {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

TransitionSampler::TransitionSampler(SampleSource source, int width, int height, FramePresenter& presenter,
                                     Sleeper& sleeper)
    : source_(std::move(source)),
      width_(std::max(1, width)),
      height_(std::max(1, height)),
      presenter_(presenter),
      sleeper_(sleeper) {}

void TransitionSampler::setSize(int width, int height) {
    width_ = std::max(1, width);
    height_ = std::max(1, height);
    loaded_ = false;
}

int TransitionSampler::runOnce() {
    // The pictures do not change while the chooser is open: loaded once, copied for each run.
    if (!loaded_) {
        pictures_ = loadSamplePictures(source_, width_, height_);
        loaded_ = true;
    }
    const TransitionStyle* style = TransitionRegistry::instance().find(hoveredStyle_.load());
    if (!style) {
        sleeper_.sleepMs(static_cast<int>(kSeconds * 1000));
        return -1;
    }
    QImage work = pictures_.current.copy();
    style->animateOnScreen(presenter_, 0, 0, work, pictures_.next, kSteps, kSeconds, sleeper_);
    return style->number();
}

void TransitionSampler::run() {
    while (!stopRequested_.load()) {
        runOnce();
    }
}

}  // namespace kestrelle
