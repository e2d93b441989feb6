#include "project/autosave.h"

#include "base/data_folder.h"
#include "base/file_replace.h"

#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace kestrelle {

namespace {

bool isRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A link in the data folder could lead a write elsewhere (the file replacement follows links): the
// autosave's own files are always plain files of the data folder.
void removeLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) ::unlink(path.c_str());
}

std::string ownMarker() {
    return std::to_string(::getpid()) + "\n";
}

}  // namespace

AutosaveFile::AutosaveFile(std::string folder)
    : folder_(std::move(folder)),
      autosavePath_(folder_ + "/autosave" + kProjectFileExtension),
      sourceFilePath_(folder_ + "/autosave.source"),
      markerPath_(folder_ + "/running") {}

std::optional<AutosaveFile> AutosaveFile::inDataFolder() {
    std::string folder;
    if (!resolveDataFolder("Kestrelle", folder)) return std::nullopt;
    return AutosaveFile(folder);
}

bool AutosaveFile::hasRestorableAutosave() const {
    if (!isRegularFile(autosavePath_)) return false;
    // This run's own autosave is no leftover.
    std::string marker;
    return !(readSmallFile(markerPath_, 64, marker) && marker == ownMarker());
}

ProjectReadResult AutosaveFile::read() const {
    return readProjectFile(autosavePath_);
}

std::string AutosaveFile::sourcePath() const {
    std::string source;
    if (!readSmallFile(sourceFilePath_, kMaxProjectPathBytes, source)) return {};
    return source;
}

bool AutosaveFile::markRunning() {
    std::string error;
    removeLink(markerPath_);
    return replaceFileContents(markerPath_, ownMarker(), error);
}

bool AutosaveFile::write(const ProjectDocument& document, const std::string& sourcePath,
                         std::string* message) {
    std::string error;
    removeLink(sourceFilePath_);
    removeLink(autosavePath_);
    if (!replaceFileContents(sourceFilePath_, sourcePath, error)) {
        if (message) *message = "The slideshow could not be saved automatically: " + error + ".";
        return false;
    }
    return writeProjectFile(autosavePath_, document, message);
}

void AutosaveFile::discard() {
    ::unlink(autosavePath_.c_str());
    ::unlink(sourceFilePath_.c_str());
}

void AutosaveFile::markCleanExit() {
    discard();
    ::unlink(markerPath_.c_str());
}

}  // namespace kestrelle
