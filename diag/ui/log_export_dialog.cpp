#include "diag/ui/log_export_dialog.h"

#include "base/data_folder.h"
#include "base/message_box.h"
#include "diag/export_target.h"
#include "diag/log_export.h"
#include "diag/ui/export_success_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace kestrelle {

namespace {

QString chooseWithFileDialog(QWidget* parent, const QString& proposedPath) {
    QFileDialog dialog(parent, QStringLiteral("Export Log file"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("iba Files (*.iba)"));
    dialog.setDefaultSuffix(QString::fromLatin1(kArchiveSuffix));
    dialog.setDirectory(QFileInfo(proposedPath).absolutePath());
    dialog.selectFile(QFileInfo(proposedPath).fileName());
    if (dialog.exec() != QDialog::Accepted) return {};
    return dialog.selectedFiles().value(0);
}

void execConfirmation(ExportSuccessDialog& dialog) {
    dialog.exec();
}

}  // namespace

QString proposedArchivePath() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) folder = QDir::homePath();
    return folder + QStringLiteral("/Kestrelle.iba");
}

bool exportRunLogInteractively(QWidget* parent, FileRevealer& revealer, const LogExportWindows& windows) {
    const auto choose = windows.chooseFile ? windows.chooseFile : chooseWithFileDialog;
    const QString chosen = choose(parent, proposedArchivePath());
    if (chosen.isEmpty()) return false;
    const std::string chosenPath = chosen.toStdString();
    const std::string archivePath = archivePathWithSuffix(chosenPath);
    // The dialog asked about the name it returned, not about the one with the suffix added here.
    if (archivePath != chosenPath && QFileInfo::exists(QString::fromStdString(archivePath))) {
        const std::string question = QFileInfo(QString::fromStdString(archivePath)).fileName().toStdString() +
                                     " already exists.\nDo you want to replace it?";
        if (showMessage(question, MessageFlags::kWarningYesNo) != MessageAnswer::kYes) return false;
    }
    if (!exportRunLog(archivePath)) return false;
    ExportSuccessDialog success(archivePath, revealer, parent);
    (windows.confirm ? windows.confirm : execConfirmation)(success);
    return true;
}

}  // namespace kestrelle
