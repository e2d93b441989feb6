// The main window, with the sample photos on the storyboard and the shipped profiles in its list.

#include "app/ui/about_dialog.h"
#include "app/ui/folder_tree.h"
#include "app/ui/main_window.h"
#include "config/settings_store.h"
#include "project/slideshow_project.h"
#include "project/ui/storyboard_control.h"
#include "tests/gallery/gallery.h"

namespace {

KESTRELLE_GALLERY_ENTRY({"main_window",
                         [] {
                             auto window =
                                 std::make_unique<kestrelle::LumoDlg>(kestrelle::SettingsStore::instance());
                             kestrelle::SlideShowProject& project = window->project();
                             int position = 0;
                             for (const std::string& photo : kestrelle::gallery::samplePhotoPaths()) {
                                 const kestrelle::SlideDefaults defaults = project.currentDefaults();
                                 project.insertPhoto(photo, position, 1 + position % 12,
                                                     defaults.slideDuration, defaults.transitionDuration);
                                 ++position;
                             }
                             project.addClip(
                                 kestrelle::gallery::sampleWavePath("Morning Theme.wav", 11.0, 2.0));
                             project.addClip(kestrelle::gallery::sampleWavePath("Evening.wav", 14.0, 3.0));
                             window->storyboard()->scrollTo(0);
                             // The sample folder open in the tree and the browser, its thumbnails made
                             // meanwhile.
                             window->folderTree()->selectFolder(kestrelle::gallery::samplePhotoFolder());
                             return std::unique_ptr<QWidget>(std::move(window));
                         },
                         1500});

KESTRELLE_GALLERY_ENTRY({"about_dialog", [] { return std::make_unique<kestrelle::AboutDialog>(); }});

}  // namespace
