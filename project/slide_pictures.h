#pragma once
// A slide's picture as the video, the preview and the chooser's sample draw it: the still, fitted photo
// of old, or, for a slide with a motion or another fit, its photo ready to be drawn at any time of the
// slide's span.

#include "render/moving_frames.h"
#include "render/moving_photo.h"

#include <QSize>

namespace kestrelle {

class SlideShowProject;

// How long slide i's photo is on screen, in seconds: from the start of the transition into it to the
// end of the transition out of it (its motion runs over all of it). 0 for a cell that is no slide.
double slideSpanSeconds(const SlideShowProject& project, int slide);

// What draws slide i's photo with its motion and fit in a frame of `output`.
MovingPhotoRequest movingPhotoRequest(const SlideShowProject& project, int slide, QSize output,
                                      const FaceFinder& findFaces);

// Slide i's picture in a frame of `output`: a moving photo when its look moves, else the still frame
// (the photo fitted on black, or its look drawn once). The still is null for a cell that is no photo
// slide (the caller's own black follows the last slide). `decoded`, when given, tells whether a photo
// slide's photo could be read.
SlidePicture slidePicture(const SlideShowProject& project, int slide, QSize output,
                          const FaceFinder& findFaces, bool* decoded = nullptr);

}  // namespace kestrelle
