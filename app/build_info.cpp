#include "app/build_info.h"

#include <cstdio>

namespace kestrelle {

const char* programVersion() {
    return KESTRELLE_VERSION;
}

std::string buildStampText() {
    char text[64];
    std::snprintf(text, sizeof text, "Build: %s %s", __DATE__, __TIME__);
    return text;
}

}  // namespace kestrelle
