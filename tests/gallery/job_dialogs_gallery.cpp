// The dialogs that run and finish jobs: generation mid-job, the preview mid-transition, the shutdown
// countdown and the export confirmation.

#include "app/ui/shutdown_countdown_dialog.h"
#include "config/desktop_services.h"
#include "config/settings_store.h"
#include "diag/ui/export_success_dialog.h"
#include "output/ui/generation_dialog.h"
#include "output/ui/job_completion.h"
#include "preview/ui/preview_player.h"
#include "project/slideshow_project.h"
#include "tests/gallery/gallery.h"

#include <QDir>
#include <QTemporaryDir>

#include <atomic>

namespace {

using namespace kestrelle;

struct NoCompletion final : JobCompletion {
    void generationCompleted(const std::string&, QWidget*) override {}
};

struct NoRevealer final : FileRevealer {
    bool revealFile(const std::string&) override { return true; }
};

// The sample photos as slides (lives for the whole gallery run, as the windows borrow it).
const SlideShowProject& sampleProject(double still, double transition, int effect) {
    auto* project = new SlideShowProject;
    int position = 0;
    for (const std::string& photo : gallery::samplePhotoPaths()) {
        project->appendPlaceholder();
        project->insertPhoto(photo, position++, effect, still, transition);
    }
    return *project;
}

KESTRELLE_GALLERY_ENTRY(
    {"generation_dialog",
     [] {
         static NoCompletion completion;
         static QTemporaryDir output;
         const SlideShowProject& project = sampleProject(20.0, 2.0, 1);
         SettingsStore& store = SettingsStore::instance();
         auto setup = generationSetupFor(store, store.currentProfile(),
                                         (output.path() + QStringLiteral("/Holiday.avi")).toStdString());
         auto dialog = std::make_unique<GenerationDialog>(project, std::move(setup), completion);
         // A clock that has run 83 seconds since writing began, so the times show something.
         auto calls = std::make_shared<std::atomic<int>>(0);
         dialog->setClock([calls] { return std::int64_t{1000} + (calls->fetch_add(1) == 0 ? 0 : 83); });
         return std::unique_ptr<QWidget>(std::move(dialog));
     },
     1400});

KESTRELLE_GALLERY_ENTRY({"preview_player",
                         [] {
                             const SlideShowProject& project = sampleProject(0.2, 2.0, 3);
                             return std::unique_ptr<QWidget>(std::make_unique<PreviewPlayer>(
                                 project, SettingsStore::instance().currentProfile()));
                         },
                         1300});

KESTRELLE_GALLERY_ENTRY({"shutdown_countdown", [] {
                             auto dialog = std::make_unique<ShutdownCountdownDialog>();
                             dialog->stopTimer();
                             for (int tick = 0; tick < 3; ++tick) dialog->tick();
                             return std::unique_ptr<QWidget>(std::move(dialog));
                         }});

KESTRELLE_GALLERY_ENTRY({"export_success", [] {
                             static NoRevealer revealer;
                             const std::string archive =
                                 QDir::homePath().toStdString() + "/Documents/Kestrelle.iba";
                             return std::unique_ptr<QWidget>(
                                 std::make_unique<ExportSuccessDialog>(archive, revealer));
                         }});

}  // namespace
