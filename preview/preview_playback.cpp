#include "preview/preview_playback.h"

#include "base/run_log.h"
#include "project/show_frames.h"
#include "project/slide_pictures.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "render/builtin_pictures.h"
#include "render/photo_loader.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <future>
#include <memory>
#include <optional>

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

double PreviewPlayback::slideSpanSeconds(int slideIndex) const {
    return kestrelle::slideSpanSeconds(project_, slideIndex);
}

SlidePicture PreviewPlayback::loadPicture(int slideIndex) const {
    // The picture the generation job makes, at the preview's size.
    SlidePicture result = slidePicture(project_, slideIndex, QSize(width_, height_), findFaces_);
    if (result.moves()) return result;
    QImage& picture = result.still;
    if (picture.isNull() || picture.width() != width_ || picture.height() != height_) {
        // Black in the preview's size (the built-in picture, cut or padded with black).
        picture = endingBlack().copy(0, 0, width_, height_);
    }
    return result;
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

// Shows `frames` frames of a moving photo at the profile's rate, frame f drawn at the time the video's
// frame spanFrame + f has in the slide's motion. The pauses add up to whole milliseconds of the rate's
// own clock, so 29.97 frames a second do not drift. False when a stop was asked for.
bool PreviewPlayback::playMovingStill(const SlidePicture& picture, std::int64_t spanFrame,
                                      std::int64_t frames) {
    const double rate = framesPerSecond_;
    QImage frame;
    for (std::int64_t f = 0; f < frames; ++f) {
        presenter_.present(picture.frameAt(static_cast<double>(spanFrame + f) / rate, frame), 0, 0);
        if (stopRequested()) return false;
        const auto due = [rate](std::int64_t n) {
            return std::llround(static_cast<double>(n) * 1000.0 / rate);
        };
        sleeper_.sleepMs(static_cast<int>(std::clamp<long long>(due(f + 1) - due(f), 0, INT_MAX)));
    }
    return true;
}

// The still phase on the show's clock, between the video's frames firstFrame and firstFrame + frames. A
// still picture is shown again every 40 ms so that a stop is seen as quickly as without a clock; a moving
// one is drawn for every video frame, at that frame's time in its motion (spanFrame + f). False when a
// stop was asked for or the clock stopped.
bool PreviewPlayback::playStillOnClock(ShowClock& clock, const SlidePicture& picture, std::int64_t spanFrame,
                                       std::int64_t firstFrame, std::int64_t frames) {
    const double fps = framesPerSecond_;
    const std::int64_t change = firstFrame + frames;
    if (picture.moves()) {
        QImage frame;
        for (std::int64_t f = 0; f < frames; ++f) {
            presenter_.present(picture.frameAt(static_cast<double>(spanFrame + f) / fps, frame), 0, 0);
            if (stopRequested()) return false;
            if (!clock.waitUntil(static_cast<double>(firstFrame + f + 1) / fps)) {
                requestStop();  // the sound was stopped: the preview is closing
                return false;
            }
        }
        return true;
    }
    const double tickSeconds = kTickMs / 1000.0;
    const double startSeconds = static_cast<double>(firstFrame) / fps;
    const double changeSeconds = static_cast<double>(change) / fps;
    for (std::int64_t tick = 1; change > firstFrame; ++tick) {
        presenter_.present(picture.still, 0, 0);
        if (stopRequested()) return false;
        double t = startSeconds + static_cast<double>(tick) * tickSeconds;
        if (t >= changeSeconds - 1e-9) t = changeSeconds;
        if (!clock.waitUntil(t)) {
            requestStop();  // the sound was stopped: the preview is closing
            return false;
        }
        if (t == changeSeconds) break;
    }
    return true;
}

// Without a clock, still pictures are shown in 40 ms ticks and transitions step at the profile's rate with
// the sleeper's pauses. On the clock every slide keeps the video's timing: slide e's still lasts
// slideFrameCount frames and its transition as many frames as the effect takes steps in the video, as the
// generation job writes them.
void PreviewPlayback::run() {
    const int total = project_.cellCount();
    const int placeholders = project_.placeholderCount();
    const int photoSlides = total - placeholders;
    KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide total count %d,default count %d", total, placeholders);
    KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide count %d", photoSlides);
    if (width_ <= 0 || height_ <= 0) return;

    const double fps = framesPerSecond_;
    const bool rateKnown = std::isfinite(fps) && fps > 0.0;
    ShowClock* clock = rateKnown ? clock_ : nullptr;
    std::int64_t frame = 0;  // on the clock: the video frame the current slide's still begins at
    // Frames of the current slide's span before its still: its incoming transition's, as the video has them.
    std::int64_t spanFrame = 0;
    SlidePicture current = photoSlides > 0 ? loadPicture(0) : SlidePicture();
    for (int e = 0; e < photoSlides; ++e) {
        if (stopRequested()) return;
        const Slide* slide = project_.slide(e);
        if (!slide) return;
        // The next picture loads while this slide's still plays (at once, where no thread can be had).
        std::future<SlidePicture> nextLoad =
            std::async(std::launch::async | std::launch::deferred, [this, e] { return loadPicture(e + 1); });
        const std::int64_t stillFrames = rateKnown ? slideFrameCount(slide->slideDuration, fps) : 0;
        if (clock) {
            if (!playStillOnClock(*clock, current, spanFrame, frame, stillFrames)) return;
        } else if (current.moves()) {
            if (!playMovingStill(current, spanFrame, rateKnown ? stillFrames : 0)) return;
        } else if (!playStill(current.still, slide->slideDuration)) {
            return;
        }
        const SlidePicture next = nextLoad.get();

        KESTRELLE_LOG_AS(kLogSource, 0, "Preview slide index %d,Transition %d", e, slide->transitionEffect);
        // An effect number that is not found: the slide is shown without its transition (the video leaves
        // it out too).
        const std::int64_t change = frame + stillFrames;
        std::int64_t transitionFrames = 0;
        if (const TransitionStyle* style = TransitionRegistry::instance().find(slide->transitionEffect)) {
            std::optional<ClockStepSleeper> clockSteps;
            if (clock) clockSteps.emplace(*clock, *this, change, fps);
            Sleeper& pacing = clockSteps ? static_cast<Sleeper&>(*clockSteps) : sleeper_;
            const double steps = fps * slide->transitionDuration;
            if (current.moves() || next.moves()) {
                // The effect runs over label pictures; each step is drawn from both photos at its time.
                QImage work = labelPicture(width_, height_, false);
                const QImage source = labelPicture(width_, height_, true);
                MovingTransitionPresenter moving(
                    presenter_, current, next, static_cast<double>(spanFrame + stillFrames) / fps, 1.0 / fps);
                StoppableTarget target(*this, moving, pacing);
                style->animateOnScreen(target, 0, 0, work, source, steps, slide->transitionDuration, target);
            } else {
                QImage work = current.still;
                StoppableTarget target(*this, presenter_, pacing);
                style->animateOnScreen(target, 0, 0, work, next.still, steps, slide->transitionDuration,
                                       target);
            }
            if (clockSteps && clockSteps->stopped()) return;
            transitionFrames =
                jobTransitionFrames(style->number(), slide->transitionDuration, fps, videoSize_);
        }
        frame = change + transitionFrames;
        spanFrame = transitionFrames;
        current = next;
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
