// What the photo browser's drag carries, dropped through synthetic events onto the storyboard: the
// cells and their order, a point on no cell, and the line that does not match the browser's mode.

#include "app/ui/job_completion_actions.h"
#include "app/ui/photo_browser.h"
#include "project/ui/storyboard_control.h"
#include "tests/support/temp_home.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

#include <sys/stat.h>

namespace kestrelle {
namespace {

class BrowserToStoryboardTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        folder = path("photos");
        ::mkdir(folder.c_str(), 0755);
        QImage photo(64, 48, QImage::Format_RGB32);
        photo.fill(QColor(30, 140, 60));
        for (const char* name : {"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "e0.jpg", "e1.jpg"}) {
            ASSERT_TRUE(photo.save(QString::fromStdString(folder + "/" + name), "JPEG"));
        }
        ASSERT_TRUE(testing::writeFile(folder + "/tune.wav", "RIFF"));

        board = std::make_unique<StoryboardControl>();
        board->project().setDefaultsProvider([] { return SlideDefaults{3.0, 1.0, 4}; });
        board->resize(4 * 154 + 40, 170);
        board->show();
        QApplication::processEvents();
        ASSERT_EQ(board->dropPhotos({folder + "/e0.jpg", folder + "/e1.jpg"}, 0), 2);
        QApplication::processEvents();

        browser.resize(700, 400);
        browser.show();
        browser.openFolder(folder);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.isWorkerRunning(); }, 60000));
    }

    void clickRow(const QString& text) {
        const QList<QListWidgetItem*> found = browser.findItems(text, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1);
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, Qt::ControlModifier,
                          browser.visualItemRect(found.front()).center());
    }

    // Enters, moves and drops at `point` of the storyboard's view; whether the drop was accepted.
    bool dropAt(const QMimeData& mime, QPoint point) {
        QWidget* view = board->viewport();
        QDragEnterEvent enter(point, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view, &enter);
        QDragMoveEvent move(point, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view, &move);
        QDropEvent drop(QPointF(point), Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(view, &drop);
        return drop.isAccepted();
    }

    QPoint inCell(int cell, int y) const {
        return QPoint(board->project().slide(cell)->cellRect.left + 60, y);
    }

    std::vector<std::string> photoNames() const {
        std::vector<std::string> names;
        for (const Slide& cell : board->project().cells()) {
            if (cell.hasPhoto) names.push_back(cell.photoPath.substr(cell.photoPath.rfind('/') + 1));
        }
        return names;
    }

    std::string folder;
    std::unique_ptr<StoryboardControl> board;
    PhotoBrowser browser;
};

TEST_F(BrowserToStoryboardTest, SelectedPhotosLandInRowOrderFromTheCellUnderThePoint) {
    for (const char* name : {"p3.jpg", "p0.jpg", "p2.jpg"}) clickRow(QString::fromLatin1(name));
    const std::unique_ptr<QMimeData> mime = browser.selectionMimeData();
    ASSERT_NE(mime, nullptr);

    // On the photo line but below every cell: nothing is inserted, not even from cell 0.
    dropAt(*mime, inCell(0, 95));
    EXPECT_EQ(photoNames(), (std::vector<std::string>{"e0.jpg", "e1.jpg"}));

    // The soundtrack line does not take photos.
    EXPECT_FALSE(dropAt(*mime, inCell(1, 120)));

    EXPECT_TRUE(dropAt(*mime, inCell(1, 40)));
    EXPECT_EQ(photoNames(), (std::vector<std::string>{"e0.jpg", "p0.jpg", "p2.jpg", "p3.jpg", "e1.jpg"}));
}

TEST_F(BrowserToStoryboardTest, AudioModeItemsAreNotTakenOnThePhotoLine) {
    browser.setMode(BrowserMode::Audio);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.isWorkerRunning(); }, 60000));
    clickRow(QStringLiteral("tune.wav"));
    const std::unique_ptr<QMimeData> mime = browser.selectionMimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_FALSE(dropAt(*mime, inCell(1, 40)));
    EXPECT_EQ(photoNames(), (std::vector<std::string>{"e0.jpg", "e1.jpg"}));
}

// Audio files dragged from the browser in audio mode land on the soundtrack line, wherever on it the
// pointer is, in row order.
TEST_F(BrowserToStoryboardTest, AudioFilesLandAnywhereOnTheSoundtrackLine) {
    std::filesystem::copy_file(finishSoundPath(), folder + "/song1.wav");
    std::filesystem::copy_file(finishSoundPath(), folder + "/song2.wav");
    browser.setMode(BrowserMode::Audio);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !browser.isWorkerRunning(); }, 60000));
    clickRow(QStringLiteral("song2.wav"));
    clickRow(QStringLiteral("song1.wav"));
    const std::unique_ptr<QMimeData> mime = browser.selectionMimeData();
    ASSERT_NE(mime, nullptr);
    const int middle = (storyboard::kSoundtrackTop + storyboard::kSoundtrackBottom) / 2;
    EXPECT_TRUE(dropAt(*mime, QPoint(400, middle)));
    ASSERT_EQ(board->project().clips().size(), 2u);
    EXPECT_EQ(board->project().clip(0)->wavePath, folder + "/song1.wav");
    EXPECT_EQ(board->project().clip(1)->wavePath, folder + "/song2.wav");
}

}  // namespace
}  // namespace kestrelle
