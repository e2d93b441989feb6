#pragma once
// The preview's playback: what the preview worker does, without a window. Each photo slide is shown
// still in ticks of 40 ms (25 a second, whatever the profile says), then its transition runs on screen
// at the profile's frame rate into the next slide's photo, or into black after the last slide.
// Frames go to a FramePresenter, pauses to a Sleeper, so tests can run it without waiting.
//
// A slide whose photo moves (or fills the frame) is drawn the way the video draws it, at the preview's
// size: its still frames at the profile's rate, each at the time the video's frame has in the slide's
// motion, and its transitions through label pictures, both photos moving while the effect runs. Slides
// with the still letterboxed photo are shown exactly as described above. The next slide's picture is
// loaded on a thread of its own while the current one plays.
//
// While the soundtrack plays, the pictures keep to the sound's clock instead (a ShowClock): every still
// and every transition step is shown at the time its frame has in the written video, so slide changes
// fall where the video has them, on the music.

#include "project/fit_to_music.h"
#include "render/moving_frames.h"
#include "render/transition_style.h"

#include <QImage>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

namespace kestrelle {

class SlideShowProject;

// A clock the pictures follow instead of the sleeper: the time of the sound that plays with them.
class ShowClock {
public:
    virtual ~ShowClock() = default;
    // Returns once the show has reached `seconds` from its start (at once when it has already); false
    // when the clock was stopped first.
    virtual bool waitUntil(double seconds) = 0;
};

// Still ticks of a slide shown for `slideSeconds`: ceil(25 x seconds), none when that is not above 0.
std::int64_t stillTickCount(double slideSeconds);

class PreviewPlayback {
public:
    static constexpr int kTickMs = 40;
    static constexpr int kTicksPerSecond = 25;

    // Pictures are fitted into width x height (the preview area in device pixels). `project` must stay
    // unchanged while run() runs; presenter and sleeper must outlive it.
    PreviewPlayback(const SlideShowProject& project, int width, int height, double framesPerSecond,
                    FramePresenter& presenter, Sleeper& sleeper);
    PreviewPlayback(const PreviewPlayback&) = delete;
    PreviewPlayback& operator=(const PreviewPlayback&) = delete;

    // Pictures keep to `clock` (not owned; nullptr: the sleeper's pauses) from the next run() on, on the
    // frame times of a video of `videoSize` (the output profile's, where the steps of some effects depend
    // on it).
    void setShowClock(ShowClock* clock, VideoSize videoSize = {}) {
        clock_ = clock;
        videoSize_ = videoSize;
    }

    // The video's picture size, where the steps of some effects depend on it: a moving slide's motion
    // then goes on from where the video's frames have it after such a transition. Before run().
    void setVideoSize(VideoSize videoSize) { videoSize_ = videoSize; }

    // Finds faces for the moving slides (the generation job's finder, so that both pick the same
    // motions); none by default. Before run().
    void setFaceFinder(FaceFinder findFaces) { findFaces_ = std::move(findFaces); }

    // The worker body: plays every photo slide once, then returns. Returns early after requestStop():
    // at the next still tick, or at the end of a running transition, whose remaining steps are then
    // drawn without pauses and not shown.
    void run();

    // Any thread.
    void requestStop();
    bool stopRequested() const;

    // Slide `slideIndex`'s picture as the preview draws it: the photo fitted into the preview area, a
    // moving photo drawn at that size, or black after the last slide (and for a photo that cannot be read).
    SlidePicture loadPicture(int slideIndex) const;
    // How long slide `slideIndex`'s motion runs: its incoming transition, its still, its own transition.
    double slideSpanSeconds(int slideIndex) const;

private:
    bool playStill(const QImage& picture, double slideSeconds);
    bool playMovingStill(const SlidePicture& picture, std::int64_t spanFrame, std::int64_t frames);
    bool playStillOnClock(ShowClock& clock, const SlidePicture& picture, std::int64_t spanFrame,
                          std::int64_t firstFrame, std::int64_t frames);

    const SlideShowProject& project_;
    const int width_;
    const int height_;
    const double framesPerSecond_;
    FramePresenter& presenter_;
    Sleeper& sleeper_;
    ShowClock* clock_ = nullptr;
    VideoSize videoSize_;
    FaceFinder findFaces_;
    std::atomic<bool> stopRequested_{false};
};

// The real pacing of a preview: keeps to a running deadline, so the time spent drawing does not add up
// over thousands of pauses; a stall of more than a few frames is not caught up in a burst. interrupt()
// cuts a pause short and makes every later one return at once.
class PacedSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override;
    void interrupt();

private:
    using Clock = std::chrono::steady_clock;
    std::mutex lock_;
    std::condition_variable wake_;
    bool interrupted_ = false;
    bool started_ = false;
    Clock::time_point deadline_;
};

}  // namespace kestrelle
