#pragma once
// What the transition chooser plays for one slide of the storyboard: the slide's photo into the next
// one, or into black after the last.

#include "render/transition_sampler.h"

namespace kestrelle {

class SlideShowProject;

// The sample for `slidePosition` of `project` (black into white without a project).
SampleSource sampleSourceFor(const SlideShowProject* project, int slidePosition);

}  // namespace kestrelle
