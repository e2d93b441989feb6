#include "app/ui/main_window_parts.h"

#include "app/ui/about_dialog.h"
#include "config/ui/config_dialog.h"
#include "diag/log_export.h"

#include <QFileDialog>
#include <QWidget>

namespace kestrelle {

namespace {

// Not yet wired: the generation dialog (output/ui) is built separately; until it is in, Start ends
// after its checks.
void runGenerationDialog(QWidget* /*owner*/, SettingsStore& /*store*/, SlideShowProject& /*project*/,
                         const std::string& /*aviPath*/) {}

// Not yet wired: the preview player (preview/ui).
void runPreviewDialog(QWidget* /*owner*/, SlideShowProject& /*project*/) {}

// Not yet wired: the transition chooser and its icons (render/ui) for the default-effect button.
ConfigDialog::ChooseEffect effectChooser() { return {}; }
ConfigDialog::EffectIcon effectIcons() { return {}; }

void runConfigurationDialog(QWidget* owner, SettingsStore& store, const ConfigurationRequests& requests) {
    ConfigDialog dialog(store, effectChooser(), effectIcons(), owner);
    if (requests.profilesChanged)
        QObject::connect(&dialog, &ConfigDialog::refreshProfileListRequested, &dialog, requests.profilesChanged);
    if (requests.applyDefaults)
        QObject::connect(&dialog, &ConfigDialog::applyDefaultsToAllSlidesRequested, &dialog, requests.applyDefaults);
    dialog.exec();
}

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
