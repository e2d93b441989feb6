#include "app/ui/main_window_parts.h"

#include "app/ui/about_dialog.h"
#include "diag/log_export.h"

#include <QFileDialog>
#include <QWidget>

namespace kestrelle {

namespace {

// Not yet wired: the generation dialog (output/ui) is built separately; until it is in, Start ends
// after its checks.
void runGenerationDialog(QWidget* /*owner*/, SlideShowProject& /*project*/) {}

// Not yet wired: the preview player (preview/ui).
void runPreviewDialog(QWidget* /*owner*/, SlideShowProject& /*project*/) {}

// Not yet wired: the configuration dialog (config/ui).
void runConfigurationDialog(QWidget* /*owner*/, const ConfigurationRequests& /*requests*/) {}

// Stand-in for the log export window (diag/ui) until it is in: the save dialog, then the export.
void runLogExport(QWidget* owner) {
    const QString path = QFileDialog::getSaveFileName(owner, QString(), QStringLiteral("Kestrelle.iba"),
        QStringLiteral("iba Files (*.iba)"));
    if (path.isEmpty()) return;
    exportRunLog(path.toStdString());
}

QString chooseExistingFolder(QWidget* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

void runAbout(QWidget* owner) {
    AboutDialog dialog(owner);
    dialog.exec();
}

}  // namespace

MainWindowDialogs programDialogs() {
    MainWindowDialogs dialogs;
    dialogs.generate = runGenerationDialog;
    dialogs.preview = runPreviewDialog;
    dialogs.configure = runConfigurationDialog;
    dialogs.exportLog = runLogExport;
    dialogs.chooseFolder = chooseExistingFolder;
    dialogs.about = runAbout;
    return dialogs;
}

}  // namespace kestrelle
