#pragma once
// Finding the photos of a slideshow that are no longer where the project file says. In order, for each
// missing photo: the project's folder (the photo's name, and the folders it lay in, below it); the same
// move as a photo already found made (from its old folder to where it was found); then, in a folder
// the user chose, a file of the same name whose size and fingerprint match (by name alone when the
// project has no fingerprint for it), and last a file of another name with the same fingerprint.
// The search of the chosen folder is bounded (depth, entries), follows no links to folders and so
// meets no loops. Nothing is changed: the caller applies the new paths (through the undo history).

#include "project/project_file.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestrelle {

struct FoundPhoto {
    std::size_t slide = 0;  // index into the document's slides
    std::string path;       // where the photo is now

    bool operator==(const FoundPhoto&) const = default;
};

struct MissingPhotoLimits {
    int maxDepth = 16;                // folders below the chosen one
    std::size_t maxEntries = 200000;  // entries listed in the chosen folder, all depths together
};

// Whether slide `i` of `document` counts as missing: marked so when read, or not a readable file now.
bool isSlidePhotoMissing(const ProjectDocument& document, std::size_t i);

// The new paths of the missing photos that were found, in slide order. `searchFolder` may be "" (only
// the project's folder and the moves are tried). `keepGoing`, when given, is asked between steps; false
// stops the search with what was found so far.
std::vector<FoundPhoto> findMissingPhotos(const ProjectDocument& document, const std::string& projectFolder,
                                          const std::string& searchFolder,
                                          const MissingPhotoLimits& limits = {},
                                          const std::function<bool()>& keepGoing = {});

}  // namespace kestrelle
