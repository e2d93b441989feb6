#pragma once
// The transition chooser's live sample, free of widgets: a loop that plays the effect the pointer last
// rested on, over and over, from the slide's photo into the next one (or black into white without a
// project). It runs on its own thread; the dialog sets the hovered effect and the stop request through
// atomics that each run reads once at its start, so the dialog never waits for a run to end.

#include "render/transition_style.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

namespace kestrelle {

// What the sample plays from and into.
struct SampleSource {
    // False: black into white (the chooser opened without a project).
    bool fromProject = false;
    // The slide's photo, and the next slide's (empty: black after the last slide).
    std::string currentPhoto;
    std::string nextPhoto;
};

// The two pictures of a sample run at width x height (RGB32): photos fitted on black.
struct SamplePictures {
    QImage current;
    QImage next;
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
