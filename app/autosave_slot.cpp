#include "app/autosave_slot.h"

#include "base/data_folder.h"

#include <QByteArray>
#include <QtGlobal>

#include <sys/stat.h>
#include <unistd.h>

namespace kestrelle {

namespace {
constexpr int kAutosaveDelayMs = 30000;
}

int autosaveDelayMs() {
    bool ok = false;
    const int shortened = qEnvironmentVariableIntValue("KESTRELLE_AUTOSAVE_DELAY_MS", &ok);
    if (ok && shortened >= 0 && shortened <= kAutosaveDelayMs) return shortened;
    return kAutosaveDelayMs;
}

AutosaveSlot::AutosaveSlot(std::string path) : path_(std::move(path)) {}

std::string AutosaveSlot::defaultPath() {
    std::string folder;
    if (!resolveDataFolder("Kestrelle", folder)) return {};
    return folder + "/autosave" + kProjectFileExtension;
}

bool AutosaveSlot::exists() const {
    if (path_.empty()) return false;
    struct stat info {};
    return ::lstat(path_.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool AutosaveSlot::write(const ProjectDocument& document, std::string* message) const {
    if (path_.empty()) {
        if (message) *message = "There is no data folder to autosave into.";
        return false;
    }
    return writeProjectFile(path_, document, message);
}

ProjectReadResult AutosaveSlot::read() const {
    if (!exists()) {
        ProjectReadResult result;
        result.error = ProjectFileError::CannotOpen;
        result.message = "There is no autosaved slideshow.";
        return result;
    }
    return readProjectFile(path_);
}

void AutosaveSlot::discard() const {
    // Only our own regular file: a link or folder put in its place is left alone.
    if (exists()) ::unlink(path_.c_str());
}

}  // namespace kestrelle
