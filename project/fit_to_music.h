#pragma once
// Fit to music: every photo slide's still duration scaled so that the video lasts as long as the
// soundtrack (transitions kept), optionally with every slide change on a beat of the music.

#include "project/show_frames.h"

#include <vector>

namespace kestrelle {

class SlideShowProject;

// Stills never become shorter than this.
constexpr double kMinFittedStillSeconds = 0.5;

enum class FitOutcome {
    Fitted,           // the video now lasts the music's length (within one frame; one beat with beats)
    StillsAtMinimum,  // the music is too short: every still is at the minimum and the video is longer
    NoMusic,          // no soundtrack (or one of length 0): nothing changed
    NoSlides,         // no photo slides: nothing changed
    PartlyOnBeats,    // fitToBeats: the beats ran out (or came too late) for the slides from
                      // changesOnBeats on; those are fitted evenly and the video still lasts the music
    StillsAtMaximum,  // the music is too long: the stills are stretched as far as the project's one-day
                      // limit on a duration (and the video's frame count) allow, and the video is shorter
};

struct FitResult {
    FitOutcome outcome = FitOutcome::NoSlides;
    double videoSeconds = 0.0;  // the video's length at `fps` afterwards
    int changesOnBeats = 0;     // fitToBeats: how many slide changes, from the first, are on a beat
};

// Scales the stills so the video written at `fps` lasts `musicSeconds`. The picture size, where the
// caller knows it (the output profile's), counts the spiral's and the diagonals' steps exactly
// (project/show_frames.h).
FitResult fitToMusic(SlideShowProject& project, double musicSeconds, double fps, VideoSize size = {});

// As fitToMusic, with every slide change (the first frame of a transition) on one of `beatSeconds`
// (ascending, in the show's time) within one frame at `fps`, and the video's length within one beat of
// the music's.
FitResult fitToBeats(SlideShowProject& project, const std::vector<double>& beatSeconds, double musicSeconds,
                     double fps, VideoSize size = {});

// The beats of the whole soundtrack in the show's time: each clip's beats (from the file's start)
// moved to where the clip starts in the mix and cut at the clip's length, in ascending order.
std::vector<double> soundtrackBeats(const std::vector<std::vector<double>>& clipBeats,
                                    const std::vector<double>& clipDurations, double crossfadeSeconds);

}  // namespace kestrelle
