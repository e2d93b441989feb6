#pragma once
// How many frames the generation job writes for a project, worked out before it runs: the soundtrack's
// fade-out must end with the last frame, fit to music aims at a length in frames, and the preview keeps
// its pictures where the video has them. The count follows the job's schedule exactly: every slide's
// still frames, its effect's steps (the spiral and the diagonals step by their own plan for the
// picture's size, every other effect once per frame), the frame budget that may cut the show short, and
// the closing black frame.

#include <cstdint>
#include <vector>

namespace kestrelle {

class SlideShowProject;

// The video's picture size; 0 x 0 when unknown (then every effect counts one step per frame).
struct VideoSize {
    int width = 0;
    int height = 0;
};

// Where the job stands between two slides: the next slide, the frame counter and the frames written.
struct ShowPosition {
    int nextSlide = 0;
    std::int64_t counter = 0;
    std::int64_t written = 0;
};

// The frames the job writes for one transition of `effect` lasting `seconds`: one per step of the
// effect. A random pick (0) is not known before the video is written and counts as most effects do,
// roundHalfDown(fps x seconds).
std::int64_t jobTransitionFrames(int effect, double seconds, double fps, VideoSize size = {});

// The frames written for slides whose stills and transitions take these frame counts (index by
// index), under `budget`, going on from `from`, the closing frame included. A still frame that brings
// the counter to the budget ends the job there (unwritten, and without the closing frame); a transition
// step that does ends only that transition, so the next slide's first still frame then ends the job.
std::int64_t scheduledFrames(const std::vector<std::int64_t>& stillFrames,
                             const std::vector<std::int64_t>& transitionFrames, std::int64_t budget,
                             ShowPosition from = {});

// The frames the file holds once the job has run the project at `fps` from `from` to its end (0 for a
// rate that is not positive).
std::int64_t jobVideoFrames(const SlideShowProject& project, double fps, VideoSize size = {},
                            ShowPosition from = {});

}  // namespace kestrelle
