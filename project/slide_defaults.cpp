#include "project/slide_defaults.h"

#include "config/settings_store.h"

namespace kestrelle {

namespace {

PhotoFit photoFitFor(NewSlideFit fit) {
    switch (fit) {
        case NewSlideFit::Fill:
            return PhotoFit::Fill;
        case NewSlideFit::BlurredBackground:
            return PhotoFit::BlurredBackground;
        case NewSlideFit::Letterbox:
            break;
    }
    return PhotoFit::Letterbox;
}

}  // namespace

SlideDefaults slideDefaultsFrom(const AppSettings& settings) {
    SlideDefaults defaults{settings.DefaultSlideDuration, settings.DefaultTransitionDuration,
                           settings.DefaultSlideIndex};
    defaults.look.motion.kind = settings.NewSlideMotionKind == NewSlideMotion::GentleRandom
                                    ? MotionKind::GentleRandom
                                    : MotionKind::None;
    defaults.look.fit = {photoFitFor(settings.NewSlideFitKind), settings.EnlargeSmallPhotos};
    return defaults;
}

}  // namespace kestrelle
