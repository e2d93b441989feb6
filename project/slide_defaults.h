#pragma once
// The defaults new slides take, as the user's settings give them.

#include "project/slideshow_project.h"

namespace kestrelle {

struct AppSettings;

// The three durations and effect of new slides and their motion and fit.
SlideDefaults slideDefaultsFrom(const AppSettings& settings);

}  // namespace kestrelle
