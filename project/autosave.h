#pragma once
// The autosave of the open slideshow, kept in the data folder and never anywhere else: the window writes
// the slideshow here a little after each change, and a start after a crash or a kill finds it. A marker
// file says the program is running; a clean exit removes the marker and the autosave, so an autosave
// found at start is one a crash or a kill left behind.

#include "project/project_file.h"

#include <optional>
#include <string>

namespace kestrelle {

class AutosaveFile {
public:
    // The autosave in `folder` (which must exist): "autosave.kestrelle", "autosave.source" (the user's
    // own file the autosave stands for, empty for an unsaved slideshow) and "running".
    explicit AutosaveFile(std::string folder);
    // The autosave in the program's data folder; none when there is no data folder.
    static std::optional<AutosaveFile> inDataFolder();

    // Whether a start finds an autosave left by a run that did not end cleanly. Ask before
    // markRunning(): once this run is marked, an autosave it wrote itself is not restorable.
    bool hasRestorableAutosave() const;
    // The autosaved slideshow (its paths as they were when it was written).
    ProjectReadResult read() const;
    // The user's project file the autosave was made for; "" for a slideshow never saved.
    std::string sourcePath() const;

    // Marks this run as running (with its process id). False when the marker cannot be written.
    bool markRunning();
    // Writes the slideshow atomically to the autosave (only there: `sourcePath` is recorded, never
    // written). False with `message` set when it could not be written; the previous autosave then stays.
    bool write(const ProjectDocument& document, const std::string& sourcePath,
               std::string* message = nullptr);
    // Removes the autosave (restored, refused, or the slideshow was saved or closed).
    void discard();
    // The program ends cleanly: the autosave and the marker go.
    void markCleanExit();

    const std::string& autosavePath() const { return autosavePath_; }

private:
    std::string folder_;
    std::string autosavePath_;
    std::string sourceFilePath_;
    std::string markerPath_;
};

}  // namespace kestrelle
