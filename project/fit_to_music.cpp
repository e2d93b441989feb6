#include "project/fit_to_music.h"

#include "media/soundtrack_mix.h"
#include "project/show_frames.h"
#include "project/slideshow_project.h"
#include "project/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <optional>
#include <set>

namespace kestrelle {

namespace {

// A stored still is its whole frame count plus this fraction of a frame, divided by the frame rate: far
// from roundHalfDown's half-way points, so the frame count read back is the one planned whatever the
// floating-point error, and the show's total stays a hair above the frame sum (the budget's trunc then
// never loses a frame to that error).
constexpr double kStillBiasFrames = 1e-3;
// More fit rounds than this mean the frame budget keeps jumping around the target: the best is kept.
constexpr int kMaxFitRounds = 24;

// The photo slides as the generation job walks them.
struct Show {
    std::vector<double> stillSeconds;
    std::vector<double> transitionSeconds;
    std::vector<std::int64_t> transitionFrames;  // as the effects step through them
};

Show showOf(const SlideShowProject& project, double fps, VideoSize size) {
    Show show;
    const int count = project.photoSlideCount();
    for (int i = 0; i < count; ++i) {
        const Slide* slide = project.slide(i);
        show.stillSeconds.push_back(slide->slideDuration);
        show.transitionSeconds.push_back(slide->transitionDuration);
        show.transitionFrames.push_back(
            jobTransitionFrames(slide->transitionEffect, slide->transitionDuration, fps, size));
    }
    return show;
}

// The frames the generation job writes for these durations (the budget summed in the project's own
// order, as the job's is).
std::int64_t writtenFrames(const std::vector<double>& stillSeconds, const Show& show, double fps) {
    double total = 0.0;
    std::vector<std::int64_t> stillFrames;
    for (std::size_t i = 0; i < stillSeconds.size(); ++i) {
        total += stillSeconds[i] + show.transitionSeconds[i];
        stillFrames.push_back(slideFrameCount(stillSeconds[i], fps));
    }
    return scheduledFrames(stillFrames, show.transitionFrames, frameBudget(total, fps));
}

// Fewest whole frames a still may take: at least kMinFittedStillSeconds.
std::int64_t minimumStillFrames(double fps) {
    return std::max<std::int64_t>(1,
                                  static_cast<std::int64_t>(std::ceil(kMinFittedStillSeconds * fps - 1e-9)));
}

double stillSecondsFor(std::int64_t frames, double fps) {
    return std::min((static_cast<double>(frames) + kStillBiasFrames) / fps, kMaxDurationSeconds);
}

std::vector<double> stillSecondsFor(const std::vector<std::int64_t>& frames, double fps) {
    std::vector<double> seconds;
    seconds.reserve(frames.size());
    for (const std::int64_t f : frames) seconds.push_back(stillSecondsFor(f, fps));
    return seconds;
}

// Shares `total` frames among stills in proportion to `weights` (one factor for all), none below
// `minimum`: stills that would fall below it are held there and the others share the rest. Rounded so
// that the shares add up to `total` exactly. `total` must be at least weights.size() x minimum.
std::vector<std::int64_t> shareFrames(const std::vector<double>& weights, std::int64_t total,
                                      std::int64_t minimum) {
    const std::size_t n = weights.size();
    std::vector<double> w(n);
    bool anyPositive = false;
    for (std::size_t i = 0; i < n; ++i) {
        w[i] = std::isfinite(weights[i]) && weights[i] > 0.0 ? weights[i] : 0.0;
        anyPositive = anyPositive || w[i] > 0.0;
    }
    if (!anyPositive) std::fill(w.begin(), w.end(), 1.0);

    // The lightest stills are held at the minimum while their share would fall below it.
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return w[a] < w[b]; });
    double freeWeight = std::accumulate(w.begin(), w.end(), 0.0);
    std::size_t held = 0;
    double factor = 0.0;
    for (; held < n; ++held) {
        const double freeFrames = static_cast<double>(total - static_cast<std::int64_t>(held) * minimum);
        factor = freeWeight > 0.0 ? freeFrames / freeWeight : 0.0;
        if (w[order[held]] * factor >= static_cast<double>(minimum)) break;
        freeWeight -= w[order[held]];
    }
    std::vector<double> exact(n, static_cast<double>(minimum));
    for (std::size_t k = held; k < n; ++k) exact[order[k]] = w[order[k]] * factor;

    // Cumulative rounding: each share is within one frame of its exact value and the sum is exact.
    std::vector<std::int64_t> frames(n, minimum);
    double running = 0.0;
    std::int64_t roundedBefore = 0;
    for (std::size_t i = 0; i < n; ++i) {
        running += exact[i];
        const std::int64_t rounded = i + 1 == n ? total : std::llround(running);
        frames[i] = std::max(rounded - roundedBefore, minimum);
        roundedBefore += frames[i];
    }
    // Floating-point error may have left the sum a frame or two off: settle it on the longest stills.
    std::int64_t excess = std::accumulate(frames.begin(), frames.end(), std::int64_t{0}) - total;
    while (excess != 0 && n > 0) {
        const auto longest = std::max_element(frames.begin(), frames.end());
        if (excess > 0 && *longest <= minimum) break;
        *longest += excess > 0 ? -1 : 1;
        excess += excess > 0 ? -1 : 1;
    }
    return frames;
}

struct StillPlan {
    std::vector<std::int64_t> frames;
    std::int64_t written = 0;  // frames the job writes with these stills
    bool atMinimum = false;    // every still at the minimum and still too long
    bool tooShort = false;     // the stills cannot be made long enough
};

// The even fit: one factor on every still (the minimum holding), the total of still frames settled so
// that the job writes `target` frames. The budget's trunc makes the written count jump now and then, so
// the total is corrected a few rounds and the closest kept.
StillPlan evenPlan(const Show& show, std::int64_t target, double fps) {
    const std::int64_t n = static_cast<std::int64_t>(show.stillSeconds.size());
    const std::int64_t minimum = minimumStillFrames(fps);
    const std::int64_t transitions =
        std::accumulate(show.transitionFrames.begin(), show.transitionFrames.end(), std::int64_t{0});
    std::int64_t stills = target - 1 - transitions;  // without a budget cut: stills + transitions + closing
    StillPlan best;
    std::set<std::int64_t> tried;
    for (int round = 0; round < kMaxFitRounds; ++round) {
        stills = std::max(stills, n * minimum);
        if (!tried.insert(stills).second) break;
        StillPlan plan;
        plan.frames = shareFrames(show.stillSeconds, stills, minimum);
        plan.written = writtenFrames(stillSecondsFor(plan.frames, fps), show, fps);
        plan.atMinimum = stills == n * minimum && plan.written > target + 1;
        if (best.frames.empty() || std::llabs(plan.written - target) < std::llabs(best.written - target)) {
            best = plan;
        }
        if (plan.written == target || plan.atMinimum) break;
        stills += target - plan.written;
    }
    best.tooShort = !best.atMinimum && best.written < target - 1;
    return best;
}

bool validRate(double fps) {
    return std::isfinite(fps) && fps > 0.0;
}

// The music's length in frames at `fps`, or 0 when there is no music to fit to.
std::int64_t musicFrames(double musicSeconds, double fps) {
    if (!std::isfinite(musicSeconds) || !(musicSeconds > 0.0)) return 0;
    // Beyond this the project's one-day limit on every still holds the show back anyway.
    constexpr double kLimitFrames = 1e15;
    return std::llround(std::min(musicSeconds * fps, kLimitFrames));
}

void storeStills(SlideShowProject& project, const std::vector<std::int64_t>& frames, double fps) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
        project.setSlideDuration(static_cast<int>(i), stillSecondsFor(frames[i], fps));
    }
}

double videoSecondsOf(const SlideShowProject& project, double fps, VideoSize size) {
    if (!validRate(fps) || project.photoSlideCount() == 0) return 0.0;
    return static_cast<double>(jobVideoFrames(project, fps, size)) / fps;
}

// The outcome when nothing may change, or nullopt when there is something to fit.
std::optional<FitResult> unchanged(const SlideShowProject& project, double musicSeconds, double fps,
                                   VideoSize size) {
    if (project.photoSlideCount() == 0) return FitResult{FitOutcome::NoSlides, 0.0};
    if (!validRate(fps) || musicFrames(musicSeconds, fps) == 0) {
        return FitResult{FitOutcome::NoMusic, videoSecondsOf(project, fps, size)};
    }
    return std::nullopt;
}

}  // namespace

FitResult fitToMusic(SlideShowProject& project, double musicSeconds, double fps, VideoSize size) {
    if (const auto result = unchanged(project, musicSeconds, fps, size)) return *result;
    const Show show = showOf(project, fps, size);
    const StillPlan plan = evenPlan(show, musicFrames(musicSeconds, fps), fps);
    storeStills(project, plan.frames, fps);
    const FitOutcome outcome = plan.atMinimum  ? FitOutcome::StillsAtMinimum
                               : plan.tooShort ? FitOutcome::StillsAtMaximum
                                               : FitOutcome::Fitted;
    return {outcome, videoSecondsOf(project, fps, size)};
}

FitResult fitToBeats(SlideShowProject& project, const std::vector<double>& beatSeconds, double musicSeconds,
                     double fps, VideoSize size) {
    if (const auto result = unchanged(project, musicSeconds, fps, size)) return *result;
    const Show show = showOf(project, fps, size);
    const std::int64_t target = musicFrames(musicSeconds, fps);
    const StillPlan even = evenPlan(show, target, fps);
    if (even.atMinimum || even.tooShort) {
        storeStills(project, even.frames, fps);
        return {even.atMinimum ? FitOutcome::StillsAtMinimum : FitOutcome::StillsAtMaximum,
                videoSecondsOf(project, fps, size)};
    }

    // The beats as frame numbers: a change on frame round(beat x fps) is within half a frame of it.
    std::vector<std::int64_t> beatFrames;
    for (const double beat : beatSeconds) {
        if (std::isfinite(beat) && beat >= 0.0 && beat <= musicSeconds)
            beatFrames.push_back(std::llround(beat * fps));
    }
    std::sort(beatFrames.begin(), beatFrames.end());
    beatFrames.erase(std::unique(beatFrames.begin(), beatFrames.end()), beatFrames.end());

    const std::size_t n = show.stillSeconds.size();
    const std::int64_t minimum = minimumStillFrames(fps);
    // Transition frames from slide k on, and the frame where each change falls with the even fit.
    std::vector<std::int64_t> transitionsFrom(n + 1, 0);
    for (std::size_t k = n; k-- > 0;) transitionsFrom[k] = transitionsFrom[k + 1] + show.transitionFrames[k];
    std::vector<std::int64_t> evenChange(n);
    std::int64_t position = 0;
    for (std::size_t k = 0; k < n; ++k) {
        evenChange[k] = position + even.frames[k];
        position = evenChange[k] + show.transitionFrames[k];
    }
    const std::int64_t lastFrame = std::max(target, even.written) - 1;

    std::vector<std::int64_t> frames(n);
    std::int64_t stillStart = 0;  // the frame slide k's still begins at
    std::int64_t stillsSoFar = 0;
    std::size_t onBeat = 0;
    for (; onBeat < n; ++onBeat) {
        const std::size_t k = onBeat;
        // The change must leave the minimum still before it, and room for this and the later slides'
        // transitions and minimum stills before the music ends.
        const std::int64_t earliest = stillStart + minimum;
        const std::int64_t latest =
            lastFrame - transitionsFrom[k] - static_cast<std::int64_t>(n - 1 - k) * minimum;
        auto first = std::lower_bound(beatFrames.begin(), beatFrames.end(), earliest);
        auto after = std::upper_bound(beatFrames.begin(), beatFrames.end(), latest);
        if (first >= after) break;
        auto nearest = std::lower_bound(first, after, evenChange[k]);
        if (nearest == after ||
            (nearest != first && evenChange[k] - *(nearest - 1) <= *nearest - evenChange[k])) {
            --nearest;
        }
        frames[k] = *nearest - stillStart;
        stillsSoFar += frames[k];
        stillStart = *nearest + show.transitionFrames[k];
    }
    FitOutcome outcome = FitOutcome::Fitted;
    if (onBeat < n) {
        // The beats ran out (or came too late): the remaining slides share what is left of the even
        // fit's still frames, so the show still ends with the music.
        outcome = FitOutcome::PartlyOnBeats;
        const std::vector<double> weights(show.stillSeconds.begin() + static_cast<std::ptrdiff_t>(onBeat),
                                          show.stillSeconds.end());
        const std::int64_t evenTotal =
            std::accumulate(even.frames.begin(), even.frames.end(), std::int64_t{0});
        const std::int64_t rest =
            std::max(evenTotal - stillsSoFar, static_cast<std::int64_t>(weights.size()) * minimum);
        const std::vector<std::int64_t> shared = shareFrames(weights, rest, minimum);
        std::copy(shared.begin(), shared.end(), frames.begin() + static_cast<std::ptrdiff_t>(onBeat));
    }
    storeStills(project, frames, fps);
    return {outcome, videoSecondsOf(project, fps, size), static_cast<int>(onBeat)};
}

std::vector<double> soundtrackBeats(const std::vector<std::vector<double>>& clipBeats,
                                    const std::vector<double>& clipDurations, double crossfadeSeconds) {
    // Where the mix places each clip, so the beats fall where they are heard.
    const std::vector<double> starts = clipStartSeconds(clipDurations, crossfadeSeconds);
    std::vector<double> beats;
    for (std::size_t k = 0; k < clipDurations.size() && k < clipBeats.size(); ++k) {
        const double length = std::isfinite(clipDurations[k]) ? clipDurations[k] : 0.0;
        for (const double beat : clipBeats[k]) {
            if (std::isfinite(beat) && beat >= 0.0 && beat < length) beats.push_back(starts[k] + beat);
        }
    }
    std::sort(beats.begin(), beats.end());
    return beats;
}

}  // namespace kestrelle
