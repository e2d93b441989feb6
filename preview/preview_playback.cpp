#include "preview/preview_playback.h"

#include "base/run_log.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "render/builtin_pictures.h"
#include "render/photo_loader.h"

#include <algorithm>
#include <cmath>

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "DlgPreview.cpp";
// A pacer further behind than this starts afresh instead of catching up.
constexpr auto kLargestCatchUp = std::chrono::milliseconds(200);

// Passes frames and pauses on to the real ones until a stop is asked for; after that the rest of a
// transition is drawn without being shown or waited for.
class StoppableTarget final : public FramePresenter, public Sleeper {
public:
    StoppableTarget(const PreviewPlayback& playback, FramePresenter& presenter, Sleeper& sleeper)
        : playback_(playback), presenter_(presenter), sleeper_(sleeper) {}

    void present(const QImage& picture, int x, int y) override {
        if (!playback_.stopRequested()) presenter_.present(picture, x, y);
    }
    void sleepMs(int milliseconds) override {
        if (!playback_.stopRequested()) sleeper_.sleepMs(milliseconds);
    }

private:
    const PreviewPlayback& playback_;
    FramePresenter& presenter_;
    Sleeper& sleeper_;
};

// Waits for the show's clock at each step of a transition: step k ends when the video's frame
// `firstFrame + k` is due. A stop (or a stopped clock) makes every later step return at once.
class ClockStepSleeper final : public Sleeper {
public:
    ClockStepSleeper(ShowClock& clock, PreviewPlayback& playback, std::int64_t firstFrame, double fps)
        : clock_(clock), playback_(playback), frame_(firstFrame), fps_(fps) {}

    void sleepMs(int) override {
        if (stopped_ || playback_.stopRequested()) return;
        ++frame_;
        if (clock_.waitUntil(static_cast<double>(frame_) / fps_)) return;
        stopped_ = true;
        playback_.requestStop();  // the sound was stopped: the preview is closing
    }
    bool stopped() const { return stopped_; }

private:
    ShowClock& clock_;
    PreviewPlayback& playback_;
    std::int64_t frame_;
    const double fps_;
    bool stopped_ = false;
};

}  // namespace

std::int64_t stillTickCount(double slideSeconds) {
    const double ticks = PreviewPlayback::kTicksPerSecond * slideSeconds;
    if (!(ticks > 0.0)) return 0;
    if (ticks > 1e15) return static_cast<std::int64_t>(1e15);
    return static_cast<std::int64_t>(std::ceil(ticks));
}

PreviewPlayback::PreviewPlayback(const SlideShowProject& project, int width, int height,
                                 double framesPerSecond, FramePresenter& presenter, Sleeper& sleeper)
    : project_(project),
      width_(width),
      height_(height),
      framesPerSecond_(framesPerSecond),
      presenter_(presenter),
      sleeper_(sleeper) {}

void PreviewPlayback::requestStop() {
    stopRequested_ = true;
}

bool PreviewPlayback::stopRequested() const {
    return stopRequested_;
}

// The slide's photo fitted into the preview area, or the built-in black picture after the last slide.
QImage PreviewPlayback::loadPicture(int slideIndex) const {
    QImage picture;
    const Slide* slide = project_.slide(slideIndex);
    if (slide && slide->hasPhoto && slideIndex < project_.photoSlideCount()) {
        PhotoLoader::load(picture, width_, height_, slide->photoPath, kBlackBackground);
    }
    if (picture.isNull() || picture.width() != width_ || picture.height() != height_) {
        // Black in the preview's size (the built-in picture, cut or padded with black).
        picture = endingBlack().copy(0, 0, width_, height_);
    }
    return picture;
}

// Shows `picture` once per 40 ms tick; false when a stop was asked for.
bool PreviewPlayback::playStill(const QImage& picture, double slideSeconds) {
    const std::int64_t ticks = stillTickCount(slideSeconds);
    for (std::int64_t tick = 0; tick < ticks; ++tick) {
        presenter_.present(picture, 0, 0);
        if (stopRequested()) return false;
        sleeper_.sleepMs(kTickMs);
    }
    return true;
}

void PreviewPlayback::run() {
    const int total = project_.cellCount();
    const int placeholders = project_.placeholderCount();
    const int photoSlides = total - placeholders;
    KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide total count %d,default count %d", total, placeholders);
    KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide count %d", photoSlides);
    if (width_ <= 0 || height_ <= 0) return;

    if (clock_ && std::isfinite(framesPerSecond_) && framesPerSecond_ > 0.0) {
        runOnClock(*clock_, photoSlides);
        return;
    }
    StoppableTarget transitionTarget(*this, presenter_, sleeper_);
    for (int e = 0; e < photoSlides; ++e) {
        if (stopRequested()) return;
        const Slide* slide = project_.slide(e);
        if (!slide) return;
        QImage work = loadPicture(e);
        const QImage source = loadPicture(e + 1);
        if (!playStill(work, slide->slideDuration)) return;

        KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide index %d,Transition %d", e, slide->transitionEffect);
        // An effect number that is not found: the slide is shown without its transition.
        if (const TransitionStyle* style = TransitionRegistry::instance().find(slide->transitionEffect)) {
            style->animateOnScreen(transitionTarget, 0, 0, work, source,
                                   framesPerSecond_ * slide->transitionDuration, slide->transitionDuration,
                                   transitionTarget);
        }
    }
}

// The same walk with the video's timing: slide e's still lasts slideFrameCount frames and its
// transition transitionFrameCount frames at the profile's rate, as the generation job writes them. The
// still is shown again every 40 ms so that a stop is seen as quickly as without a clock.
void PreviewPlayback::runOnClock(ShowClock& clock, int photoSlides) {
    const double fps = framesPerSecond_;
    const double tickSeconds = kTickMs / 1000.0;
    std::int64_t frame = 0;  // the video frame the current slide's still begins at
    for (int e = 0; e < photoSlides; ++e) {
        if (stopRequested()) return;
        const Slide* slide = project_.slide(e);
        if (!slide) return;
        QImage work = loadPicture(e);
        const QImage source = loadPicture(e + 1);
        const std::int64_t change = frame + slideFrameCount(slide->slideDuration, fps);
        const double startSeconds = static_cast<double>(frame) / fps;
        const double changeSeconds = static_cast<double>(change) / fps;
        for (std::int64_t tick = 1; change > frame; ++tick) {
            presenter_.present(work, 0, 0);
            if (stopRequested()) return;
            double t = startSeconds + static_cast<double>(tick) * tickSeconds;
            if (t >= changeSeconds - 1e-9) t = changeSeconds;
            if (!clock.waitUntil(t)) {
                requestStop();  // the sound was stopped: the preview is closing
                return;
            }
            if (t == changeSeconds) break;
        }

        KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide index %d,Transition %d", e, slide->transitionEffect);
        if (const TransitionStyle* style = TransitionRegistry::instance().find(slide->transitionEffect)) {
            ClockStepSleeper steps(clock, *this, change, fps);
            StoppableTarget target(*this, presenter_, steps);
            style->animateOnScreen(target, 0, 0, work, source, fps * slide->transitionDuration,
                                   slide->transitionDuration, target);
            if (steps.stopped()) return;
            frame = change + transitionFrameCount(slide->transitionDuration, fps);
        } else {
            frame = change;  // the video leaves such a transition out too
        }
    }
}

void PacedSleeper::sleepMs(int milliseconds) {
    std::unique_lock<std::mutex> guard(lock_);
    if (interrupted_) return;
    const Clock::time_point now = Clock::now();
    if (!started_ || now - deadline_ > kLargestCatchUp) {
        deadline_ = now;
        started_ = true;
    }
    deadline_ += std::chrono::milliseconds(std::max(0, milliseconds));
    wake_.wait_until(guard, deadline_, [this] { return interrupted_; });
}

void PacedSleeper::interrupt() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        interrupted_ = true;
    }
    wake_.notify_all();
}

}  // namespace kestrelle
