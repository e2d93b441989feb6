#pragma once
// The project file (".kestrelle"): a slideshow kept on disk, in the versioned XML format documented in
// docs/project-file.md. Photos and clips are stored relative to the file's folder when they lie beneath
// it and absolute otherwise, each photo with its size and a content fingerprint so that a moved photo
// can be found again. Reading is strict: a file of a later version is refused, a damaged one changes
// nothing, and no path in it makes us read anything but the photos and clips it names.

#include "project/project_content.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kestrelle {

constexpr int kProjectFileVersion = 1;
constexpr const char* kProjectFileExtension = ".kestrelle";

// A photo's identity beyond its name: its size and a fingerprint of its bytes.
struct PhotoFingerprint {
    std::uint64_t bytes = 0;
    std::string hash;  // hex; "" when the photo could not be read

    bool operator==(const PhotoFingerprint&) const = default;
};

// Everything a project file holds.
struct ProjectDocument {
    ProjectContent content;                      // paths absolute, as resolved against the file's folder
    std::vector<PhotoFingerprint> fingerprints;  // one per slide, in slide order
    std::string profileName;
    std::string outputName;
    std::string targetFolder;
};

enum class ProjectFileError {
    Ok,
    CannotOpen,    // missing, unreadable, not a regular file
    NotAProject,   // not a project file at all (not XML, no project element)
    NewerVersion,  // written by a later version of the program
    Damaged,       // a project file that breaks the format (a value out of range, truncated)
    TooLarge,      // beyond the limits (file size, slide count)
    CannotWrite,   // the file (or its folder) cannot be written
};

struct ProjectReadResult {
    ProjectFileError error = ProjectFileError::Ok;
    std::string message;  // the user text for anything but Ok
    ProjectDocument document;
};

ProjectReadResult readProjectFile(const std::string& path);

// Writes the document to `path` atomically (a new file renamed into place). False with `message` set
// when it could not be written; an existing file is then left as it was.
bool writeProjectFile(const std::string& path, const ProjectDocument& document,
                      std::string* message = nullptr);

// Limits of what a project file may hold; beyond them reading gives TooLarge.
constexpr std::uint64_t kMaxProjectFileBytes = 64ull * 1024 * 1024;
constexpr std::size_t kMaxProjectSlides = 100000;
constexpr std::size_t kMaxProjectClips = 10000;
// The longest path (in bytes, once decoded) a project file may name.
constexpr std::size_t kMaxProjectPathBytes = 4096;

// The file's text for a project file at `projectPath` (whose folder the relative paths start from).
std::string projectFileText(const ProjectDocument& document, const std::string& projectPath);
// Reads a project file's text as if it were the file at `projectPath` (relative paths resolve against
// its folder; a slide naming that file itself is missing).
ProjectReadResult parseProjectFileText(const std::string& text, const std::string& projectPath);

}  // namespace kestrelle
