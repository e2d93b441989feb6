#include "project/show_frames.h"

#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "render/transition_effects.h"

#include <algorithm>
#include <cmath>

namespace kestrelle {

std::int64_t jobTransitionFrames(int effect, double seconds, double fps, VideoSize size) {
    const double need = fps * seconds;
    if (!std::isfinite(need) || need <= 0.0) return 0;
    if (size.width > 0 && size.height > 0) {
        if (effect == 6) return spiralPlan(size.width, size.height, need).steps;
        if (effect == 11 || effect == 12) {
            return static_cast<std::int64_t>(diagonalPositions(size.width, size.height, need).size());
        }
    }
    return transitionFrameCount(seconds, fps);
}

std::int64_t scheduledFrames(const std::vector<std::int64_t>& stillFrames,
                             const std::vector<std::int64_t>& transitionFrames, std::int64_t budget,
                             ShowPosition from) {
    std::int64_t counter = from.counter;
    std::int64_t written = from.written;
    const std::size_t count = std::min(stillFrames.size(), transitionFrames.size());
    for (std::size_t i = static_cast<std::size_t>(std::max(from.nextSlide, 0)); i < count; ++i) {
        const std::int64_t stills = stillFrames[i];
        if (stills > 0 && counter + stills >= budget)
            return written + std::max<std::int64_t>(budget - counter, 1) - 1;
        counter += stills;
        written += stills;
        const std::int64_t steps = transitionFrames[i];
        if (steps > 0 && counter + steps >= budget) {
            const std::int64_t taken = std::max<std::int64_t>(budget - counter, 1);
            written += taken - 1;
            counter += taken;
        } else {
            counter += steps;
            written += steps;
        }
    }
    return written + 1;
}

std::int64_t jobVideoFrames(const SlideShowProject& project, double fps, VideoSize size, ShowPosition from) {
    if (!(fps > 0.0) || !std::isfinite(fps)) return 0;
    std::vector<std::int64_t> stills;
    std::vector<std::int64_t> transitions;
    const int count = project.photoSlideCount();
    for (int i = 0; i < count; ++i) {
        const Slide* slide = project.slide(i);
        stills.push_back(slideFrameCount(slide->slideDuration, fps));
        transitions.push_back(
            jobTransitionFrames(slide->transitionEffect, slide->transitionDuration, fps, size));
    }
    return scheduledFrames(stills, transitions, frameBudget(project.totalDuration(), fps), from);
}

}  // namespace kestrelle
