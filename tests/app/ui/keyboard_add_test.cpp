// Adding the photo browser's selection to the storyboard from the keyboard inside the main window:
// Enter and Insert add photos after the last photo slide and WAV files to the soundtrack, in row order,
// as a drop would; without a selection, and anywhere but the browser, Enter still does nothing.

#include "app/ui/folder_tree.h"
#include "app/ui/job_completion_actions.h"
#include "app/ui/main_window.h"
#include "app/ui/photo_browser.h"
#include "base/message_box.h"
#include "config/settings_store.h"
#include "project/slideshow_project.h"
#include "project/ui/storyboard_control.h"
#include "tests/app/message_recorder.h"
#include "tests/support/temp_home.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>

namespace kestrelle {
namespace {

std::string fileName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

class KeyboardAddTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&messages_);
        folder_ = path("photos");
        std::filesystem::create_directories(folder_);
        QImage photo(64, 48, QImage::Format_RGB32);
        photo.fill(QColor(30, 140, 60));
        for (const char* name : {"p0.jpg", "p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg", "e0.jpg"})
            ASSERT_TRUE(photo.save(QString::fromStdString(folder_ + "/" + name), "JPEG"));
        for (const char* name : {"a.wav", "b.wav", "c.wav"})
            std::filesystem::copy_file(finishSoundPath(), folder_ + "/" + name);

        store_.settings().DefaultSelectedDirectory = folder_;  // HOME is root(), so the tree reaches it
        store_.settings().DefaultSlideDuration = 4.5;
        store_.settings().DefaultTransitionDuration = 1.5;
        store_.settings().DefaultSlideIndex = 7;
        dialogs_.generate = [this](QWidget*, SettingsStore&, SlideShowProject&, const std::string&) {
            ++generated_;
        };
        window_ = std::make_unique<LumoDlg>(store_, dialogs_);
        window_->show();
        window_->activateWindow();
        waitForThumbnails();
        // One photo already on the storyboard.
        ASSERT_EQ(window_->storyboard()->dropPhotos({folder_ + "/e0.jpg"}, 0), 1);
    }
    void TearDown() override {
        window_.reset();
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    void waitForThumbnails() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !browser().isWorkerRunning(); }, 60000));
    }
    PhotoBrowser& browser() { return *window_->photoBrowser(); }
    SlideShowProject& project() { return window_->project(); }

    // Selects the rows of these names, clicked in this order with Ctrl held.
    void select(std::initializer_list<const char*> names) {
        browser().clearSelection();
        for (const char* name : names) {
            const QList<QListWidgetItem*> found =
                browser().findItems(QString::fromLatin1(name), Qt::MatchExactly);
            ASSERT_EQ(found.size(), 1) << name;
            QTest::mouseClick(browser().viewport(), Qt::LeftButton, Qt::ControlModifier,
                              browser().visualItemRect(found.front()).center());
        }
        ASSERT_EQ(browser().selectedItems().size(), static_cast<qsizetype>(names.size()));
    }

    std::vector<std::string> photoNames() {
        std::vector<std::string> names;
        for (const Slide& cell : project().cells())
            if (cell.hasPhoto) names.push_back(fileName(cell.photoPath));
        return names;
    }
    std::vector<std::string> clipNames() {
        std::vector<std::string> names;
        for (const SoundtrackClip& clip : project().clips()) names.push_back(fileName(clip.wavePath));
        return names;
    }

    std::string folder_;
    testing::MessageRecorder messages_;
    SettingsStore store_;
    MainWindowDialogs dialogs_;
    std::unique_ptr<LumoDlg> window_;
    int generated_ = 0;
};

TEST_F(KeyboardAddTest, EnterAndInsertAddTheSelectedPhotosInRowOrderAfterThePhotos) {
    // The selected slide does not change where new photos go: after the last photo slide.
    window_->storyboard()->selectSlide(0);
    select({"p3.jpg", "p0.jpg", "p2.jpg"});
    QTest::keyClick(&browser(), Qt::Key_Return);
    EXPECT_EQ(photoNames(), (std::vector<std::string>{"e0.jpg", "p0.jpg", "p2.jpg", "p3.jpg"}));
    for (int i = 1; i <= 3; ++i) {
        const Slide* cell = project().slide(i);
        EXPECT_DOUBLE_EQ(cell->slideDuration, 4.5);
        EXPECT_DOUBLE_EQ(cell->transitionDuration, 1.5);
        EXPECT_EQ(cell->transitionEffect, 7);
    }
    // As after a drop, the last slide put in is the selected one.
    EXPECT_EQ(project().selectedSlide(), 3);

    select({"p4.jpg", "p1.jpg"});
    QTest::keyClick(&browser(), Qt::Key_Insert);
    EXPECT_EQ(photoNames(),
              (std::vector<std::string>{"e0.jpg", "p0.jpg", "p2.jpg", "p3.jpg", "p1.jpg", "p4.jpg"}));
    EXPECT_EQ(project().selectedSlide(), 5);
    // The storyboard scrolled to the new slides.
    const QRect view = window_->storyboard()->viewport()->rect();
    const CellRect& last = project().slide(5)->cellRect;
    EXPECT_TRUE(view.contains(QPoint((last.left + last.right) / 2, 40)));

    // A held key adds the selection once.
    select({"p0.jpg"});
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
    QApplication::sendEvent(&browser(), &press);
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(&browser(), &repeat);
    EXPECT_EQ(project().photoSlideCount(), 7);
    EXPECT_EQ(generated_, 0);
    EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(KeyboardAddTest, AudioModeAddsTheSelectedWavFilesToTheSoundtrackInRowOrder) {
    browser().setMode(BrowserMode::Audio);
    waitForThumbnails();
    select({"c.wav", "a.wav"});
    QTest::keyClick(&browser(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(clipNames(), (std::vector<std::string>{"a.wav", "c.wav"}));
    select({"b.wav"});
    QTest::keyClick(&browser(), Qt::Key_Insert);
    EXPECT_EQ(clipNames(), (std::vector<std::string>{"a.wav", "c.wav", "b.wav"}));
    EXPECT_EQ(photoNames(), std::vector<std::string>{"e0.jpg"});
}

TEST_F(KeyboardAddTest, EnterWithoutASelectionOrOutsideTheBrowserDoesNothing) {
    browser().clearSelection();
    QTest::keyClick(&browser(), Qt::Key_Return);
    QTest::keyClick(&browser(), Qt::Key_Insert);
    EXPECT_EQ(photoNames(), std::vector<std::string>{"e0.jpg"});

    // With photos selected, Enter anywhere else is still swallowed by the window and adds nothing.
    select({"p1.jpg", "p2.jpg"});
    QWidget* elsewhere[] = {window_->folderTree(), window_->storyboard(), window_->fileNameEdit(),
                            window_->startButton()};
    for (QWidget* widget : elsewhere) {
        QTest::keyClick(widget, Qt::Key_Return);
        QTest::keyClick(widget, Qt::Key_Enter, Qt::KeypadModifier);
    }
    EXPECT_EQ(photoNames(), std::vector<std::string>{"e0.jpg"});
    EXPECT_EQ(browser().currentFolder(), folder_);
    EXPECT_EQ(generated_, 0);
    EXPECT_TRUE(messages_.texts.empty());
    EXPECT_TRUE(window_->isVisible());
}

}  // namespace
}  // namespace kestrelle

namespace kestrelle {
namespace {

// Enter goes through the same check as a drop: a text file named like a photo is left out, with one
// message naming it, and the good photos of the selection are still added.
TEST_F(KeyboardAddTest, EnterLeavesOutFilesThatAreNoPhotosAndSaysSoOnce) {
    ASSERT_TRUE(testing::writeFile(folder_ + "/broken.jpg", "this is a text, not a photo"));
    browser().openFolder(folder_);
    waitForThumbnails();
    select({"broken.jpg", "p1.jpg"});
    QTest::keyClick(&browser(), Qt::Key_Return);
    EXPECT_EQ(photoNames(), (std::vector<std::string>{"e0.jpg", "p1.jpg"}));
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_NE(messages_.texts[0].find("\nbroken.jpg"), std::string::npos) << messages_.texts[0];
}

}  // namespace
}  // namespace kestrelle
