// The export of the run log as a log archive.

#include "diag/log_export.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "diag/export_target.h"
#include "diag/log_archive.h"

#include <sys/stat.h>

namespace kestrelle {

namespace {

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

// As the run log itself decides it.
std::string runLogPath() {
    std::string folder;
    if (resolveDataFolder("Kestrelle", folder)) return folder + "/run.log";
    return ".//run.log";
}

bool exportRunLog(const std::string& archivePath) {
    // Packing replaces the chosen file before it reads the run log: never let that be the run log.
    if (isSameFile(archivePath, runLogPath())) {
        showMessage(kOntoRunLogText, MessageFlags::kWarningOk);
        return false;
    }
    LogArchive archive = LogArchive::open(archivePath.c_str(), LogArchive::Mode::Write);
    if (!archive) {
        showMessage("Open archive to write fialed!", MessageFlags::kWarningOk);
        return false;
    }
    const std::string logPath = runLogPath();
    // A run log that cannot be added leaves the table empty, and pack then reports NoEntries.
    if (fileExists(logPath)) archive.addFile(logPath.c_str());
    if (archive.pack() != LogArchiveError::None) {
        showMessage("Pack the archive failed!", MessageFlags::kWarningOk);
        return false;
    }
    return true;
}

}  // namespace kestrelle
