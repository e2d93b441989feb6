#pragma once
// What a slideshow holds, apart from how it is drawn: the slides and the soundtrack clips as plain
// values. The project gives it out and takes it back whole (SlideShowProject::content / setContent):
// undo keeps copies of it, and the project file is written from it and read into it.

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle {

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

    bool operator==(const ProjectContent&) const = default;
};

}  // namespace kestrelle
