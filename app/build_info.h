#pragma once
// The program's version and the moment it was built, as the About box shows them.

#include <string>

namespace kestrelle {

// The version the build was configured with ("0.1.0").
const char* programVersion();
// "Build: <date> <time>" of this build.
std::string buildStampText();

}  // namespace kestrelle
