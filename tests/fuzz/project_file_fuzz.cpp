// Feeds arbitrary bytes to the project file reader. Besides the sanitizers it checks that an error
// always comes with a message and no slides, and that a file read without error is written and read
// back to the same slideshow.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "project/project_file.h"

namespace {

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "project_file_fuzz: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // A folder that does not exist: no photo is found, so the missing marks are the same both times.
    const std::string projectPath = "/nonexistent-kestrelle-fuzz/show.kestrelle";
    const kestrelle::ProjectReadResult read = kestrelle::parseProjectFileText(text, projectPath);
    if (read.error != kestrelle::ProjectFileError::Ok) {
        require(!read.message.empty(), "an error without a message");
        require(read.document.content.slides.empty() && read.document.content.clips.empty(),
                "an error with content");
        return 0;
    }
    const std::string written = kestrelle::projectFileText(read.document, projectPath);
    const kestrelle::ProjectReadResult again = kestrelle::parseProjectFileText(written, projectPath);
    require(again.error == kestrelle::ProjectFileError::Ok, "a written file is not read back");
    require(again.document.content == read.document.content, "the content changed in a round trip");
    require(again.document.fingerprints == read.document.fingerprints,
            "fingerprints changed in a round trip");
    require(again.document.profileName == read.document.profileName &&
                again.document.outputName == read.document.outputName &&
                again.document.targetFolder == read.document.targetFolder,
            "output settings changed in a round trip");
    return 0;
}
