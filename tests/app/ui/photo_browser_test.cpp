// The photo browser over temporary folders: what it lists, thumbnails arriving for the folder shown
// and no other, the worker joined when the window goes, and what a drag carries.

#include "app/ui/photo_browser.h"
#include "tests/support/temp_home.h"

#include <QColor>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>

namespace kestrelle {
namespace {

class PhotoBrowserTest : public testing::TempHomeTest {
protected:
    std::string makePhotos(const std::string& name, int count, QColor colour,
                           const char* pattern = "photo_%1.JPG") {
        const std::string folder = path(name);
        ::mkdir(folder.c_str(), 0755);
        QImage photo(160, 120, QImage::Format_RGB32);
        photo.fill(colour);
        for (int i = 0; i < count; ++i) {
            photo.save(
                QString::fromStdString(folder) + QLatin1Char('/') + QString::fromLatin1(pattern).arg(i),
                "JPEG", 90);
        }
        return folder;
    }

    // Holds every worker of `browser` before its second row until release() (so "mid-run" does not
    // depend on how fast the machine is).
    void holdWorkersAfterTheFirstRow(PhotoBrowser& browser) {
        browser.setWorkerRowHook([this](int row) {
            if (row == 0) return;
            std::unique_lock<std::mutex> guard(holdMutex_);
            releasedChanged_.wait(guard, [this] { return released_; });
        });
    }
    void release() {
        std::lock_guard<std::mutex> guard(holdMutex_);
        released_ = true;
        releasedChanged_.notify_all();
    }

    static bool waitForThumbnails(PhotoBrowser& browser) {
        return QTest::qWaitFor([&] { return !browser.isWorkerRunning(); }, 60000);
    }

    static QColor centreOf(const QListWidgetItem* item) {
        const QImage picture = item->icon().pixmap(PhotoBrowser::kThumbnailSize).toImage();
        return picture.pixelColor(picture.width() / 2, picture.height() / 2);
    }

private:
    std::mutex holdMutex_;
    std::condition_variable releasedChanged_;
    bool released_ = false;
};

TEST_F(PhotoBrowserTest, ListsTheFolderLowerCasedAndKeepsRealNamesInPaths) {
    const std::string folder = makePhotos("Trip", 3, Qt::green);
    ASSERT_TRUE(testing::writeFile(folder + "/notes.txt", "x"));
    ASSERT_EQ(::mkfifo((folder + "/pipe.jpg").c_str(), 0644), 0);      // opening it would block forever
    const std::string oddName = std::string("\xC3\x28scan") + ".png";  // not valid UTF-8
    ASSERT_TRUE(testing::writeFile(folder + "/" + oddName, "damaged"));

    PhotoBrowser browser;
    QSignalSpy done(&browser, &PhotoBrowser::thumbnailsDone);
    browser.openFolder("  " + folder + " ");
    EXPECT_EQ(browser.currentFolder(), folder);
    ASSERT_EQ(browser.count(), 4);
    // All items are there at once, before any thumbnail.
    EXPECT_EQ(browser.item(0)->text(), QStringLiteral("photo_0.jpg"));
    EXPECT_EQ(browser.pathAt(0), folder + "/photo_0.JPG");
    EXPECT_EQ(browser.pathAt(3), folder + "/" + oddName);

    ASSERT_TRUE(waitForThumbnails(browser));
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(browser.thumbnailsShown(), 4);
    EXPECT_GT(centreOf(browser.item(1)).green(), 200);
    EXPECT_LT(centreOf(browser.item(1)).red(), 60);
    // The damaged file keeps its item with the white of an empty thumbnail.
    EXPECT_EQ(centreOf(browser.item(3)), QColor(Qt::white));

    // An empty path clears the list and keeps the folder for a change of mode.
    browser.openFolder(" ");
    EXPECT_EQ(browser.count(), 0);
    EXPECT_EQ(browser.currentFolder(), folder);
}

TEST_F(PhotoBrowserTest, SwitchingFoldersMidRunLeavesNoThumbnailOfTheOldFolder) {
    const std::string many = makePhotos("many", 60, Qt::red);
    const std::string few = makePhotos("few", 3, Qt::blue);
    const std::string other = makePhotos("other", 4, Qt::red);
    PhotoBrowser browser;
    holdWorkersAfterTheFirstRow(browser);
    QSignalSpy done(&browser, &PhotoBrowser::thumbnailsDone);
    browser.openFolder(many);
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.thumbnailsShown() > 0; }, 60000));
    ASSERT_TRUE(browser.isWorkerRunning());
    release();
    browser.openFolder(few);
    ASSERT_TRUE(waitForThumbnails(browser));
    ASSERT_EQ(browser.count(), 3);
    EXPECT_EQ(browser.thumbnailsShown(), 3);
    for (int row = 0; row < browser.count(); ++row) {
        const QColor centre = centreOf(browser.item(row));
        EXPECT_GT(centre.blue(), 200) << row;
        EXPECT_LT(centre.red(), 60) << row;
    }

    // A folder whose thumbnails all wait in the event queue when the next one is opened: none of
    // them may land on the new folder's items.
    browser.openFolder(other);
    browser.currentWorker()->join();
    browser.openFolder(few);
    ASSERT_TRUE(waitForThumbnails(browser));
    EXPECT_EQ(browser.thumbnailsShown(), 3);
    EXPECT_EQ(done.count(), 2);  // once for each opening of the small folder
}

TEST_F(PhotoBrowserTest, ClosingMidRunJoinsTheWorker) {
    const std::string many = makePhotos("many", 60, Qt::red);
    auto browser = std::make_unique<PhotoBrowser>();
    holdWorkersAfterTheFirstRow(*browser);
    browser->openFolder(many);
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser->thumbnailsShown() > 0; }, 60000));
    ASSERT_TRUE(browser->isWorkerRunning());
    release();
    browser.reset();
    // Anything the worker had queued went with the window.
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
}

TEST_F(PhotoBrowserTest, AudioModeListsWavFilesWithTheAudioPicture) {
    const std::string folder = makePhotos("mixed", 1, Qt::red);
    ASSERT_TRUE(testing::writeFile(folder + "/x.WAV", "RIFF"));
    ASSERT_TRUE(testing::writeFile(folder + "/x.wave", "RIFF"));
    PhotoBrowser browser;
    browser.openFolder(folder);
    browser.setMode(BrowserMode::Audio);
    ASSERT_EQ(browser.count(), 1);
    EXPECT_EQ(browser.item(0)->text(), QStringLiteral("x.wav"));
    ASSERT_TRUE(waitForThumbnails(browser));
    const QImage expected = PhotoBrowser::audioPicture(1.0);
    EXPECT_EQ(browser.item(0)
                  ->icon()
                  .pixmap(PhotoBrowser::kThumbnailSize)
                  .toImage()
                  .convertToFormat(QImage::Format_RGB32),
              expected.convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(browser.selectedPayload().line, DragLine::Soundtrack);
}

TEST_F(PhotoBrowserTest, ADragCarriesTheSelectedRowsInAscendingOrderWhateverTheOrderOfClicks) {
    const std::string folder = makePhotos("drag", 6, Qt::gray, "p%1.jpg");
    PhotoBrowser browser;
    browser.resize(700, 400);
    browser.show();
    browser.openFolder(folder);
    ASSERT_TRUE(waitForThumbnails(browser));
    EXPECT_EQ(browser.selectionMimeData(), nullptr);  // nothing selected, nothing to drag

    for (int row : {4, 1, 3}) {
        const QRect cell = browser.visualItemRect(browser.item(row));
        ASSERT_FALSE(cell.isEmpty());
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, Qt::ControlModifier, cell.center());
    }
    std::unique_ptr<QMimeData> mime = browser.selectionMimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_TRUE(mime->hasFormat(QString::fromLatin1(kPhotoListMimeType)));
    const std::optional<DragPayload> payload = takeDragPayload(*mime);
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(payload->line, DragLine::Photos);
    EXPECT_EQ(payload->paths,
              (std::vector<std::string>{folder + "/p1.jpg", folder + "/p3.jpg", folder + "/p4.jpg"}));

    EXPECT_EQ(PhotoBrowser::dragPicture(false, 1.0).size(), QSize(16, 12));
    EXPECT_EQ(PhotoBrowser::dragPicture(true, 2.0).deviceIndependentSize().toSize(), QSize(17, 13));
}

}  // namespace
}  // namespace kestrelle

namespace kestrelle {
namespace {

// The current item shows a clear focus ring while the list has the focus: its two outermost pixels on
// every side in the highlight colour (checked on an item that is current but not selected, so the
// selection's own fill cannot pass for the ring); without the focus there is no ring.
TEST_F(PhotoBrowserTest, TheCurrentItemShowsAFocusRingTwoPixelsWide) {
    const std::string folder = makePhotos("ring", 3, Qt::green);
    PhotoBrowser browser;
    browser.resize(500, 300);
    browser.openFolder(folder);
    ASSERT_TRUE(waitForThumbnails(browser));
    browser.show();
    browser.activateWindow();
    browser.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return browser.hasFocus(); }, 5000));
    browser.clearSelection();
    browser.selectionModel()->setCurrentIndex(browser.model()->index(1, 0), QItemSelectionModel::NoUpdate);
    const QRgb highlight = browser.palette().color(QPalette::Highlight).rgb();
    const QRect cell = browser.visualRect(browser.currentIndex());
    ASSERT_FALSE(cell.isEmpty());

    QImage image = browser.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const int midX = cell.center().x();
    const int midY = cell.center().y();
    for (const QPoint& p :
         {QPoint(cell.left(), midY), QPoint(cell.left() + 1, midY), QPoint(cell.right(), midY),
          QPoint(cell.right() - 1, midY), QPoint(midX, cell.top()), QPoint(midX, cell.top() + 1),
          QPoint(midX, cell.bottom()), QPoint(midX, cell.bottom() - 1)}) {
        EXPECT_EQ(image.pixel(p), highlight) << p.x() - cell.left() << "," << p.y() - cell.top();
    }
    const QRect other = browser.visualRect(browser.model()->index(0, 0));
    EXPECT_NE(image.pixel(other.left(), other.center().y()), highlight);

    browser.clearFocus();
    image = browser.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_NE(image.pixel(cell.left(), midY), highlight);
    EXPECT_NE(image.pixel(cell.left() + 1, midY), highlight);
}

}  // namespace
}  // namespace kestrelle
