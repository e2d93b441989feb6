#pragma once
// The soundtrack line as the mix sees it: the project's clips in order with their lengths, and the
// audio that belongs with a video's frames. Shared by the generation job, the preview and the storyboard
// (which draws each clip where the mix places it).

#include "media/soundtrack_mix.h"

#include <cstdint>
#include <vector>

namespace kestrelle {

class SlideShowProject;

// The project's clips in line order, each with its length.
std::vector<MixClip> mixClipsFor(const SlideShowProject& project);
// The lengths of the project's clips, in line order.
std::vector<double> clipDurations(const SlideShowProject& project);
// How long the soundtrack plays with this crossfade (0 without clips).
double soundtrackSecondsFor(const SlideShowProject& project, double crossfadeSeconds);
// The 44,100 Hz frames that belong with the first `videoFrames` frames at `fps`: round(frames x
// 44,100 / fps), so audio sample n stays at time n / 44,100 s whatever the frame rate. 0 for a rate
// that is not positive.
std::int64_t audioFramesForVideo(std::int64_t videoFrames, double fps);

}  // namespace kestrelle
