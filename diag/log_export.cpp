// The export of the run log as a log archive.

#include "diag/log_export.h"

#include "config/data_folder.h"
#include "diag/log_archive.h"

#include <sys/stat.h>

namespace kestrelle {

namespace {

// The run log's path, as the run log itself decides it: the data folder's run.log, or the working
// directory's when there is no data folder.
std::string runLogPath() {
    std::string folder;
    if (resolveDataFolder("Kestrelle", folder)) return folder + "/run.log";
    return ".//run.log";
}

bool fileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

}  // namespace

bool exportRunLog(const std::string& archivePath) {
    int error = 0;
    LogArchive::HandlePtr archive(LogArchive::open(archivePath.c_str(), LogArchive::kModeWrite, &error));
    if (!archive) {
        showMessage("Open archive to write fialed!", MessageFlags::kWarningOk);
        return false;
    }
    const std::string logPath = runLogPath();
    if (fileExists(logPath)) LogArchive::addFile(archive.get(), logPath.c_str());
    if (LogArchive::pack(archive.get()) < 0) {
        showMessage("Pack the archive failed!", MessageFlags::kWarningOk);
        return false;
    }
    return true;
}

}  // namespace kestrelle
