#include "project/slide_pictures.h"

#include "project/slideshow_project.h"
#include "render/photo_loader.h"

#include <memory>

namespace kestrelle {

double slideSpanSeconds(const SlideShowProject& project, int slide) {
    const Slide* cell = project.slide(slide);
    if (!cell) return 0.0;
    const Slide* before = slide > 0 ? project.slide(slide - 1) : nullptr;
    return (before ? before->transitionDuration : 0.0) + cell->slideDuration + cell->transitionDuration;
}

MovingPhotoRequest movingPhotoRequest(const SlideShowProject& project, int slide, QSize output,
                                      const FaceFinder& findFaces) {
    MovingPhotoRequest request;
    request.output = output;
    request.seed = project.motionSeed();
    request.slideIndex = slide;
    request.totalSeconds = slideSpanSeconds(project, slide);
    request.findFaces = findFaces;
    if (const Slide* cell = project.slide(slide)) {
        request.path = cell->photoPath;
        request.motion = cell->look.motion;
        request.fit = cell->look.fit;
    }
    return request;
}

SlidePicture slidePicture(const SlideShowProject& project, int slide, QSize output,
                          const FaceFinder& findFaces, bool* decoded) {
    if (decoded) *decoded = false;
    SlidePicture result;
    const Slide* cell = project.slide(slide);
    if (!cell || !cell->hasPhoto || slide >= project.photoSlideCount() || output.isEmpty()) return result;
    if (cell->look.isStill()) {
        PhotoLoader::load(result.still, output.width(), output.height(), cell->photoPath, kBlackBackground,
                          decoded);
        return result;
    }
    auto moving = std::make_shared<MovingPhoto>(
        MovingPhoto::load(movingPhotoRequest(project, slide, output, findFaces), decoded));
    if (moving->moves() && labelsFit(output.width(), output.height())) {
        result.moving = std::move(moving);
    } else {
        moving->draw(0.0, result.still);
    }
    return result;
}

}  // namespace kestrelle
