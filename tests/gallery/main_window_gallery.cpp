// The main window, with the sample photos on the storyboard and the shipped profiles in its list.

#include "app/ui/about_dialog.h"
#include "app/ui/folder_tree.h"
#include "app/ui/main_window.h"
#include "config/settings_store.h"
#include "project/slideshow_project.h"
#include "project/ui/storyboard_control.h"
#include "tests/gallery/gallery.h"

#include <QAction>
#include <QCoreApplication>
#include <QMenuBar>

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

// The main window as a user of a small laptop sees it: fitted to a 1366 x 768 screen (a 32-pixel panel
// and a title bar taken off; at 125 % the logical screen is 1093 x 614: scripts/gallery.sh draws it
// again with QT_SCALE_FACTOR=1.25), three slides selected and the Edit menu open; then maximised on a
// 1920 x 1080 screen.
std::unique_ptr<QWidget> slideshowWindow() {
    // The slides are unsaved changes (the title's mark); closing after the picture discards them.
    kestrelle::MainWindowDialogs dialogs = kestrelle::programDialogs();
    dialogs.askSaveChanges = [](QWidget*, const QString&) { return kestrelle::SaveChangesAnswer::Discard; };
    auto window = std::make_unique<kestrelle::LumoDlg>(kestrelle::SettingsStore::instance(), dialogs);
    kestrelle::StoryboardControl* board = window->storyboard();
    int position = 0;
    for (const std::string& photo : kestrelle::gallery::samplePhotoPaths()) {
        board->history().record(QStringLiteral("Add Photo"), [&] {
            const kestrelle::SlideDefaults defaults = window->project().currentDefaults();
            window->project().insertPhoto(photo, position, 1 + position % 12, defaults.slideDuration,
                                          defaults.transitionDuration);
        });
        ++position;
    }
    board->selectSlides({1, 2, 3}, 3);
    window->folderTree()->selectFolder(kestrelle::gallery::samplePhotoFolder());
    return window;
}

void fitToLaptopScreen(QWidget& window) {
    const qreal scale = window.devicePixelRatioF();
    window.resize(static_cast<int>(1366 / scale), static_cast<int>((768 - 32) / scale) - 30);
}

KESTRELLE_GALLERY_ENTRY({"main_window_1366x768", slideshowWindow, 1500, fitToLaptopScreen, true});

KESTRELLE_GALLERY_ENTRY({"main_window_1366x768_edit_menu", slideshowWindow, 1500,
                         [](QWidget& window) {
                             fitToLaptopScreen(window);
                             auto& main = static_cast<kestrelle::LumoDlg&>(window);
                             QCoreApplication::processEvents();
                             QAction* edit = main.menuBar()->actions().at(1);
                             main.menuBar()->setActiveAction(edit);
                         },
                         true});

KESTRELLE_GALLERY_ENTRY({"main_window_maximised_1920x1080", slideshowWindow, 1500,
                         [](QWidget& window) {
                             // No window manager maximises here: the window takes a 1920 x 1080 screen's
                             // room below a panel, as maximised.
                             window.showMaximized();
                             window.setGeometry(0, 0, 1920, 1080 - 32 - 30);
                         },
                         true});

KESTRELLE_GALLERY_ENTRY({"about_dialog", [] { return std::make_unique<kestrelle::AboutDialog>(); }});

}  // namespace
