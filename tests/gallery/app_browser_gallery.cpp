// The folder tree and the photo browser, side by side as in the main window, with the sample photo
// folder selected and its thumbnails made.

#include "app/ui/folder_tree.h"
#include "app/ui/photo_browser.h"
#include "config/settings_store.h"
#include "tests/gallery/gallery.h"

#include <QApplication>
#include <QFile>
#include <QHBoxLayout>

namespace {

using kestrelle::BrowserMode;
using kestrelle::FolderTree;
using kestrelle::PhotoBrowser;

void waitForThumbnails(PhotoBrowser& browser) {
    for (int i = 0; i < 20000 && browser.isWorkerRunning(); ++i)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::unique_ptr<QWidget> treeAndBrowser(BrowserMode mode) {
    const std::string photos = kestrelle::gallery::samplePhotoFolder();
    kestrelle::PlaceRoots roots = kestrelle::PlaceRoots::current();
    // Home is the folder that holds the sample photos.
    roots.home = photos.substr(0, photos.find_last_of('/'));
    roots.desktop.clear();
    roots.pictures.clear();

    auto window = std::make_unique<QWidget>();
    window->setWindowTitle(QStringLiteral("Kestrelle"));
    auto* layout = new QHBoxLayout(window.get());
    auto* tree = new FolderTree(std::make_unique<kestrelle::LocalFolderSource>(roots),
                                kestrelle::SettingsStore::instance(), window.get());
    auto* browser = new PhotoBrowser(window.get());
    layout->addWidget(tree, 1);
    layout->addWidget(browser, 2);
    QObject::connect(tree, &FolderTree::openFolderRequested, browser, &PhotoBrowser::openFolderPath);
    window->resize(900, 300);
    browser->setMode(mode);
    tree->build();
    tree->selectFolder(photos);
    waitForThumbnails(*browser);
    if (browser->count() > 2) {
        browser->item(1)->setSelected(true);
        browser->item(2)->setSelected(true);
    }
    return window;
}

KESTRELLE_GALLERY_ENTRY({"folder_tree_and_photo_browser", [] { return treeAndBrowser(BrowserMode::Photo); },
                         500});

KESTRELLE_GALLERY_ENTRY({"photo_browser_audio",
                         [] {
                             const std::string photos = kestrelle::gallery::samplePhotoFolder();
                             for (const char* name : {"Theme.wav", "Birdsong.WAV", "Evening Walk.mp3",
                                                      "Rain on the Roof.flac", "Voice note.m4a"}) {
                                 QFile file(QString::fromStdString(photos) + QLatin1Char('/') +
                                            QLatin1String(name));
                                 if (file.open(QIODevice::WriteOnly)) file.write("RIFF");
                             }
                             auto browser = std::make_unique<PhotoBrowser>();
                             browser->resize(600, 300);
                             browser->setMode(BrowserMode::Audio);
                             browser->openFolder(photos);
                             waitForThumbnails(*browser);
                             return std::unique_ptr<QWidget>(std::move(browser));
                         },
                         500});

}  // namespace
