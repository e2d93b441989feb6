// The photo viewer's motion editor: keys, Tab, the mouse, the choices, play driven step by step, the
// viewer opened from the storyboard storing every edit as an undoable step, and the storyboard's mark
// on a moving slide.

#include "project/ui/motion_editor_widget.h"
#include "project/project_history.h"
#include "project/ui/photo_viewer_dialog.h"
#include "project/ui/storyboard_control.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QUndoStack>

#include <gtest/gtest.h>

#include <vector>

namespace kestrelle {
namespace {

constexpr double kTolerance = 1e-6;
// A Letterbox view is placed on whole pixels as the still photo is; made Custom, it takes the output's
// exact aspect, which moves its edges by a fraction of a photo pixel.
constexpr double kAspectTolerance = 0.5;

void expectValid(const MotionEditorModel& model, const QRectF& rect) {
    const QRectF bounds = model.bounds();
    ASSERT_FALSE(rect.isEmpty());
    EXPECT_NEAR(rect.width() / rect.height(), model.outputSize().width() / model.outputSize().height(), 1e-9);
    EXPECT_GE(rect.left(), bounds.left() - kTolerance);
    EXPECT_GE(rect.top(), bounds.top() - kTolerance);
    EXPECT_LE(rect.right(), bounds.right() + kTolerance);
    EXPECT_LE(rect.bottom(), bounds.bottom() + kTolerance);
}

QImage samplePicture(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(180, 40, 40));
    return image;
}

class MotionEditorWidgetTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        editor = std::make_unique<MotionEditorWidget>();
        editor->setLookEdited([this](const SlideLook& look) { edits.push_back(look); });
        SlideLook look;
        look.motion.kind = MotionKind::ZoomIn;
        editor->setSlide(look, QSize(1920, 1080), 11, 3, 4.0);
        editor->setPhoto(QSize(1600, 1200), samplePicture(QSize(400, 300)));
        editor->resize(720, 540);
        editor->show();
        QApplication::setActiveWindow(editor.get());
        editor->canvas()->setFocus(Qt::OtherFocusReason);
        QApplication::processEvents();
    }
    void TearDown() override {
        editor.reset();
        TempHomeTest::TearDown();
    }
    MotionEditorModel& model() { return editor->model(); }

    std::unique_ptr<MotionEditorWidget> editor;
    std::vector<SlideLook> edits;
};

TEST_F(MotionEditorWidgetTest, ControlsShowTheLookAndAreNamed) {
    EXPECT_EQ(editor->motionBox()->currentText(), QStringLiteral("Zoom in"));
    EXPECT_EQ(editor->fitBox()->currentText(), QStringLiteral("Letterbox"));
    EXPECT_FALSE(editor->enlargeBox()->isChecked());
    EXPECT_EQ(editor->motionBox()->count(), 9);
    EXPECT_EQ(editor->motionBox()->itemText(8), QStringLiteral("Gentle random"));
    EXPECT_EQ(editor->fitBox()->itemText(1), QStringLiteral("Fill the frame"));
    for (QWidget* control : std::vector<QWidget*>{editor->canvas(), editor->motionBox(), editor->fitBox(),
                                                  editor->enlargeBox(), editor->playButton()}) {
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
        EXPECT_NE(control->focusPolicy(), Qt::NoFocus);
    }
    // The drop-downs have their labels as buddies.
    int buddies = 0;
    for (QLabel* label : editor->findChildren<QLabel*>()) {
        buddies += label->buddy() == editor->motionBox() || label->buddy() == editor->fitBox();
    }
    EXPECT_EQ(buddies, 2);
    EXPECT_TRUE(editor->canvas()->accessibleDescription().startsWith(QStringLiteral("Start rectangle")));
}

TEST_F(MotionEditorWidgetTest, KeysEditTheActiveRectangleAndTabSwitchesIt) {
    ASSERT_TRUE(editor->canvas()->hasFocus());
    EXPECT_EQ(model().activeEnd(), MotionEnd::Start);
    // Tab: on to the end rectangle (the zoom's smaller one, which has room to move).
    QTest::keyClick(editor->canvas(), Qt::Key_Tab);
    EXPECT_EQ(model().activeEnd(), MotionEnd::End);
    EXPECT_TRUE(editor->canvas()->hasFocus());
    EXPECT_TRUE(editor->canvas()->accessibleDescription().startsWith(QStringLiteral("End rectangle")));
    const QRectF end = model().endRect();
    QTest::keyClick(editor->canvas(), Qt::Key_Right);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits.back().motion.kind, MotionKind::Custom);
    // 1 % of the 1600-pixel photo.
    EXPECT_NEAR(edits.back().motion.end.left(), end.left() + 16.0, kAspectTolerance);
    EXPECT_NEAR(edits.back().motion.end.top(), end.top(), kAspectTolerance);
    EXPECT_EQ(editor->motionBox()->currentText(), QStringLiteral("Custom"));
    expectValid(model(), model().endRect());
    QTest::keyClick(editor->canvas(), Qt::Key_Up, Qt::ShiftModifier);
    QTest::keyClick(editor->canvas(), Qt::Key_Minus);
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_LT(model().endRect().width(), end.width());
    expectValid(model(), model().endRect());
    QTest::keyClick(editor->canvas(), Qt::Key_Backtab);
    EXPECT_EQ(model().activeEnd(), MotionEnd::Start);
    QTest::keyClick(editor->canvas(), Qt::Key_Tab);
    QTest::keyClick(editor->canvas(), Qt::Key_Tab);
    EXPECT_FALSE(editor->canvas()->hasFocus());
    EXPECT_TRUE(editor->motionBox()->hasFocus());
    // A key that moves nothing stores nothing.
    editor->canvas()->setFocus();
    for (int i = 0; i < 30; ++i) QTest::keyClick(editor->canvas(), Qt::Key_Up, Qt::ShiftModifier);
    const std::size_t stored = edits.size();
    QTest::keyClick(editor->canvas(), Qt::Key_Up);
    EXPECT_EQ(edits.size(), stored);
}

TEST_F(MotionEditorWidgetTest, TheMouseMovesAndResizesARectangle) {
    MotionCanvas* canvas = editor->canvas();
    ASSERT_FALSE(model().displayRect().isEmpty());
    // The zoom's end view lies inside its start view: a press at their centre takes the active one.
    model().setActiveEnd(MotionEnd::End);
    const QRectF end = model().endRect();
    const QPoint centre = model().toWidget(end.center()).toPoint();
    QTest::mousePress(canvas, Qt::LeftButton, {}, centre);
    QTest::mouseMove(canvas, centre + QPoint(-30, 0));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, centre + QPoint(-30, 0));
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits.back().motion.kind, MotionKind::Custom);
    const double scale = model().displayRect().width() / 1600.0;
    EXPECT_NEAR(model().endRect().left(), end.left() - 30.0 / scale, kAspectTolerance);
    EXPECT_NEAR(model().endRect().width(), end.width(), kAspectTolerance);
    expectValid(model(), model().endRect());

    // The start rectangle's corner, pulled in: smaller, its aspect kept, the opposite corner in place.
    const QRectF start = model().startRect();
    const QPoint corner = model().toWidget(start.topLeft()).toPoint();
    QTest::mousePress(canvas, Qt::LeftButton, {}, corner);
    EXPECT_EQ(model().activeEnd(), MotionEnd::Start);
    QTest::mouseMove(canvas, corner + QPoint(40, 10));
    QTest::mouseRelease(canvas, Qt::LeftButton, {}, corner + QPoint(40, 10));
    ASSERT_EQ(edits.size(), 2u);
    expectValid(model(), model().startRect());
    EXPECT_LT(model().startRect().width(), start.width());
    EXPECT_NEAR(model().startRect().right(), start.right(), 1e-6);
    EXPECT_NEAR(model().startRect().bottom(), start.bottom(), 1e-6);

    // A click that moves nothing stores nothing; neither does a click beside the photo.
    QTest::mouseClick(canvas, Qt::LeftButton, {}, centre);
    QTest::mouseClick(canvas, Qt::LeftButton, {}, QPoint(2, 2));
    EXPECT_EQ(edits.size(), 2u);
}

TEST_F(MotionEditorWidgetTest, ChoicesAreStoredAndCustomStartsWhereTheKindWas) {
    const QRectF start = model().startRect();
    const QRectF end = model().endRect();
    editor->motionBox()->setFocus();
    // Down from "Zoom in" is "Zoom out"; End is "Gentle random", and Up from it "Custom".
    QTest::keyClick(editor->motionBox(), Qt::Key_Down);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits.back().motion.kind, MotionKind::ZoomOut);
    QTest::keyClick(editor->motionBox(), Qt::Key_Up);
    ASSERT_EQ(edits.size(), 2u);
    EXPECT_EQ(edits.back().motion.kind, MotionKind::ZoomIn);
    editor->motionBox()->setCurrentIndex(7);
    Q_EMIT editor->motionBox()->activated(7);
    ASSERT_EQ(edits.size(), 3u);
    EXPECT_EQ(edits.back().motion.kind, MotionKind::Custom);
    EXPECT_NEAR(edits.back().motion.start.width(), start.width(), kAspectTolerance);
    EXPECT_NEAR(edits.back().motion.end.width(), end.width(), kAspectTolerance);

    editor->fitBox()->setCurrentIndex(2);
    Q_EMIT editor->fitBox()->activated(2);
    QTest::mouseClick(editor->enlargeBox(), Qt::LeftButton);
    ASSERT_EQ(edits.size(), 5u);
    EXPECT_EQ(edits.back().fit, (FitOptions{PhotoFit::BlurredBackground, true}));
    // The same choice again is no edit.
    Q_EMIT editor->fitBox()->activated(2);
    EXPECT_EQ(edits.size(), 5u);
}

TEST_F(MotionEditorWidgetTest, PlayShowsTheMotionAndEndsOnTheEndRectangle) {
    QPushButton* play = editor->playButton();
    ASSERT_TRUE(play->isEnabled());
    QTest::mouseClick(play, Qt::LeftButton);
    ASSERT_TRUE(model().playing());
    EXPECT_TRUE(editor->playTimer()->isActive());
    EXPECT_EQ(play->accessibleName(), QStringLiteral("Stop"));
    // The timer's slot, driven by hand: 4 s at 40 ms a step.
    int steps = 0;
    QRectF halfway;
    while (model().playing() && steps < 1000) {
        editor->advancePlay();
        if (++steps == 50) {
            halfway = model().playView();
            // A picture of play in the middle draws without trouble.
            EXPECT_FALSE(editor->canvas()->grab().isNull());
        }
    }
    EXPECT_EQ(steps, 100);
    EXPECT_FALSE(editor->playTimer()->isActive());
    EXPECT_EQ(play->accessibleName(), QStringLiteral("Play"));
    const QRectF end = model().endRect();
    const QRectF last = model().playView();
    EXPECT_NEAR(last.left(), end.left(), 1e-6);
    EXPECT_NEAR(last.width(), end.width(), 1e-6);
    EXPECT_GT(halfway.width(), end.width());
    EXPECT_LT(halfway.width(), model().startRect().width());
    EXPECT_TRUE(edits.empty());

    // Play again, stopped by a key that edits.
    QTest::mouseClick(play, Qt::LeftButton);
    editor->advancePlay();
    editor->canvas()->setFocus();
    QTest::keyClick(editor->canvas(), Qt::Key_Left);
    EXPECT_FALSE(model().playing());
    EXPECT_EQ(edits.size(), 1u);
}

TEST_F(MotionEditorWidgetTest, NothingToEditWithoutAPhotoSizeOrAnOutput) {
    editor->setPhoto(QSize(), QImage());
    EXPECT_FALSE(editor->playButton()->isEnabled());
    QTest::keyClick(editor->canvas(), Qt::Key_Left);
    QTest::mouseClick(editor->canvas(), Qt::LeftButton, {}, editor->canvas()->rect().center());
    EXPECT_FALSE(editor->canvas()->grab().isNull());
    editor->advancePlay();
    EXPECT_TRUE(edits.empty());
    // The choices still work: they need no rectangles.
    Q_EMIT editor->motionBox()->activated(7);
    ASSERT_EQ(edits.size(), 1u);
    EXPECT_EQ(edits.back().motion.kind, MotionKind::Custom);

    editor->setPhoto(QSize(1, 1), samplePicture(QSize(1, 1)));
    editor->setSlide(SlideLook{}, QSize(0, 0), 0, 0, 3.0);
    EXPECT_FALSE(editor->playButton()->isEnabled());
    QTest::keyClick(editor->canvas(), Qt::Key_Plus);
    EXPECT_EQ(edits.size(), 1u);
    // A one-pixel photo in a real frame is editable, and stays valid.
    editor->setSlide(SlideLook{}, QSize(1280, 720), 0, 0, 3.0);
    ASSERT_TRUE(editor->playButton()->isEnabled());
    QTest::keyClick(editor->canvas(), Qt::Key_Minus);
    QTest::keyClick(editor->canvas(), Qt::Key_Right, Qt::ShiftModifier);
    expectValid(model(), model().startRect());
    EXPECT_FALSE(editor->canvas()->grab().isNull());
}

// ---- Opened from the storyboard

class MotionFromStoryboardTest : public testing::TempHomeTest {
protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        board = std::make_unique<StoryboardControl>();
        board->project().setDefaultsProvider([] { return SlideDefaults{3.0, 1.0, 0}; });
        board->setVideoSizeProvider([] { return VideoSize{1280, 720}; });
        board->resize(4 * kCellWidth + 40, 170);
        board->show();
        QApplication::processEvents();
    }
    void TearDown() override {
        board.reset();
        TempHomeTest::TearDown();
    }
    std::string photo(const std::string& name, QSize size) {
        const std::string file = path(name);
        EXPECT_TRUE(samplePicture(size).save(QString::fromStdString(file)));
        return file;
    }

    std::unique_ptr<StoryboardControl> board;
};

TEST_F(MotionFromStoryboardTest, EditsInTheViewerAreUndoableSteps) {
    SlideShowProject& project = board->project();
    project.insertPhoto(photo("a.png", QSize(64, 48)), 0, 0, 3.0, 1.0);
    project.insertPhoto(photo("b.png", QSize(800, 600)), 1, 0, 3.0, 1.0);
    project.setMotionSeed(99);
    board->scrollTo(0);
    QApplication::processEvents();
    const SlideLook before = project.slide(1)->look;

    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* viewer = qobject_cast<PhotoViewerDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(viewer, nullptr);
        ASSERT_TRUE(testing::processEventsUntil([&] { return viewer->loaded(); }));
        MotionEditorWidget* editor = viewer->motionEditor();
        ASSERT_NE(editor, nullptr);
        // The slide's own numbers: the profile's size, the seed, its index and the time it is on screen
        // (the transition into it, its still time and its own transition).
        EXPECT_EQ(editor->model().outputSize(), QSizeF(1280, 720));
        EXPECT_EQ(editor->model().photoSize(), QSizeF(800, 600));
        EXPECT_DOUBLE_EQ(editor->model().totalSeconds(), 5.0);
        EXPECT_TRUE(editor->canvas()->hasFocus());
        QTest::keyClick(editor->canvas(), Qt::Key_Minus);
        Q_EMIT editor->fitBox()->activated(1);
        seen = true;
        viewer->accept();
    });
    board->selectSlide(1);
    QTest::keyClick(board.get(), Qt::Key_Return, Qt::AltModifier);
    if (!seen) {
        // The storyboard opens the viewer on a double click on the picture.
        const Slide* cell = project.slide(1);
        QTest::mouseDClick(board->viewport(), Qt::LeftButton, {},
                           QPoint(cell->cellRect.left + 50, cell->cellRect.top + 30));
    }
    ASSERT_TRUE(seen);

    const SlideLook after = project.slide(1)->look;
    EXPECT_EQ(after.motion.kind, MotionKind::Custom);
    EXPECT_EQ(after.fit.fit, PhotoFit::Fill);
    QUndoStack& stack = board->history().stack();
    ASSERT_EQ(stack.count(), 2);
    EXPECT_EQ(stack.undoText(), QStringLiteral("Change Motion"));
    stack.undo();
    EXPECT_EQ(project.slide(1)->look.fit.fit, PhotoFit::Letterbox);
    EXPECT_EQ(project.slide(1)->look.motion.kind, MotionKind::Custom);
    stack.undo();
    EXPECT_EQ(project.slide(1)->look, before);
    EXPECT_EQ(project.slide(0)->look, SlideLook{});
}

TEST_F(MotionFromStoryboardTest, AMovingSlideIsMarkedInItsPicture) {
    SlideShowProject& project = board->project();
    project.insertPhoto(photo("a.png", QSize(320, 240)), 0, 0, 3.0, 1.0);
    project.insertPhoto(photo("b.png", QSize(320, 240)), 1, 0, 3.0, 1.0);
    SlideLook moving;
    moving.motion.kind = MotionKind::GentleRandom;
    ASSERT_TRUE(project.setSlideLook(1, moving));
    board->scrollTo(0);
    ASSERT_TRUE(testing::processEventsUntil([&] { return !board->thumbnailsPending(); }));
    const QImage shown = board->viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const qreal ratio = shown.devicePixelRatio();
    // Inside the mark's tile, left of its glyph, in the picture's lower right corner.
    const auto tilePixel = [&](int slide) {
        const Slide* cell = project.slide(slide);
        const QPoint at(cell->cellRect.left + 5 + 109 - 16 - 2 + 1, cell->cellRect.top + 5 + 60 - 16 - 2 + 8);
        return shown.pixelColor((QPointF(at) * ratio).toPoint());
    };
    EXPECT_GT(tilePixel(0).red(), 120);  // the still slide shows its photo there
    EXPECT_LT(tilePixel(1).red(), 90);   // the moving one, the dark tile over it
    EXPECT_LT(tilePixel(1).lightness(), 90);
}

}  // namespace
}  // namespace kestrelle
