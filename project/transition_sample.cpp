#include "project/transition_sample.h"

#include "project/slideshow_project.h"

namespace kestrelle {

SampleSource sampleSourceFor(const SlideShowProject* project, int slidePosition) {
    SampleSource source;
    if (!project) {
        return source;
    }
    source.fromProject = true;
    if (const Slide* slide = project->slide(slidePosition); slide && slide->hasPhoto) {
        source.currentPhoto = slide->photoPath;
    }
    // The next slide's photo, or black after the last one.
    if (slidePosition >= 0 && slidePosition < project->photoSlideCount() - 1) {
        if (const Slide* next = project->slide(slidePosition + 1); next && next->hasPhoto) {
            source.nextPhoto = next->photoPath;
        }
    }
    return source;
}

}  // namespace kestrelle
