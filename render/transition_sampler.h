#pragma once
// The transition chooser's live sample, free of widgets: a loop that plays the effect the pointer last
// rested on, over and over, from the slide's photo into the next one (or black into white without a
// project). Photos that move in the video move in the sample too, at the video's speed, through the
// stretch of their motion the slide's transition covers. It runs on its own thread; the dialog sets the
// hovered effect and the stop request through atomics that each run reads once at its start, so the dialog
// never waits for a run to end.

#include "render/moving_frames.h"
#include "render/photo_motion.h"
#include "render/transition_style.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace kestrelle {

// How a sample photo is drawn: its slide's motion and fit (the still letterboxed photo by default), the
// slide's index (which picks a gentle random motion with the seed) and how long its motion runs in the
// video: its incoming transition, its still and its own transition.
struct SampleLook {
    PhotoMotion motion{};
    FitOptions fit{};
    int slideIndex = 0;
    double spanSeconds = 0.0;
};

// What the sample plays from and into.
struct SampleSource {
    // False: black into white (the chooser opened without a project).
    bool fromProject = false;
    // The slide's photo, and the next slide's (empty: black after the last slide).
    std::string currentPhoto;
    std::string nextPhoto;
    // How both photos are drawn, the project's motion seed, and how long the slide's transition lasts (the
    // current photo's sample motion begins that long before the end of its span, as in the video).
    SampleLook currentLook{};
    SampleLook nextLook{};
    std::uint64_t motionSeed = 0;
    double transitionSeconds = 0.0;
    // Optional: keeps faces in the frame as the video does (the generation job's finder).
    FaceFinder findFaces{};
};

// The two pictures of a sample run at width x height (RGB32): photos fitted on black, or moving photos
// drawn afresh for every step.
struct SamplePictures {
    SlidePicture current;
    SlidePicture next;
    // Where the current photo's motion stands when a run begins.
    double currentStartSeconds = 0.0;
};
SamplePictures loadSamplePictures(const SampleSource& source, int width, int height);

// A sleeper whose waits end early once interrupted, so a stopped sample stops at once.
class InterruptibleSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override;
    void interrupt();

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    bool interrupted_ = false;
};

class TransitionSampler {
public:
    // Steps and seconds of one sample run.
    static constexpr double kSteps = 10.0;
    static constexpr double kSeconds = 0.7;

    // `presenter` and `sleeper` must outlive the sampler; the presenter is called on the sampler's thread.
    TransitionSampler(SampleSource source, int width, int height, FramePresenter& presenter,
                      Sleeper& sleeper);

    // The size of the pictures; only before the loop starts.
    void setSize(int width, int height);

    void setHoveredStyle(int effect) { hoveredStyle_.store(effect); }
    int hoveredStyle() const { return hoveredStyle_.load(); }
    void requestStop() { stopRequested_.store(true); }
    bool stopRequested() const { return stopRequested_.load(); }

    // One run with the hovered effect read at its start. Returns the number of the effect played, or -1
    // when the number finds none (the run then just waits one run's time, so the loop never spins).
    int runOnce();
    // Runs until a stop is requested (checked before each run).
    void run();

private:
    const SampleSource source_;
    int width_;
    int height_;
    FramePresenter& presenter_;
    Sleeper& sleeper_;
    std::atomic<int> hoveredStyle_{0};
    std::atomic<bool> stopRequested_{false};
    bool loaded_ = false;
    SamplePictures pictures_;
};

}  // namespace kestrelle
