// The folder tree and the photo browser inside the main window: the stored folder opened again at
// start, and closing the window while thumbnails are made stops the worker.

#include "app/ui/folder_tree.h"
#include "app/ui/main_window.h"
#include "app/ui/photo_browser.h"
#include "config/settings_store.h"
#include "tests/support/temp_home.h"

#include <QImage>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrelle {
namespace {

class MainWindowBrowserTest : public testing::TempHomeTest {};

TEST_F(MainWindowBrowserTest, TheStoredFolderOpensAtStartAndClosingStopsTheWorker) {
    const std::string folder = path("Trip/Day 1");
    std::filesystem::create_directories(folder);
    QImage photo(320, 240, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    for (int i = 0; i < 40; ++i) {
        ASSERT_TRUE(
            photo.save(QString::fromStdString(folder + "/IMG_" + std::to_string(i) + ".JPG"), "JPEG"));
    }
    SettingsStore store;
    store.settings().DefaultSelectedDirectory = folder;  // HOME is root(), so the tree reaches it

    LumoDlg window(store);
    ASSERT_EQ(window.folderTree()->currentPath(), folder);
    PhotoBrowser& browser = *window.photoBrowser();
    EXPECT_EQ(browser.currentFolder(), folder);
    EXPECT_EQ(browser.count(), 40);
    EXPECT_EQ(browser.pathAt(0), folder + "/IMG_0.JPG");

    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.thumbnailsShown() > 0; }, 60000));
    window.reject();
    EXPECT_FALSE(browser.isWorkerRunning());

    // Selecting the virtual root empties the browser; the choice is what the store keeps.
    window.folderTree()->setCurrentItem(window.folderTree()->topLevelItem(0));
    EXPECT_EQ(browser.count(), 0);
    EXPECT_EQ(store.settings().DefaultSelectedDirectory, "");
}

// The Photo and Audio buttons switch what the browser lists: photos, or every audio file the
// soundtrack takes (and no photo).
TEST_F(MainWindowBrowserTest, TheAudioButtonListsAudioFilesAndThePhotoButtonPhotos) {
    const std::string folder = path("Mixed");
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.mp3", "b.FLAC", "c.wav", "d.ogg", "notes.txt", "e.jpg.txt"}) {
        ASSERT_TRUE(testing::writeFile(folder + "/" + name, "data"));
    }
    QImage photo(32, 24, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    ASSERT_TRUE(photo.save(QString::fromStdString(folder + "/photo.jpg"), "JPEG"));
    SettingsStore store;
    store.settings().DefaultSelectedDirectory = folder;

    LumoDlg window(store);
    window.show();
    PhotoBrowser& browser = *window.photoBrowser();
    const auto listed = [&browser] {
        std::vector<std::string> names;
        for (const ListedFile& file : browser.files()) names.push_back(file.name);
        return names;
    };
    ASSERT_TRUE(window.photoModeButton()->isVisible());
    ASSERT_TRUE(window.audioModeButton()->isVisible());
    EXPECT_TRUE(window.photoModeButton()->isChecked());
    EXPECT_EQ(listed(), std::vector<std::string>{"photo.jpg"});

    QTest::mouseClick(window.audioModeButton(), Qt::LeftButton);
    EXPECT_EQ(browser.mode(), BrowserMode::Audio);
    EXPECT_TRUE(window.audioModeButton()->isChecked());
    EXPECT_EQ(listed(), (std::vector<std::string>{"a.mp3", "b.FLAC", "c.wav", "d.ogg"}));
    EXPECT_EQ(browser.selectedPayload().line, DragLine::Soundtrack);

    QTest::mouseClick(window.photoModeButton(), Qt::LeftButton);
    EXPECT_EQ(browser.mode(), BrowserMode::Photo);
    EXPECT_EQ(listed(), std::vector<std::string>{"photo.jpg"});
    window.reject();
}

}  // namespace
}  // namespace kestrelle
