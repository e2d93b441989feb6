#include "app/ui/main_window_parts.h"

#include "app/ui/about_dialog.h"
#include "app/ui/desktop_service_impls.h"
#include "app/ui/job_completion_actions.h"
#include "config/settings_store.h"
#include "config/ui/config_dialog.h"
#include "diag/ui/log_export_dialog.h"
#include "output/generation_job.h"
#include "output/ui/generation_dialog.h"
#include "preview/ui/preview_player.h"
#include "project/slideshow_project.h"
#include "render/face_detector.h"
#include "render/ui/transition_chooser.h"
#include "render/ui/transition_icons.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QWidget>

#include <memory>

namespace kestrelle {

namespace {

// The desktop's services, made once per set of dialogs and kept as long as the window that holds them,
// so that a finish sound can play on after the generation dialog has closed.
struct ProgramServices {
    QtSoundPlayer sound;
    LogindPowerControl power;
    DesktopFileRevealer revealer;
};

void runGenerationDialog(ProgramServices& services, QWidget* owner, SettingsStore& store,
                         SlideShowProject& project, const std::string& aviPath) {
    JobCompletionActions completion(store, services.sound, services.power, services.revealer);
    GenerationDialog dialog(project, generationSetupFor(store, store.currentProfile(), aviPath), completion,
                            owner);
    dialog.exec();
}

void runPreviewDialog(QWidget* owner, SettingsStore& store, SlideShowProject& project) {
    PreviewPlayer preview(project, store.currentProfile(), owner);
    // Moving photos keep their faces in the frame, as in the video.
    preview.setFaceFinder(findFaces);
    preview.exec();
}

void runConfigurationDialog(QWidget* owner, SettingsStore& store, const ConfigurationRequests& requests) {
    ConfigDialog dialog(
        store, [](QWidget* parent) { return chooseTransition(parent, SampleSource{}); },
        [](int effect) { return transitionIcon(effect); }, owner);
    if (requests.profilesChanged)
        QObject::connect(&dialog, &ConfigDialog::refreshProfileListRequested, &dialog,
                         requests.profilesChanged);
    if (requests.applyDefaults)
        QObject::connect(&dialog, &ConfigDialog::applyDefaultsToAllSlidesRequested, &dialog,
                         requests.applyDefaults);
    dialog.exec();
}

QString chooseExistingFolder(QWidget* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getExistingDirectory(owner, title, startFolder, QFileDialog::ShowDirsOnly);
}

SaveChangesAnswer askSaveChanges(QWidget* owner, const QString& name) {
    QMessageBox box(owner);
    box.setWindowTitle(QStringLiteral("Kestrelle"));
    box.setTextFormat(Qt::PlainText);
    box.setIcon(QMessageBox::Warning);
    box.setText(QStringLiteral("Save changes to %1?").arg(name));
    box.setInformativeText(QStringLiteral("Your changes will be lost if you don't save them."));
    box.setStandardButtons(QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
        case QMessageBox::Save:
            return SaveChangesAnswer::Save;
        case QMessageBox::Discard:
            return SaveChangesAnswer::Discard;
        default:
            return SaveChangesAnswer::Cancel;
    }
}

const QString kProjectFilter = QStringLiteral("Kestrelle slideshows (*.kestrelle)");

QString chooseProjectToOpen(QWidget* owner, const QString& title, const QString& startFolder) {
    return QFileDialog::getOpenFileName(owner, title, startFolder, kProjectFilter);
}

QString chooseProjectToSave(QWidget* owner, const QString& title, const QString& suggestedPath) {
    QFileDialog dialog(owner, title, suggestedPath, kProjectFilter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("kestrelle"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().constFirst();
}

void runAbout(QWidget* owner) {
    AboutDialog dialog(owner);
    dialog.exec();
}

}  // namespace

MainWindowDialogs programDialogs() {
    auto services = std::make_shared<ProgramServices>();
    MainWindowDialogs dialogs;
    dialogs.generate = [services](QWidget* owner, SettingsStore& store, SlideShowProject& project,
                                  const std::string& aviPath) {
        runGenerationDialog(*services, owner, store, project, aviPath);
    };
    dialogs.preview = runPreviewDialog;
    dialogs.configure = runConfigurationDialog;
    dialogs.exportLog = [services](QWidget* owner) { exportRunLogInteractively(owner, services->revealer); };
    dialogs.chooseFolder = chooseExistingFolder;
    dialogs.about = runAbout;
    dialogs.askSaveChanges = askSaveChanges;
    dialogs.openProjectFile = chooseProjectToOpen;
    dialogs.saveProjectFile = chooseProjectToSave;
    return dialogs;
}

}  // namespace kestrelle
