#pragma once
// How many frames the generation job writes for a project, worked out before it runs: the soundtrack
// needs the video's length up front (its fade-out ends with the last frame). The count follows the
// job's schedule exactly: every slide's still frames, its effect's steps (the spiral and the diagonals
// step by their own plan, every other effect once per frame), the frame budget that may cut the show
// short, and the closing black frame.

#include <cstdint>

namespace kestrelle {

class SlideShowProject;
class TransitionStyle;

// The steps an effect takes into a width x height video for a transition of `need` frames (0 when
// need is not a positive finite number). `style` none stands for a random pick: the count most
// effects take, roundHalfDown(need).
std::int64_t transitionSteps(const TransitionStyle* style, int width, int height, double need);

// Where the job stands between two slides: the next slide, the frame counter and the frames written.
struct ShowPosition {
    int nextSlide = 0;
    std::int64_t counter = 0;
    std::int64_t written = 0;
};

// The frames the file holds once the job has run from `from` to its end, the closing frame included.
std::int64_t showVideoFrames(const SlideShowProject& project, int width, int height, double fps,
                             ShowPosition from = {});

}  // namespace kestrelle
