#pragma once
// Exporting the run log as a log archive: what "Export Log file" does once the user has chosen the
// file. Shared by the main window's menu command and the headless renderer.

#include <string>

namespace kestrelle {

// Packs the data folder's run.log (when it exists) into a compressed log archive at `archivePath`.
// Failures are shown with showMessage ("Open archive to write fialed!", "Pack the archive failed!") and
// return false; a failed export leaves no file it wrote (under the chosen name or beside it). Returns
// true when the archive was written.
bool exportRunLog(const std::string& archivePath);

}  // namespace kestrelle
