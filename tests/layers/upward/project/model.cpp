// A core library including a window header: the layer check must refuse it.
#include "render/ui/transition_chooser.h"
