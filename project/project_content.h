#pragma once
// What a slideshow holds, apart from how it is drawn: the slides and the soundtrack clips as plain
// values. The project gives it out and takes it back whole (SlideShowProject::content / setContent):
// undo keeps copies of it, and the project file is written from it and read into it.

#include "render/photo_motion.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle {

// How a slide's photo is drawn: its motion over the slide (GentleRandom resolved from the project's
// motion seed when drawn) and how it fills the frame. The default is the still, letterboxed photo.
struct SlideLook {
    PhotoMotion motion{};
    FitOptions fit{};

    bool isStill() const { return kestrelle::isStill(motion, fit); }
    bool operator==(const SlideLook&) const = default;
};

struct SlideContent {
    std::string photoPath;
    double slideDuration = 3.0;
    double transitionDuration = 3.0;
    int transitionEffect = 0;
    // The project's thumbnail for the photo; -1 when none is made yet (a slideshow just opened: the
    // storyboard makes the thumbnails on a worker, the visible ones first).
    int thumbnailIndex = -1;
    // The photo was not found when the slideshow was opened: the slide stays, drawn as missing.
    bool photoMissing = false;
    SlideLook look{};

    bool operator==(const SlideContent&) const = default;
};

struct ClipContent {
    std::string path;
    double durationSeconds = 0.0;
    std::uint64_t dataBytes = 0;  // a PCM WAV's data chunk and byte rate (its width's measure); else 0
    std::uint32_t averageBytesPerSecond = 0;

    bool operator==(const ClipContent&) const = default;
};

struct ProjectContent {
    std::vector<SlideContent> slides;  // the photo slides in order (placeholders are not content)
    std::vector<ClipContent> clips;
    // Picks every GentleRandom slide's motion (with the slide's index), so a show moves the same way
    // each time it is made.
    std::uint64_t motionSeed = 0;

    bool operator==(const ProjectContent&) const = default;
};

}  // namespace kestrelle
