#include "render/transition_sampler.h"

#include "render/photo_loader.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

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

// A photo drawn the way its look says: fitted on black when it is still, else decoded once and drawn at
// any time of its motion (the first frame stands still for a photo that fills but does not move).
SlidePicture lookedPhoto(const std::string& path, const SampleLook& look, const SampleSource& source,
                         int width, int height) {
    SlidePicture picture;
    if (path.empty() || isStill(look.motion, look.fit)) {
        picture.still = photoOrBlack(path, width, height);
        return picture;
    }
    MovingPhotoRequest request;
    request.path = path;
    request.output = QSize(width, height);
    request.motion = look.motion;
    request.fit = look.fit;
    request.seed = source.motionSeed;
    request.slideIndex = look.slideIndex;
    request.totalSeconds = look.spanSeconds;
    request.findFaces = source.findFaces;
    auto moving = std::make_shared<MovingPhoto>(MovingPhoto::load(request));
    if (moving->moves() && labelsFit(width, height)) {
        picture.moving = std::move(moving);
        return picture;
    }
    if (!moving->draw(0.0, picture.still) || picture.still.size() != QSize(width, height))
        picture.still = filledPicture(width, height, qRgb(0, 0, 0));
    return picture;
}

}  // namespace

SamplePictures loadSamplePictures(const SampleSource& source, int width, int height) {
    width = std::max(1, width);
    height = std::max(1, height);
    SamplePictures pictures;
    if (!source.fromProject) {
        pictures.current.still = filledPicture(width, height, qRgb(0, 0, 0));
        pictures.next.still = filledPicture(width, height, qRgb(255, 255, 255));
        return pictures;
    }
    pictures.current = lookedPhoto(source.currentPhoto, source.currentLook, source, width, height);
    pictures.next = lookedPhoto(source.nextPhoto, source.nextLook, source, width, height);
    const double start = source.currentLook.spanSeconds - source.transitionSeconds;
    pictures.currentStartSeconds = std::isfinite(start) ? std::max(0.0, start) : 0.0;
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
    if (pictures_.current.moves() || pictures_.next.moves()) {
        // The effect runs over label pictures; every step shows both photos where the video has them that
        // long into the transition.
        QImage work = labelPicture(width_, height_, false);
        const QImage labels = labelPicture(width_, height_, true);
        MovingTransitionPresenter moving(presenter_, pictures_.current, pictures_.next,
                                         pictures_.currentStartSeconds, kSeconds / kSteps);
        style->animateOnScreen(moving, 0, 0, work, labels, kSteps, kSeconds, sleeper_);
        return style->number();
    }
    QImage work = pictures_.current.still.copy();
    style->animateOnScreen(presenter_, 0, 0, work, pictures_.next.still, kSteps, kSeconds, sleeper_);
    return style->number();
}

void TransitionSampler::run() {
    while (!stopRequested_.load()) {
        runOnce();
    }
}

}  // namespace kestrelle
