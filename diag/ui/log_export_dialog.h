#pragma once
// "Export Log file": asks where to save the run log's archive, writes it, and confirms it.
//
// Use from the main window's File menu:
//
//     exportRunLogInteractively(this, revealer);

#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace kestrelle {

class ExportSuccessDialog;
class FileRevealer;

// The windows of the export, replaceable for tests.
struct LogExportWindows {
    // The save-file dialog: returns the chosen path, empty for Cancel. It asks before replacing a file
    // it returns. Default: a QFileDialog ("iba Files (*.iba)", default suffix "iba").
    std::function<QString(QWidget* parent, const QString& proposedPath)> chooseFile;
    // Runs the confirmation. Default: exec().
    std::function<void(ExportSuccessDialog&)> confirm;
};

// Where the save dialog starts: "Kestrelle.iba" in the documents folder (the home folder without one).
QString proposedArchivePath();

// Asks for the file, adds the ".iba" suffix when the name has none (asking before replacing a file that
// the dialog has not asked about), exports the run log, and shows the ExportSuccessDialog. Failures are
// shown as messages. Returns true when an archive was written.
bool exportRunLogInteractively(QWidget* parent, FileRevealer& revealer, const LogExportWindows& windows = {});

}  // namespace kestrelle
