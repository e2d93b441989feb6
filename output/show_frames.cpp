#include "output/show_frames.h"

#include "project/slideshow_project.h"
#include "project/timeline.h"
#include "render/transition_effects.h"
#include "render/transition_style.h"

#include <algorithm>
#include <cmath>

namespace kestrelle {

namespace {

// The registry's effect with `number` without logging or drawing a random pick; none for 0 and for
// numbers no effect has.
const TransitionStyle* effectNumbered(int number) {
    for (const TransitionStyle* style : TransitionRegistry::instance().styles())
        if (style->number() == number) return style;
    return nullptr;
}

}  // namespace

std::int64_t transitionSteps(const TransitionStyle* style, int width, int height, double need) {
    if (!std::isfinite(need) || need <= 0.0) return 0;
    if (dynamic_cast<const SpiralBlocks*>(style)) return spiralPlan(width, height, need).steps;
    if (dynamic_cast<const DiagonalFromTopLeft*>(style) || dynamic_cast<const DiagonalFromBottomLeft*>(style))
        return static_cast<std::int64_t>(diagonalPositions(width, height, need).size());
    return transitionFrameCount(need, 1.0);
}

std::int64_t showVideoFrames(const SlideShowProject& project, int width, int height, double fps,
                             ShowPosition from) {
    const std::int64_t budget = frameBudget(project.totalDuration(), fps);
    const int slideCount = project.cellCount() - project.placeholderCount();
    std::int64_t counter = from.counter;
    std::int64_t written = from.written;
    for (int i = std::max(from.nextSlide, 0); i < slideCount; ++i) {
        const Slide* slide = project.slide(i);
        if (!slide) break;
        // Still frames: the one that brings the counter to the budget ends the job, unwritten and
        // without the closing frame.
        const std::int64_t stills = slideFrameCount(slide->slideDuration, fps);
        if (stills > 0 && counter + stills >= budget)
            return written + std::max<std::int64_t>(budget - counter, 1) - 1;
        counter += stills;
        written += stills;
        // An effect's step that brings the counter to the budget is left out and ends the effect only.
        const int effect = slide->transitionEffect;
        const TransitionStyle* style = effect == 0 ? nullptr : effectNumbered(effect);
        if (effect != 0 && !style) continue;  // no such effect: the job leaves the transition out
        const std::int64_t steps = transitionSteps(style, width, height, fps * slide->transitionDuration);
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

}  // namespace kestrelle
