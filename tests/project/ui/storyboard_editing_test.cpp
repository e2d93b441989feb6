// The storyboard as an editor: several slides selected with the mouse and the keys, actions on the whole
// selection, slides dragged to a new place, every change one undo step, tooltips, missing photos, and
// the thumbnails of an opened slideshow made off the user-interface thread.

#include "base/message_box.h"
#include "project/ui/storyboard_control.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QApplication>
#include <QHelpEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace kestrelle {
namespace {

class SilentPresenter final : public MessagePresenter {
public:
    int show(const std::string& text, unsigned) override {
        texts.push_back(text);
        return MessageAnswer::kOk;
    }
    std::vector<std::string> texts;
};

class StoryboardEditingTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        setMessagePresenter(&messages);
        board = std::make_unique<StoryboardControl>();
        board->project().setDefaultsProvider([] { return SlideDefaults{3.0, 1.0, 4}; });
        board->setChooserOpener([this](QWidget*, const SlideShowProject&, int) { return chooserAnswer; });
        board->setViewerOpener([](QWidget*, const std::string&, int) {});
        board->setMenuRunner([this](QMenu& menu, const QPoint&) {
            for (QAction* action : menu.actions()) {
                if (action->text() == menuChoice && action->isEnabled()) {
                    action->trigger();
                }
            }
        });
        board->setPeakLookup([](const std::string&) -> const AudioPeaks* { return nullptr; });
        board->resize(4 * kCellWidth + 40, 170);
        board->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        board.reset();
        setMessagePresenter(nullptr);
        TempHomeTest::TearDown();
    }

    std::string photo(const std::string& name, int width = 32, int height = 24) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(QColor(30, 140, 60));
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    // Photos dropped as the user drops them: one undo step.
    void dropPhotos(int count) {
        std::vector<std::string> paths;
        for (int i = 0; i < count; ++i) {
            paths.push_back(photo("p" + std::to_string(i) + ".png"));
        }
        board->dropPhotos(paths, 0);
        board->scrollTo(0);
        QApplication::processEvents();
    }
    // The photos' numbers in row order ("p3.png" is 3).
    std::vector<int> order() const {
        std::vector<int> numbers;
        for (int i = 0; i < board->project().photoSlideCount(); ++i) {
            const std::string& p = board->project().slide(i)->photoPath;
            numbers.push_back(std::stoi(p.substr(p.rfind("/p") + 2)));
        }
        return numbers;
    }
    QWidget* view() const { return board->viewport(); }
    QPoint at(int cell, int dx, int dy) const {
        return QPoint(board->project().slide(cell)->cellRect.left + dx, dy);
    }
    void move(QPoint point) {
        QMouseEvent event(QEvent::MouseMove, point, view()->mapToGlobal(point), Qt::NoButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(view(), &event);
    }
    QUndoStack& stack() { return board->history().stack(); }

    SilentPresenter messages;
    std::unique_ptr<StoryboardControl> board;
    std::optional<int> chooserAnswer;
    QString menuChoice;
};

TEST_F(StoryboardEditingTest, SelectWithCtrlShiftAndArrowsThenDeleteInOneStep) {
    dropPhotos(6);
    ASSERT_EQ(stack().count(), 1);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Add Photos"));
    QSignalSpy selection(board.get(), &StoryboardControl::selectionChanged);

    QTest::mouseClick(view(), Qt::LeftButton, {}, at(0, 30, 30));
    QTest::mouseClick(view(), Qt::LeftButton, Qt::ControlModifier, at(2, 30, 30));
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{0, 2}));
    QTest::mouseClick(view(), Qt::LeftButton, Qt::ShiftModifier, at(3, 30, 30));
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{2, 3})) << "a range from the anchor";
    QTest::keyClick(board.get(), Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(board->project().selectedSlide(), 4);
    EXPECT_GT(selection.count(), 3);

    QTest::keyClick(board.get(), Qt::Key_Delete);
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 5}));
    EXPECT_EQ(stack().count(), 2);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Delete Slides"));
    stack().undo();
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{2, 3, 4})) << "undo selects them again";
    EXPECT_TRUE(board->accessibleDescription().contains(QStringLiteral("3 slides selected")));
    stack().undo();
    EXPECT_EQ(board->project().photoSlideCount(), 0);
    stack().redo();
    stack().redo();
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 5}));

    QTest::keyClick(board.get(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{0, 1, 2}));
    // A plain click inside the selection selects that slide alone.
    board->selectSlides({0, 1}, 0);
    QTest::mouseClick(view(), Qt::LeftButton, {}, at(1, 30, 30));
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{1}));
}

TEST_F(StoryboardEditingTest, MenuChooserAndEditorActOnTheWholeSelection) {
    dropPhotos(5);
    board->selectSlides({1, 3}, 1);

    chooserAnswer = 9;
    QTest::mouseClick(view(), Qt::LeftButton, {}, at(3, 130, 35));  // the transition box of slide 4
    EXPECT_EQ(board->project().slide(1)->transitionEffect, 9);
    EXPECT_EQ(board->project().slide(3)->transitionEffect, 9);
    EXPECT_EQ(board->project().slide(2)->transitionEffect, 4);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Change Transition"));
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{1, 3})) << "the selection stays";

    QTest::keyClick(board.get(), Qt::Key_F2);
    ASSERT_TRUE(board->editing());
    board->editor()->setText(QStringLiteral("7.5"));
    QTest::keyClick(board->editor(), Qt::Key_Return);
    EXPECT_DOUBLE_EQ(board->project().slide(1)->slideDuration, 7.5);
    EXPECT_DOUBLE_EQ(board->project().slide(3)->slideDuration, 7.5);
    EXPECT_DOUBLE_EQ(board->project().slide(0)->slideDuration, 3.0);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Change Duration"));
    const int steps = stack().count();
    stack().undo();
    EXPECT_DOUBLE_EQ(board->project().slide(1)->slideDuration, 3.0);
    EXPECT_DOUBLE_EQ(board->project().slide(3)->slideDuration, 3.0);
    stack().redo();

    // The menu's shift moves the selection as one block, in one step.
    board->selectSlides({1, 2}, 1);
    menuChoice = QStringLiteral("Shift Slide Right '>'");
    QContextMenuEvent right(QContextMenuEvent::Mouse, at(1, 30, 30), view()->mapToGlobal(at(1, 30, 30)));
    QApplication::sendEvent(view(), &right);
    EXPECT_EQ(order(), (std::vector<int>{0, 3, 1, 2, 4}));
    EXPECT_EQ(stack().count(), steps + 1);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Move Slides"));
    menuChoice = QStringLiteral("Delete Slide");
    QContextMenuEvent onMoved(QContextMenuEvent::Mouse, at(2, 30, 30), view()->mapToGlobal(at(2, 30, 30)));
    QApplication::sendEvent(view(), &onMoved);
    EXPECT_EQ(board->project().photoSlideCount(), 3);
    stack().undo();
    EXPECT_EQ(order(), (std::vector<int>{0, 3, 1, 2, 4}));

    // Unchanged text leaves each slide's own value.
    board->selectSlides({0, 1}, 0);
    board->beginDurationEdit(0, storyboard::DurationField::Transition);
    const int before = stack().count();
    board->endDurationEdit(true);
    EXPECT_EQ(stack().count(), before) << "nothing changed, no step";
}

TEST_F(StoryboardEditingTest, DraggingSlidesMovesThemInOneUndoStep) {
    dropPhotos(4);
    const int steps = stack().count();
    // Slide 1 onto the right half of slide 3: it goes after it.
    QTest::mousePress(view(), Qt::LeftButton, {}, at(0, 40, 30));
    move(at(0, 50, 30));
    EXPECT_TRUE(board->draggingSlides());
    move(at(2, 100, 30));
    EXPECT_EQ(board->dropIndicatorCell(), 3) << "the drop bar before the slide that will follow";
    QTest::mouseRelease(view(), Qt::LeftButton, {}, at(2, 100, 30));
    EXPECT_FALSE(board->draggingSlides());
    EXPECT_EQ(board->dropIndicatorCell(), -1);
    EXPECT_EQ(order(), (std::vector<int>{1, 2, 0, 3}));
    EXPECT_EQ(stack().count(), steps + 1);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Move Slide"));
    stack().undo();
    EXPECT_EQ(order(), (std::vector<int>{0, 1, 2, 3}));

    // Two selected slides dragged onto the first placeholder go to the end together.
    board->selectSlides({0, 1}, 0);
    QTest::mousePress(view(), Qt::LeftButton, {}, at(1, 40, 30));
    move(at(4, 20, 30));
    EXPECT_EQ(board->dropIndicatorCell(), 4);
    QTest::mouseRelease(view(), Qt::LeftButton, {}, at(4, 20, 30));
    EXPECT_EQ(order(), (std::vector<int>{2, 3, 0, 1}));
    EXPECT_EQ(stack().undoText(), QStringLiteral("Move Slides"));
    EXPECT_EQ(board->project().selectedSlides(), (std::vector<int>{2, 3}));

    // Escape cancels; a release outside the photo line or the view drops nothing.
    const int count = stack().count();
    QTest::mousePress(view(), Qt::LeftButton, {}, at(0, 40, 30));
    move(at(2, 30, 30));
    QTest::keyClick(board.get(), Qt::Key_Escape);
    EXPECT_FALSE(board->draggingSlides());
    QTest::mouseRelease(view(), Qt::LeftButton, {}, at(2, 30, 30));
    QTest::mousePress(view(), Qt::LeftButton, {}, at(0, 40, 30));
    move(QPoint(-50, 400));
    QTest::mouseRelease(view(), Qt::LeftButton, {}, QPoint(-50, 400));
    QTest::mousePress(view(), Qt::LeftButton, {}, at(0, 40, 30));
    move(at(2, 30, 120));  // over the soundtrack line
    QTest::mouseRelease(view(), Qt::LeftButton, {}, at(2, 30, 120));
    EXPECT_EQ(order(), (std::vector<int>{2, 3, 0, 1}));
    EXPECT_EQ(stack().count(), count);
    // Held near the right end, the row scrolls under the pointer and the slide goes further.
    for (int i = 0; i < 8; ++i) {
        board->project().insertPhoto(photo("p" + std::to_string(10 + i) + ".png"),
                                     board->project().photoSlideCount(), 0, 3.0, 1.0);
    }
    board->scrollTo(0);
    QApplication::processEvents();
    QTest::mousePress(view(), Qt::LeftButton, {}, at(0, 40, 30));
    const QPoint edge(board->visibleWidth() - 5, 30);
    move(edge);
    ASSERT_TRUE(testing::processEventsUntil([&] { return board->scrollPosition() >= 4 * kCellWidth; }));
    QTest::mouseRelease(view(), Qt::LeftButton, {}, edge);
    const std::vector<int> scrolled = order();
    EXPECT_NE(scrolled.front(), 2);
    EXPECT_GT(std::find(scrolled.begin(), scrolled.end(), 2) - scrolled.begin(), 4);
    stack().undo();
    EXPECT_EQ(order().front(), 2);
    board->scrollTo(0);
    QApplication::processEvents();
    // A short wobble is a click, not a drag.
    QTest::mousePress(view(), Qt::LeftButton, {}, at(0, 40, 30));
    move(at(0, 41, 30));
    EXPECT_FALSE(board->draggingSlides());
    QTest::mouseRelease(view(), Qt::LeftButton, {}, at(0, 41, 30));
}

TEST_F(StoryboardEditingTest, ToolTipsNameTheFileItsSizeAndDurations) {
    board->dropPhotos({photo("wide.png", 320, 200)}, 0);
    QApplication::processEvents();
    const QString tip = board->toolTipAt(at(0, 30, 30));
    EXPECT_TRUE(tip.startsWith(QStringLiteral("wide.png\n"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("320 x 200 pixels"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Shown 3.0 s, transition 1.0 s"))) << tip.toStdString();
    EXPECT_TRUE(board->toolTipAt(at(1, 30, 30)).isEmpty()) << "a placeholder has none";
    EXPECT_EQ(storyboard::fileSizeText(812), QStringLiteral("812 bytes"));
    EXPECT_EQ(storyboard::fileSizeText(3355443), QStringLiteral("3.2 MB"));

    ProjectContent content;
    content.slides.push_back({"/nowhere/kestrelle/gone.jpg", 2.0, 1.5, 3, -1, true});
    content.slides.push_back({photo("here.png"), 2.0, 1.5, 3, -1, false});
    board->loadContent(content);
    QApplication::processEvents();
    const QString missing = board->toolTipAt(at(0, 30, 30));
    EXPECT_TRUE(missing.contains(QStringLiteral("gone.jpg (missing)"))) << missing.toStdString();
    EXPECT_TRUE(missing.contains(QStringLiteral("/nowhere/kestrelle/gone.jpg")));
    // The help event shows it without trouble.
    QHelpEvent help(QEvent::ToolTip, at(0, 30, 30), view()->mapToGlobal(at(0, 30, 30)));
    QApplication::sendEvent(view(), &help);
}

TEST_F(StoryboardEditingTest, AMissingPhotoIsDrawnGreyAndGetsNoThumbnail) {
    ProjectContent content;
    content.slides.push_back({"/nowhere/kestrelle/gone.jpg", 2.0, 1.5, 3, -1, true});
    board->loadContent(content);
    EXPECT_FALSE(board->thumbnailsPending());
    EXPECT_EQ(stack().count(), 0);
    QApplication::processEvents();
    const QImage image = view()->grab().toImage();
    const int l = board->project().slide(0)->cellRect.left;
    EXPECT_EQ(image.pixel(l + 8, 8), qRgb(205, 205, 205));
    EXPECT_EQ(image.pixel(l + 110, 60), qRgb(205, 205, 205));
    // Some darker words in the middle of the picture.
    int dark = 0;
    for (int x = l + 10; x < l + 110; ++x) {
        dark += qGray(image.pixel(x, 35)) < 150 ? 1 : 0;
    }
    EXPECT_GT(dark, 0);
}

TEST_F(StoryboardEditingTest, OpenedSlidesGetTheirThumbnailsFromAWorkerVisibleFirst) {
    ProjectContent content;
    for (int i = 0; i < 40; ++i) {
        content.slides.push_back({photo("t" + std::to_string(i) + ".png", 64, 48), 3.0, 1.0, 0, -1, false});
    }
    board->scrollTo(0);
    QSignalSpy arrived(board.get(), &StoryboardControl::thumbnailsArrived);
    std::vector<int> firstFilled;
    QObject::connect(board.get(), &StoryboardControl::thumbnailsArrived, [&] {
        if (firstFilled.empty()) {
            for (int i = 0; i < board->project().photoSlideCount(); ++i) {
                if (!board->project().slideNeedsThumbnail(i)) firstFilled.push_back(i);
            }
        }
    });
    const std::size_t thumbnailsBefore = board->project().thumbnails().size();
    board->loadContent(content);
    EXPECT_EQ(board->project().thumbnails().size(), thumbnailsBefore) << "nothing decoded on this thread";
    EXPECT_TRUE(board->thumbnailsPending());
    ASSERT_TRUE(testing::processEventsUntil([&] { return !board->thumbnailsPending(); }));
    ASSERT_EQ(firstFilled.size(), 1u);
    EXPECT_EQ(firstFilled.front(), 0) << "the first slide in view comes first";
    for (int i = 0; i < 40; ++i) {
        const QImage* thumbnail = board->project().thumbnail(board->project().slide(i)->thumbnailIndex);
        ASSERT_NE(thumbnail, nullptr);
        EXPECT_FALSE(thumbnail->isNull());
    }
    // Undo brings back content recorded before the thumbnails: they stay, nothing is made again.
    const int made = board->thumbnailsMade();
    board->selectSlide(5);
    board->deleteSelection();
    stack().undo();
    QApplication::processEvents();
    EXPECT_FALSE(board->thumbnailsPending());
    EXPECT_EQ(board->thumbnailsMade(), made);
    EXPECT_EQ(board->project().photoSlideCount(), 40);
}

TEST_F(StoryboardEditingTest, ScrollingPutsTheNewlyVisibleThumbnailsNext) {
    ProjectContent content;
    for (int i = 0; i < 60; ++i) {
        content.slides.push_back({photo("s" + std::to_string(i) + ".png", 40, 30), 3.0, 1.0, 0, -1, false});
    }
    board->loadContent(content);
    board->scrollTo(50 * kCellWidth);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !board->project().slideNeedsThumbnail(51); }));
    ASSERT_TRUE(testing::processEventsUntil([&] { return !board->thumbnailsPending(); }));
    // Closing while the worker runs is safe: a fresh slideshow, then the control goes at once.
    board->loadContent(content);
    board.reset();
}

TEST_F(StoryboardEditingTest, FitAndDefaultsAreUndoSteps) {
    dropPhotos(3);
    board->project().addTimedClip(path("song.mp3"), 60.0);
    board->runFitToMusic(false);
    EXPECT_EQ(stack().undoText(), QStringLiteral("Fit to Music"));
    EXPECT_NEAR(board->project().totalDuration(), 60.0, 1.0);
    stack().undo();
    EXPECT_DOUBLE_EQ(board->project().slide(0)->slideDuration, 3.0);
    board->project().setDefaultsProvider([] { return SlideDefaults{5.0, 2.0, 6}; });
    board->applyDefaultsToAll();
    EXPECT_EQ(stack().undoText(), QStringLiteral("Apply Defaults to All"));
    EXPECT_DOUBLE_EQ(board->project().slide(2)->slideDuration, 5.0);
    stack().undo();
    EXPECT_DOUBLE_EQ(board->project().slide(2)->slideDuration, 3.0);
    board->newSlideshow();
    EXPECT_EQ(stack().count(), 0);
    EXPECT_TRUE(stack().isClean());
    EXPECT_EQ(board->project().photoSlideCount(), 0);
}

}  // namespace
}  // namespace kestrelle
