#pragma once
// The autosaved slideshow: one project file in the data folder ("autosave.kestrelle"), never the
// user's own file. The window writes it a little after each change and removes it when the program
// ends cleanly; one found at start was left by a crash or a kill and is offered for restoring.

#include "project/project_file.h"

#include <string>

namespace kestrelle {

// How long after a change the slideshow is autosaved: 30 s. KESTRELLE_AUTOSAVE_DELAY_MS in the
// environment shortens it (tests only; values outside 0..30000 are ignored).
int autosaveDelayMs();

class AutosaveSlot {
public:
    // The slot at `path`; the default is "autosave.kestrelle" in the data folder ("" when there is no
    // data folder: nothing is then autosaved).
    explicit AutosaveSlot(std::string path = defaultPath());

    static std::string defaultPath();
    const std::string& path() const { return path_; }

    // Whether an autosaved slideshow is there (a regular file).
    bool exists() const;
    // Writes the slideshow atomically; false with `message` set when it could not be written.
    bool write(const ProjectDocument& document, std::string* message = nullptr) const;
    ProjectReadResult read() const;
    // Removes the autosaved slideshow (a clean end, or the user declined to restore it).
    void discard() const;

private:
    std::string path_;
};

}  // namespace kestrelle
