// The folder tree and the photo browser inside the main window: the stored folder opened again at
// start, and closing the window while thumbnails are made stops the worker.

#include "app/ui/folder_tree.h"
#include "app/ui/main_window.h"
#include "app/ui/photo_browser.h"
#include "config/settings_store.h"
#include "tests/support/temp_home.h"

#include <QImage>
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

}  // namespace
}  // namespace kestrelle
