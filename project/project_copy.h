#pragma once
// "Save a copy with all photos": the project file and every photo and clip it uses, copied into one
// folder so it can be moved or handed on whole. Photos go to "photos/", clips to "music/" beside the
// project file, each file once however many slides use it; names that clash get " (2)", " (3)", ...
// before their ending. Nothing that is already there is overwritten but the project file the user chose.

#include "project/project_file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrelle {

struct ProjectCopyResult {
    bool ok = false;
    bool cancelled = false;
    std::string message;               // the user text when not ok
    ProjectDocument copy;              // the copy's document (paths in the new folder), when ok
    std::vector<std::string> missing;  // photos and clips that could not be read: kept with their old paths
};

// Progress: bytes copied so far and in all; returns false to cancel (everything made so far is removed).
using CopyProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

// Copies the slideshow into the folder of `projectPath` (made when missing) and writes the project file
// there, with relative paths. Runs on any thread; touches nothing but the files it makes.
ProjectCopyResult saveProjectCopy(const ProjectDocument& document, const std::string& projectPath,
                                  const CopyProgress& progress = {});

}  // namespace kestrelle
