#pragma once
// Exporting the run log as a log archive: what "Export Log file" does once the user has chosen the
// file. Shared by the main window's menu command and the headless renderer.

#include <string>

namespace kestrelle {

// Packs the data folder's run.log (when it exists) into a compressed log archive at `archivePath`.
// Failures are shown with showMessage ("Open archive to write fialed!", "Pack the archive failed!") and
// return false; a failed export leaves no file it wrote (under the chosen name or beside it). Returns
// true when the archive was written.
// An archive path naming the run log itself is refused with kOntoRunLogText (packing would replace the
// log before reading it).
bool exportRunLog(const std::string& archivePath);

constexpr const char* kOntoRunLogText =
    "The run log cannot be exported onto itself. Please choose another file name.";

// The run log's file: the data folder's run.log, or the working directory's when there is no data folder.
std::string runLogPath();

}  // namespace kestrelle
