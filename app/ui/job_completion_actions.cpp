#include "app/ui/job_completion_actions.h"

#include "app/ui/shutdown_countdown_dialog.h"
#include "base/data_folder.h"
#include "base/message_box.h"
#include "base/run_log.h"
#include "config/desktop_services.h"
#include "config/settings_store.h"

namespace kestrelle {

namespace {

constexpr const char* kLogSource = "DlgGenerate.cpp";

bool execCountdown(ShutdownCountdownDialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace

std::string finishSoundPath() {
    return programFolder() + "/finish.wav";
}

JobCompletionActions::JobCompletionActions(SettingsStore& store, SoundPlayer& sound, PowerControl& power,
                                           FileRevealer& revealer, CountdownRunner runCountdown)
    : store_(store),
      sound_(sound),
      power_(power),
      revealer_(revealer),
      runCountdown_(runCountdown ? std::move(runCountdown) : CountdownRunner(execCountdown)) {}

void JobCompletionActions::generationCompleted(const std::string& aviPath, QWidget* parent) {
    playFinishSound();
    if (store_.settings().ShutDown) {
        if (confirmShutdown(parent)) shutDownComputer();
        return;
    }
    offerToOpenFolder(aviPath);
}

void JobCompletionActions::playFinishSound() {
    if (store_.settings().PlaySound) sound_.playFile(finishSoundPath());
}

bool JobCompletionActions::confirmShutdown(QWidget* parent) {
    ShutdownCountdownDialog dialog(parent);
    return runCountdown_(dialog);
}

bool JobCompletionActions::shutDownComputer() {
    if (!store_.save()) KESTRELLE_LOG_AS(kLogSource, 0, "Saving the settings before shutting down failed");
    const bool requested = power_.powerOff();
    if (!requested) KESTRELLE_LOG_AS(kLogSource, 0, "Shutting down the computer was refused");
    return requested;
}

void JobCompletionActions::offerToOpenFolder(const std::string& aviPath) {
    const int answer = showMessage("Output file completed. Do you want to open the destination folder?",
                                   MessageFlags::kWarningYesNo);
    if (answer == MessageAnswer::kYes) revealer_.revealFile(aviPath);
}

}  // namespace kestrelle
