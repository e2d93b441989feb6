#pragma once
// What the program does when a generation job has finished its file: the finish sound (when the
// PlaySound option is on), then either the shutdown countdown (ShutDown option on) or the question
// whether to open the destination folder.
//
// The application makes one of these from the real desktop services and hands it to every
// GenerationDialog it opens:
//
//     DesktopServices desktop;  // app/ui/desktop_service_impls.h
//     JobCompletionActions completion(SettingsStore::instance(), desktop.sound, desktop.power,
//                                     desktop.revealer);
//     GenerationDialog dialog(project, setup, completion, this);

#include "output/ui/job_completion.h"

#include <functional>
#include <string>

namespace kestrelle {

class FileRevealer;
class PowerControl;
class SettingsStore;
class ShutdownCountdownDialog;
class SoundPlayer;

// The finish sound beside the program.
std::string finishSoundPath();

class JobCompletionActions final : public JobCompletion {
public:
    // Runs the countdown dialog and returns true when it ended as "shut down now". The default runs
    // it modally; tests tick it instead of waiting.
    using CountdownRunner = std::function<bool(ShutdownCountdownDialog&)>;

    // All references must outlive this object.
    JobCompletionActions(SettingsStore& store, SoundPlayer& sound, PowerControl& power,
                         FileRevealer& revealer, CountdownRunner runCountdown = {});

    void generationCompleted(const std::string& aviPath, QWidget* parent) override;

    // The single steps, in the order generationCompleted takes them.
    void playFinishSound();
    // Runs the countdown; true when the computer is to be shut down.
    bool confirmShutdown(QWidget* parent);
    // Saves the settings (the program may not get to save them at exit), then asks for the power-off.
    // False when the request could not be made; nothing is shown then.
    bool shutDownComputer();
    // "Output file completed. ..."; on Yes the file manager opens with the file selected.
    void offerToOpenFolder(const std::string& aviPath);

private:
    SettingsStore& store_;
    SoundPlayer& sound_;
    PowerControl& power_;
    FileRevealer& revealer_;
    CountdownRunner runCountdown_;
};

}  // namespace kestrelle
