// A window library reaching up into a core above its own: the layer check must refuse it.
#include "project/slideshow_project.h"
