#include "project/transition_sample.h"

#include "project/slide_pictures.h"
#include "project/slideshow_project.h"
#include "render/face_detector.h"

namespace kestrelle {

namespace {

// How slide i moves over its span, as the video draws it: the transition into it, its still, the
// transition out of it.
SampleLook lookOf(const SlideShowProject& project, int i) {
    SampleLook look;
    const Slide* slide = project.slide(i);
    if (!slide || !slide->hasPhoto) return look;
    look.motion = slide->look.motion;
    look.fit = slide->look.fit;
    look.slideIndex = i;
    look.spanSeconds = slideSpanSeconds(project, i);
    return look;
}

}  // namespace

SampleSource sampleSourceFor(const SlideShowProject* project, int slidePosition) {
    SampleSource source;
    if (!project) {
        return source;
    }
    source.fromProject = true;
    source.motionSeed = project->motionSeed();
    source.findFaces = findFaces;
    if (const Slide* slide = project->slide(slidePosition); slide && slide->hasPhoto) {
        source.currentPhoto = slide->photoPath;
        source.currentLook = lookOf(*project, slidePosition);
        source.transitionSeconds = slide->transitionDuration;
    }
    // The next slide's photo, or black after the last one.
    if (slidePosition >= 0 && slidePosition < project->photoSlideCount() - 1) {
        if (const Slide* next = project->slide(slidePosition + 1); next && next->hasPhoto) {
            source.nextPhoto = next->photoPath;
            source.nextLook = lookOf(*project, slidePosition + 1);
        }
    }
    return source;
}

}  // namespace kestrelle
