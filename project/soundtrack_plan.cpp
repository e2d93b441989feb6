#include "project/soundtrack_plan.h"

#include "project/slideshow_project.h"

#include <cmath>

namespace kestrelle {

std::vector<MixClip> mixClipsFor(const SlideShowProject& project) {
    std::vector<MixClip> clips;
    clips.reserve(project.clips().size());
    for (const SoundtrackClip& clip : project.clips()) clips.push_back({clip.wavePath, clip.durationSeconds});
    return clips;
}

std::vector<double> clipDurations(const SlideShowProject& project) {
    std::vector<double> durations;
    durations.reserve(project.clips().size());
    for (const SoundtrackClip& clip : project.clips()) durations.push_back(clip.durationSeconds);
    return durations;
}

double soundtrackSecondsFor(const SlideShowProject& project, double crossfadeSeconds) {
    return soundtrackSeconds(clipDurations(project), crossfadeSeconds);
}

std::int64_t audioFramesForVideo(std::int64_t videoFrames, double fps) {
    if (!(fps > 0) || !std::isfinite(fps)) return 0;
    return std::llround(static_cast<double>(videoFrames) * kMixSampleRate / fps);
}

}  // namespace kestrelle
