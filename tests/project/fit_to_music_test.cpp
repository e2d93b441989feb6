#include "project/fit_to_music.h"

#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "render/transition_style.h"

#include <gtest/gtest.h>

#include <QImage>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

// The effects whose steps do not depend on the picture's size: one frame per roundHalfDown(fps x seconds).
constexpr int kEffects[] = {1, 2, 3, 4, 5, 7, 8, 9, 10};
constexpr double kRates[] = {kFrameRateLow, kFrameRatePal, kFrameRateNtsc};

struct CountingWriter final : FrameWriter {
    int frames = 0;
    bool writeFrame(const std::uint8_t*, int, int, const std::uint8_t*, int) override {
        ++frames;
        return true;
    }
};

// What the generation job writes for the project: the frames in all, and the frame each slide's
// transition starts at. Counted the way the job counts them, with the real effects on small pictures.
struct JobCount {
    int written = 0;
    std::vector<int> changes;
};

JobCount countAsJob(const SlideShowProject& project, double fps) {
    JobCount count;
    const int budget = frameBudget(project.totalDuration(), fps);
    int counter = 0;
    QImage canvas(64, 48, QImage::Format_RGB32);
    QImage next(64, 48, QImage::Format_RGB32);
    canvas.fill(0xFF102030u);
    next.fill(0xFF405060u);
    for (int i = 0; i < project.photoSlideCount(); ++i) {
        const Slide* slide = project.slide(i);
        for (int f = 0; f < slideFrameCount(slide->slideDuration, fps); ++f) {
            if (++counter >= budget) return count;
            ++count.written;
        }
        count.changes.push_back(count.written);
        CountingWriter writer;
        const TransitionStyle* style = TransitionRegistry::instance().find(slide->transitionEffect);
        style->renderToVideo(canvas, next, fps * slide->transitionDuration, writer, counter, budget);
        // A step that reaches the budget ends only the transition: the next still frame ends the job.
        count.written += writer.frames;
    }
    ++count.written;  // the closing black frame
    return count;
}

// A project of `slides` photos with stills of 1 to 4.5 s and transitions of 0.4 to 3 s, varied effects
// (by default those whose steps do not depend on the picture's size).
void fillProject(SlideShowProject& project, int slides,
                 const std::vector<int>& effects = {std::begin(kEffects), std::end(kEffects)}) {
    constexpr double kTransitions[] = {0.4, 1.0, 1.3, 2.0, 0.75, 3.0, 1.1};
    project.setMakesThumbnails(false);
    project.fillPlaceholders(300);
    for (int i = 0; i < slides; ++i) {
        const double still = 1.0 + (i % 6) * 0.7;
        const int effect = effects[static_cast<std::size_t>(i) % effects.size()];
        ASSERT_GE(project.insertPhoto("/nonexistent-kestrelle/p" + std::to_string(i) + ".jpg",
                                      project.photoSlideCount(), effect, still,
                                      kTransitions[i % std::size(kTransitions)]),
                  0);
    }
}

std::vector<double> stills(const SlideShowProject& project) {
    std::vector<double> out;
    for (int i = 0; i < project.photoSlideCount(); ++i) out.push_back(project.slide(i)->slideDuration);
    return out;
}

std::string where(double fps, int slides, double music) {
    return "fps " + std::to_string(fps) + ", " + std::to_string(slides) + " slides, music " +
           std::to_string(music);
}

TEST(FitToMusicTest, TheWrittenVideoLastsTheMusicWithinOneFrame) {
    for (const double fps : kRates) {
        for (const int slides : {1, 3, 17}) {
            for (const double music : {41.3, 97.0, 263.77}) {
                SlideShowProject project;
                fillProject(project, slides);
                const FitResult result = fitToMusic(project, music, fps);
                const JobCount job = countAsJob(project, fps);
                SCOPED_TRACE(where(fps, slides, music));
                EXPECT_EQ(result.outcome, FitOutcome::Fitted);
                EXPECT_LE(std::abs(job.written / fps - music), 1.0 / fps) << job.written << " frames";
                EXPECT_DOUBLE_EQ(result.videoSeconds, job.written / fps);
                for (const double still : stills(project)) EXPECT_GE(still, kMinFittedStillSeconds);
            }
        }
    }
}

// Given the video's size, the spiral and the diagonals count the steps they take in it.
TEST(FitToMusicTest, EveryEffectCountsItsStepsForTheVideosSize) {
    for (const double fps : kRates) {
        SlideShowProject project;
        fillProject(project, 24, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        const FitResult result = fitToMusic(project, 150.0, fps, VideoSize{64, 48});
        const JobCount job = countAsJob(project, fps);
        EXPECT_EQ(result.outcome, FitOutcome::Fitted) << fps;
        EXPECT_LE(std::abs(job.written / fps - 150.0), 1.0 / fps) << fps << ": " << job.written << " frames";
        EXPECT_EQ(jobVideoFrames(project, fps, VideoSize{64, 48}), job.written) << fps;
    }
}

TEST(FitToMusicTest, EveryStillIsScaledByOneFactorAndTransitionsStay) {
    SlideShowProject project;
    fillProject(project, 6);
    const std::vector<double> before = stills(project);
    std::vector<double> transitions;
    for (int i = 0; i < 6; ++i) transitions.push_back(project.slide(i)->transitionDuration);

    ASSERT_EQ(fitToMusic(project, 120.0, kFrameRatePal).outcome, FitOutcome::Fitted);
    const std::vector<double> after = stills(project);
    double sumBefore = 0.0;
    double sumAfter = 0.0;
    for (int i = 0; i < 6; ++i) {
        sumBefore += before[i];
        sumAfter += after[i];
    }
    const double factor = sumAfter / sumBefore;
    EXPECT_GT(factor, 2.0);
    for (int i = 0; i < 6; ++i) {
        // Each still is a whole number of frames, within one frame of the common factor.
        EXPECT_NEAR(after[i], before[i] * factor, 1.0 / kFrameRatePal + 1e-9) << i;
        EXPECT_NEAR(after[i] * kFrameRatePal, std::round(after[i] * kFrameRatePal), 0.01) << i;
        EXPECT_EQ(project.slide(i)->transitionDuration, transitions[i]);
    }
}

TEST(FitToMusicTest, MusicTooShortOrTooLongHoldsTheStillsAtTheirLimits) {
    for (const double fps : kRates) {
        SlideShowProject project;
        fillProject(project, 5);
        const FitResult result = fitToMusic(project, 4.0, fps);
        SCOPED_TRACE(fps);
        EXPECT_EQ(result.outcome, FitOutcome::StillsAtMinimum);
        const int minimumFrames = static_cast<int>(std::ceil(kMinFittedStillSeconds * fps));
        for (const double still : stills(project)) {
            EXPECT_GE(still, kMinFittedStillSeconds);
            EXPECT_EQ(slideFrameCount(still, fps), minimumFrames);
        }
        EXPECT_GT(result.videoSeconds, 4.0);
        EXPECT_DOUBLE_EQ(result.videoSeconds, countAsJob(project, fps).written / fps);
    }
    // Music longer than a day per slide: every still at the one-day limit, and the outcome says so.
    SlideShowProject longest;
    fillProject(longest, 2);
    EXPECT_EQ(fitToMusic(longest, 5 * kMaxDurationSeconds, kFrameRatePal).outcome,
              FitOutcome::StillsAtMaximum);
    for (const double still : stills(longest)) EXPECT_EQ(still, kMaxDurationSeconds);
    EXPECT_EQ(fitToBeats(longest, {1.0}, 5 * kMaxDurationSeconds, kFrameRatePal).outcome,
              FitOutcome::StillsAtMaximum);

    // Some stills held at the minimum, the others still scaled: the music is still met.
    SlideShowProject mixed;
    fillProject(mixed, 17);
    const FitResult result = fitToMusic(mixed, 33.0, kFrameRateNtsc);
    EXPECT_EQ(result.outcome, FitOutcome::Fitted);
    EXPECT_LE(std::abs(countAsJob(mixed, kFrameRateNtsc).written / kFrameRateNtsc - 33.0),
              1.0 / kFrameRateNtsc);
    for (const double still : stills(mixed)) EXPECT_GE(still, kMinFittedStillSeconds);
}

TEST(FitToMusicTest, WithoutSlidesOrMusicNothingChanges) {
    SlideShowProject empty;
    empty.fillPlaceholders(300);
    EXPECT_EQ(fitToMusic(empty, 60.0, kFrameRatePal).outcome, FitOutcome::NoSlides);
    EXPECT_EQ(fitToBeats(empty, {0.5, 1.0}, 60.0, kFrameRatePal).outcome, FitOutcome::NoSlides);

    const double nan = std::numeric_limits<double>::quiet_NaN();
    SlideShowProject project;
    fillProject(project, 4);
    const std::vector<double> before = stills(project);
    // No music, or a frame rate that is none: nothing changes.
    for (const auto& [music, fps] : {std::pair{0.0, 25.0},
                                     {-3.0, 25.0},
                                     {nan, 25.0},
                                     {std::numeric_limits<double>::infinity(), 25.0},
                                     {60.0, 0.0},
                                     {60.0, nan}}) {
        EXPECT_EQ(fitToMusic(project, music, fps).outcome, FitOutcome::NoMusic) << music << " " << fps;
        EXPECT_EQ(fitToBeats(project, {0.5, 1.0}, music, fps).outcome, FitOutcome::NoMusic);
    }
    EXPECT_EQ(stills(project), before);
}

// A 120 BPM grid from 0.3 s to `until`, each beat moved by up to 15 ms (reproducibly).
std::vector<double> jitteredGrid(double until) {
    std::vector<double> beats;
    std::uint32_t state = 12345;
    for (double beat = 0.3; beat < until; beat += 0.5) {
        state = state * 1664525u + 1013904223u;
        beats.push_back(beat + (static_cast<double>(state >> 8) / 16777216.0 - 0.5) * 0.03);
    }
    return beats;
}

double nearestBeatDistance(const std::vector<double>& beats, double seconds) {
    double best = std::numeric_limits<double>::infinity();
    for (const double beat : beats) best = std::min(best, std::abs(beat - seconds));
    return best;
}

TEST(FitToBeatsTest, EverySlideChangeFallsOnABeatAndTheShowEndsWithTheMusic) {
    const double music = 64.2;
    const std::vector<double> beats = jitteredGrid(music);
    for (const double fps : kRates) {
        for (const int slides : {1, 3, 17}) {
            SlideShowProject project;
            fillProject(project, slides);
            const FitResult result = fitToBeats(project, beats, music, fps);
            const JobCount job = countAsJob(project, fps);
            SCOPED_TRACE(where(fps, slides, music));
            EXPECT_EQ(result.outcome, FitOutcome::Fitted);
            EXPECT_EQ(result.changesOnBeats, slides);
            ASSERT_EQ(static_cast<int>(job.changes.size()), slides);
            for (const int change : job.changes) {
                EXPECT_LE(nearestBeatDistance(beats, change / fps), 1.0 / fps)
                    << "change at frame " << change;
            }
            // The last change goes to the last beat that lets the show end with the music: at most one
            // beat (0.5 s and the jitter) early, give or take the beat's rounding to a frame.
            EXPECT_LE(job.written / fps, music + 1.0 / fps);
            EXPECT_LE(music - job.written / fps, 0.53 + 2.0 / fps);
            EXPECT_DOUBLE_EQ(result.videoSeconds, job.written / fps);
            for (const double still : stills(project)) EXPECT_GE(still, kMinFittedStillSeconds);
        }
    }
}

TEST(FitToBeatsTest, WhenTheBeatsRunOutTheRestIsFittedEvenly) {
    const double music = 90.0;
    const std::vector<double> beats = jitteredGrid(30.0);  // the music goes quiet after 30 s
    SlideShowProject project;
    fillProject(project, 17);
    const FitResult result = fitToBeats(project, beats, music, kFrameRatePal);
    const JobCount job = countAsJob(project, kFrameRatePal);
    EXPECT_EQ(result.outcome, FitOutcome::PartlyOnBeats);
    EXPECT_GT(result.changesOnBeats, 0);
    EXPECT_LT(result.changesOnBeats, 17);
    for (int k = 0; k < result.changesOnBeats; ++k) {
        EXPECT_LE(nearestBeatDistance(beats, job.changes[static_cast<std::size_t>(k)] / kFrameRatePal),
                  1.0 / kFrameRatePal);
    }
    EXPECT_LE(std::abs(job.written / kFrameRatePal - music), 1.0 / kFrameRatePal);

    // No beats at all: the even fit.
    SlideShowProject plain;
    fillProject(plain, 5);
    const FitResult none = fitToBeats(plain, {}, music, kFrameRatePal);
    EXPECT_EQ(none.outcome, FitOutcome::PartlyOnBeats);
    EXPECT_EQ(none.changesOnBeats, 0);
    EXPECT_LE(std::abs(countAsJob(plain, kFrameRatePal).written / kFrameRatePal - music),
              1.0 / kFrameRatePal);
}

TEST(SoundtrackBeatsTest, ClipBeatsMoveToTheClipsPlacesInTheMix) {
    // Clip 2 starts 2 s before clip 1 ends; clip 3 is 3 s long, so its crossfades are held to 1.5 s.
    const std::vector<double> durations = {10.0, 8.0, 3.0, 6.0};
    const std::vector<std::vector<double>> beats = {
        {0.5, 9.5, 10.5}, {0.0, 1.0, 7.9, 8.0}, {0.2, 2.9}, {1.0, -1.0}};
    const std::vector<double> merged = soundtrackBeats(beats, durations, 2.0);
    // Starts: 0, 8, 8 + 8 - 1.5 = 14.5, 14.5 + 3 - 1.5 = 16. Beats at or past a clip's length are cut.
    const std::vector<double> expected = {0.5, 8.0, 9.0, 9.5, 14.7, 15.9, 17.0, 17.4};
    ASSERT_EQ(merged.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) EXPECT_NEAR(merged[k], expected[k], 1e-9) << k;

    EXPECT_TRUE(soundtrackBeats({}, {}, 2.0).empty());
    // Fewer beat lists than clips, and a crossfade that is no number: clips end to end.
    const std::vector<double> noFade =
        soundtrackBeats({{1.0}, {1.0}}, {4.0, 4.0, 4.0}, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(noFade, (std::vector<double>{1.0, 5.0}));
}

}  // namespace
}  // namespace kestrelle
