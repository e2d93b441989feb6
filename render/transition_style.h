#pragma once
// The common shape of a transition effect, the registry of the twelve effects, and the small interfaces
// through which an effect hands its steps to a video writer or to a window.
//
// Surfaces are QImage::Format_RGB32 pictures (any 32-bit format works: four bytes per pixel, blue,
// green, red, unused). An effect draws on the current picture in place, step by step, copying
// rectangles of the next picture onto it; copies are clipped to both pictures.

#include <QImage>

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <vector>

namespace kestrelle {

// Copies the w x h rectangle whose top-left corner is (sx, sy) in `source` to (dx, dy) in `dest`.
// Only the part that lies inside both pictures is copied; a pixel pair with either side outside copies
// nothing. Both pictures must have 32 bits per pixel, otherwise nothing is copied. `dest` and `source`
// may be the same picture.
void copyRect(QImage& dest, std::int64_t dx, std::int64_t dy, const QImage& source, std::int64_t sx,
              std::int64_t sy, std::int64_t w, std::int64_t h);

// Receives the frames of an effect that runs into a video.
class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // One frame: width x height pixels, width * height * 4 bytes without row padding, rows in the
    // canvas's own order, plus `sampleCount` audio samples from `audio`. Returns false when the frame
    // was refused. The pointers are valid only during the call.
    virtual bool writeFrame(const std::uint8_t* pixels, int width, int height, const std::uint8_t* audio,
                            int sampleCount) = 0;
};

// Shows the steps of an effect that runs on screen.
class FramePresenter {
public:
    virtual ~FramePresenter() = default;
    // Shows the whole of `picture` with its top-left corner at (x, y) of the target. The picture is
    // valid only during the call; keep a copy to show it later.
    virtual void present(const QImage& picture, int x, int y) = 0;
};

// Waits between the steps of an on-screen run.
class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void sleepMs(int milliseconds) = 0;
};

// The real clock: blocks the calling thread.
Sleeper& systemSleeper();

// Progress of a video run: the frame counter after each advance.
using ProgressCallback = std::function<void(int frameCounter)>;

// What a video run did.
struct VideoRunResult {
    int advanced = 0;           // how often the frame counter was advanced (the "Act" of the run log)
    int written = 0;            // frames the writer accepted
    int refused = 0;            // frames the writer refused (0 or 1: a refusal ends the run)
    bool limitReached = false;  // the frame counter reached the frame limit and ended the run
};

// The pseudo-random generator shared by every effect and by the random pick: one per process,
// guarded by a lock so that several threads may use it at once.
namespace SharedRandom {
// Reseeds the generator.
void seed(std::uint32_t value);
// Reseeds the generator and returns its first value, in one locked go.
std::uint32_t seedAndNext(std::uint32_t value);
// Fills `out` with the next `count` values, in one locked go.
void next(std::uint32_t* out, std::size_t count);
}  // namespace SharedRandom

// The time in whole seconds, as the random pick and the random blocks seed the generator with it.
std::uint32_t secondsSeed(std::int64_t seconds);

// One transition effect. Effects hold no state of their own between runs and may run on several threads
// at once, each run on its own surfaces.
class TransitionStyle {
public:
    // Frames an effect writes carry this many audio samples from `audioBlock()`.
    static constexpr int kAudioSamplesPerFrame = 8;
    static constexpr std::size_t kAudioBlockBytes = 512;

    virtual ~TransitionStyle() = default;
    TransitionStyle(const TransitionStyle&) = delete;
    TransitionStyle& operator=(const TransitionStyle&) = delete;

    int number() const { return number_; }
    virtual const char* name() const = 0;
    // Silence handed to the writer with every frame; never changes.
    const std::uint8_t* audioBlock() const { return audioBlock_.data(); }

    // Runs the effect into a video: draws each step on `canvas` (the current picture) from `source` (the
    // next picture), advances `frameCounter` and reports it through `progress`, and writes the whole
    // canvas as one frame. A step whose advance brings the counter to `frameLimit` or beyond is not
    // written and ends the run; so does a step whose frame the writer refuses. `need` is the number of frames
    // the transition should take; one that is not a positive finite number gives a run without steps. Logs
    // the need and the advance count.
    VideoRunResult renderToVideo(QImage& canvas, const QImage& source, double need, FrameWriter& writer,
                                 int& frameCounter, int frameLimit,
                                 const ProgressCallback& progress = {}) const;

    // Runs the effect on screen: draws each step on `work` (the current picture) from `source`, shows
    // the whole of `work` at (x, y), then pauses trunc(seconds * 1000 / steps) ms; after the last step it
    // shows the whole of `source`, so the run always ends on the complete next picture.
    void animateOnScreen(FramePresenter& target, int x, int y, QImage& work, const QImage& source,
                         double steps, double seconds, Sleeper& sleeper = systemSleeper()) const;

    // The pause after each on-screen step, in milliseconds (0 when it cannot be worked out).
    static int pauseMs(double steps, double seconds);

protected:
    explicit TransitionStyle(int number);

    // Called at the end of each step; returns false when the run must stop at once.
    using StepEnd = std::function<bool()>;
    // Draws the effect's steps on `canvas` from `source` for the step target `target` (a positive finite
    // number), calling `endStep` after each step.
    virtual void drawSteps(QImage& canvas, const QImage& source, double target,
                           const StepEnd& endStep) const = 0;

private:
    const int number_;
    std::array<std::uint8_t, kAudioBlockBytes> audioBlock_{};
};

// The twelve effects in their fixed order 1..12 (also the order of the chooser's buttons). One registry
// lives for the whole run; it never changes after construction, so any thread may use it.
class TransitionRegistry {
public:
    static constexpr int kEffectCount = 12;

    static const TransitionRegistry& instance();

    // The effect with `number`, or none. 0 picks one at random: the shared generator is seeded with the
    // current time in whole seconds, so every pick within the same second gives the same effect. The
    // number looked up is logged, also when no effect has it.
    const TransitionStyle* find(int number) const;
    // The same with the clock given, in whole seconds.
    const TransitionStyle* find(int number, std::int64_t nowSeconds) const;

    // The effects in registry order.
    const std::vector<const TransitionStyle*>& styles() const { return order_; }

private:
    TransitionRegistry();
    std::vector<std::unique_ptr<const TransitionStyle>> owned_;
    std::vector<const TransitionStyle*> order_;
};

}  // namespace kestrelle
