#include "project/motion_editor_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kestrelle {
namespace {

constexpr double kTolerance = 1e-6;

const QSizeF kPhoto(4000.0, 3000.0);
const QSizeF kOutput(1920.0, 1080.0);

double aspectOf(const QRectF& rect) {
    return rect.width() / rect.height();
}

// The rectangle has the output's aspect and lies inside the bounds.
void expectValid(const MotionEditorModel& model, const QRectF& rect) {
    const QRectF bounds = model.bounds();
    ASSERT_FALSE(rect.isEmpty());
    EXPECT_NEAR(aspectOf(rect), model.outputSize().width() / model.outputSize().height(), 1e-9);
    EXPECT_GE(rect.left(), bounds.left() - kTolerance);
    EXPECT_GE(rect.top(), bounds.top() - kTolerance);
    EXPECT_LE(rect.right(), bounds.right() + kTolerance);
    EXPECT_LE(rect.bottom(), bounds.bottom() + kTolerance);
}

void expectNear(const QRectF& a, const QRectF& b, double tolerance = kTolerance) {
    EXPECT_NEAR(a.left(), b.left(), tolerance);
    EXPECT_NEAR(a.top(), b.top(), tolerance);
    EXPECT_NEAR(a.width(), b.width(), tolerance);
    EXPECT_NEAR(a.height(), b.height(), tolerance);
}

MotionEditorModel fillModel(MotionKind kind = MotionKind::None) {
    SlideLook look;
    look.motion.kind = kind;
    look.fit.fit = PhotoFit::Fill;
    MotionEditorModel model(look, kPhoto, kOutput);
    model.setMotionSource(7, 2, 5.0);
    // The photo shown at a tenth of its size, 20 pixels in.
    model.setDisplayRect(QRectF(20.0, 20.0, 400.0, 300.0));
    return model;
}

TEST(MotionEditorModelTest, EveryKindGivesValidEndsAndGentleRandomIsResolvedAsTheVideoDoesIt) {
    for (const MotionKind kind :
         {MotionKind::None, MotionKind::ZoomIn, MotionKind::ZoomOut, MotionKind::PanLeft,
          MotionKind::PanRight, MotionKind::PanUp, MotionKind::PanDown}) {
        const MotionEditorModel model = fillModel(kind);
        expectValid(model, model.startRect());
        expectValid(model, model.endRect());
    }
    // Gentle random is drawn as the video resolves it: the project's seed and the slide's index.
    const MotionEditorModel gentle = fillModel(MotionKind::GentleRandom);
    const PhotoMotion resolved =
        resolveMotion(gentle.look().motion, kPhoto, kOutput, gentle.look().fit, 7, 2, 5.0);
    ASSERT_EQ(resolved.kind, MotionKind::Custom);
    expectNear(gentle.startRect(), clampViewRect(resolved.start, kPhoto, kOutput, gentle.look().fit));
    expectNear(gentle.endRect(), clampViewRect(resolved.end, kPhoto, kOutput, gentle.look().fit));
    EXPECT_FALSE(gentle.startRect() == gentle.endRect());
}

TEST(MotionEditorModelTest, ChoosingCustomStartsFromTheRectanglesShown) {
    for (const MotionKind kind : {MotionKind::ZoomOut, MotionKind::PanRight, MotionKind::GentleRandom}) {
        MotionEditorModel model = fillModel(kind);
        const QRectF start = model.startRect();
        const QRectF end = model.endRect();
        EXPECT_TRUE(model.setMotionKind(MotionKind::Custom));
        EXPECT_EQ(model.look().motion.kind, MotionKind::Custom);
        expectNear(model.startRect(), start, 1e-3);
        expectNear(model.endRect(), end, 1e-3);
        // Choosing it again changes nothing.
        EXPECT_FALSE(model.setMotionKind(MotionKind::Custom));
    }
    // Any other kind drops the stored rectangles.
    MotionEditorModel model = fillModel(MotionKind::Custom);
    model.setMotionKind(MotionKind::ZoomIn);
    EXPECT_EQ(model.look().motion, (PhotoMotion{MotionKind::ZoomIn, {}, {}}));
}

TEST(MotionEditorModelTest, KeysMoveAndResizeTheActiveRectangleAndMakeItCustom) {
    MotionEditorModel model = fillModel(MotionKind::ZoomIn);
    const QRectF end = model.endRect();
    model.setActiveEnd(MotionEnd::End);
    bool changed = false;
    EXPECT_TRUE(model.handleKey(Qt::Key_Left, Qt::NoModifier, &changed));
    EXPECT_TRUE(changed);
    EXPECT_EQ(model.look().motion.kind, MotionKind::Custom);
    // 1 % of the photo's width; the start rectangle stays.
    EXPECT_NEAR(model.endRect().left(), end.left() - 40.0, kTolerance);
    EXPECT_NEAR(model.endRect().top(), end.top(), kTolerance);
    expectNear(model.startRect(), fillModel(MotionKind::ZoomIn).startRect());
    // Shift: 10 % of the photo's height.
    model.handleKey(Qt::Key_Down, Qt::ShiftModifier, &changed);
    EXPECT_NEAR(model.endRect().top(), end.top() + 300.0, kTolerance);

    // + and - about the centre, the aspect kept.
    const QRectF before = model.endRect();
    model.handleKey(Qt::Key_Minus, Qt::NoModifier, &changed);
    EXPECT_TRUE(changed);
    EXPECT_LT(model.endRect().width(), before.width());
    EXPECT_NEAR(model.endRect().center().x(), before.center().x(), kTolerance);
    EXPECT_NEAR(model.endRect().center().y(), before.center().y(), kTolerance);
    expectValid(model, model.endRect());
    model.handleKey(Qt::Key_Plus, Qt::NoModifier, &changed);
    expectNear(model.endRect(), before, 1e-6);

    // Against the edge: Shift+Left until it stops, then a press changes nothing.
    for (int i = 0; i < 20; ++i) model.handleKey(Qt::Key_Left, Qt::ShiftModifier, &changed);
    EXPECT_NEAR(model.endRect().left(), model.bounds().left(), kTolerance);
    EXPECT_TRUE(model.handleKey(Qt::Key_Left, Qt::NoModifier, &changed));
    EXPECT_FALSE(changed);
    // Growing stops at the bounds.
    for (int i = 0; i < 100; ++i) model.handleKey(Qt::Key_Plus, Qt::NoModifier, &changed);
    expectValid(model, model.endRect());
    EXPECT_NEAR(model.endRect().width(), model.bounds().width(), 1e-6);
    // Shrinking stops at a sixteenth of the still view.
    for (int i = 0; i < 200; ++i) model.handleKey(Qt::Key_Minus, Qt::NoModifier, &changed);
    expectValid(model, model.endRect());
    EXPECT_NEAR(model.endRect().width(), viewRect(kPhoto, kOutput, model.look().fit).width() / 16.0, 1e-6);
    // Other keys are not the editor's.
    EXPECT_FALSE(model.handleKey(Qt::Key_A, Qt::NoModifier, &changed));
}

TEST(MotionEditorModelTest, WidgetAndPhotoCoordinatesMapBothWays) {
    MotionEditorModel model = fillModel();
    EXPECT_EQ(model.toWidget(QPointF(0.0, 0.0)), QPointF(20.0, 20.0));
    EXPECT_EQ(model.toWidget(QPointF(4000.0, 3000.0)), QPointF(420.0, 320.0));
    EXPECT_EQ(model.toPhoto(QPointF(220.0, 170.0)), QPointF(2000.0, 1500.0));
    EXPECT_EQ(model.toWidget(QRectF(1000.0, 1000.0, 100.0, 50.0)), QRectF(120.0, 120.0, 10.0, 5.0));

    // The display rectangle shows the bounds as large as the area allows: a Fill's bounds are the
    // photo, a Letterbox's reach beyond it on the sides.
    EXPECT_EQ(model.displayRectFor(QRectF(0.0, 0.0, 800.0, 800.0)), QRectF(0.0, 100.0, 800.0, 600.0));
    model.setFit(PhotoFit::Letterbox);
    const QRectF area(10.0, 10.0, 640.0, 480.0);
    const QRectF display = model.displayRectFor(area);
    model.setDisplayRect(display);
    const QRectF bounds = model.toWidget(model.bounds());
    EXPECT_NEAR(bounds.width(), 640.0, 1e-6);
    EXPECT_NEAR(bounds.center().x(), area.center().x(), 1e-6);
    EXPECT_NEAR(bounds.center().y(), area.center().y(), 1e-6);
    EXPECT_LE(bounds.height(), 480.0 + 1e-6);
}

TEST(MotionEditorModelTest, DraggingInsideMovesAndACornerResizesWithTheAspectLocked) {
    MotionEditorModel model = fillModel(MotionKind::ZoomIn);
    const QRectF end = model.endRect();
    const QRectF start = model.startRect();
    // The end rectangle lies inside the start one: a press inside both takes the active one.
    model.setActiveEnd(MotionEnd::End);
    const QPointF inside = model.toWidget(end.center());
    MotionEnd which = MotionEnd::Start;
    EXPECT_EQ(model.gripAt(inside, &which), MotionGrip::Move);
    EXPECT_EQ(which, MotionEnd::End);
    ASSERT_TRUE(model.pressAt(inside));
    EXPECT_TRUE(model.dragTo(inside + QPointF(5.0, -3.0)));
    EXPECT_EQ(model.look().motion.kind, MotionKind::Custom);
    EXPECT_NEAR(model.endRect().left(), end.left() + 50.0, kTolerance);
    EXPECT_NEAR(model.endRect().top(), end.top() - 30.0, kTolerance);
    EXPECT_NEAR(model.endRect().width(), end.width(), kTolerance);
    // Dragged far away it stays inside the bounds.
    model.dragTo(inside + QPointF(5000.0, 5000.0));
    expectValid(model, model.endRect());
    EXPECT_NEAR(model.endRect().right(), model.bounds().right(), kTolerance);
    EXPECT_TRUE(model.release());
    EXPECT_FALSE(model.dragging());
    expectNear(model.startRect(), start, 1e-3);

    // A corner of the start rectangle: the opposite corner stays, the aspect is kept.
    model.setActiveEnd(MotionEnd::Start);
    const QRectF before = model.startRect();
    const QPointF corner = model.toWidget(before.bottomRight());
    EXPECT_EQ(model.gripAt(corner + QPointF(3.0, -3.0)), MotionGrip::BottomRight);
    ASSERT_TRUE(model.pressAt(corner + QPointF(3.0, -3.0)));
    model.dragTo(corner + QPointF(-100.0, -20.0));
    const QRectF resized = model.startRect();
    expectValid(model, resized);
    EXPECT_NEAR(resized.left(), before.left(), 1e-6);
    EXPECT_NEAR(resized.top(), before.top(), 1e-6);
    EXPECT_LT(resized.width(), before.width());
    // The top left corner pulled out past the photo: it stops at the bounds, the bottom right stays.
    model.release();
    ASSERT_TRUE(model.setRect(MotionEnd::Start, QRectF(1500.0, 1200.0, 1600.0, 900.0)));
    const QRectF second = model.startRect();
    ASSERT_TRUE(model.pressAt(model.toWidget(second.topLeft())));
    EXPECT_TRUE(model.dragTo(QPointF(-500.0, -500.0)));
    expectValid(model, model.startRect());
    EXPECT_NEAR(model.startRect().right(), second.right(), 1e-6);
    EXPECT_NEAR(model.startRect().bottom(), second.bottom(), 1e-6);
    // Pulled through the anchor: it keeps the smallest size rather than turning over.
    model.dragTo(model.toWidget(second.bottomRight()) + QPointF(50.0, 50.0));
    expectValid(model, model.startRect());
    EXPECT_NEAR(model.startRect().right(), second.right(), 1e-6);
    EXPECT_GT(model.startRect().width(), 0.0);
    model.release();

    // A press on nothing takes nothing, and a press without a drag changes nothing.
    EXPECT_FALSE(model.pressAt(QPointF(1.0, 1.0)));
    EXPECT_FALSE(model.dragTo(QPointF(50.0, 50.0)));
    MotionEditorModel untouched = fillModel(MotionKind::ZoomOut);
    ASSERT_TRUE(untouched.pressAt(untouched.toWidget(untouched.endRect().center())));
    EXPECT_FALSE(untouched.release());
    EXPECT_EQ(untouched.look().motion.kind, MotionKind::ZoomOut);
}

TEST(MotionEditorModelTest, PlayRunsFromTheStartToTheEndRectangle) {
    MotionEditorModel model = fillModel(MotionKind::PanLeft);
    expectNear(model.viewAt(0.0), model.startRect());
    expectNear(model.viewAt(5.0), model.endRect(), 1e-6);
    model.startPlay();
    ASSERT_TRUE(model.playing());
    double previous = model.playView().left();
    int steps = 0;
    while (model.advancePlay(0.04) && steps < 1000) {
        // A pan to the left never turns back.
        EXPECT_LE(model.playView().left(), previous + 1e-9);
        previous = model.playView().left();
        ++steps;
    }
    EXPECT_FALSE(model.playing());
    EXPECT_EQ(steps, 124);  // 5 s at 25 steps a second, the last one ending play
    EXPECT_DOUBLE_EQ(model.playTime(), 5.0);
    expectNear(model.playView(), model.endRect(), 1e-6);
    // Nothing moves play once it has ended, nor a step that is no time.
    EXPECT_FALSE(model.advancePlay(1.0));
    model.startPlay();
    EXPECT_TRUE(model.advancePlay(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_DOUBLE_EQ(model.playTime(), 0.0);
    // A slide without a length plays at once to its end.
    model.setMotionSource(7, 2, -3.0);
    model.startPlay();
    EXPECT_FALSE(model.advancePlay(0.04));
}

TEST(MotionEditorModelTest, HostileSizesAndRectanglesAreHarmless) {
    // A photo of one pixel, zoomed: rectangles exist and stay valid.
    SlideLook zoom;
    zoom.motion.kind = MotionKind::ZoomIn;
    MotionEditorModel tiny(zoom, QSizeF(1.0, 1.0), kOutput);
    tiny.setDisplayRect(tiny.displayRectFor(QRectF(0.0, 0.0, 640.0, 480.0)));
    ASSERT_TRUE(tiny.editable());
    expectValid(tiny, tiny.startRect());
    expectValid(tiny, tiny.endRect());
    bool changed = false;
    for (const int key : {Qt::Key_Left, Qt::Key_Up, Qt::Key_Plus, Qt::Key_Minus, Qt::Key_Minus}) {
        tiny.handleKey(key, Qt::ShiftModifier, &changed);
        expectValid(tiny, tiny.startRect());
    }
    tiny.pressAt(tiny.toWidget(tiny.startRect().topLeft()));
    tiny.dragTo(QPointF(-1e9, 1e9));
    tiny.release();
    expectValid(tiny, tiny.startRect());

    // No output, no photo, or sizes that are no numbers: nothing to edit, and no edit does anything.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& [photo, output] :
         {std::pair{kPhoto, QSizeF(0.0, 0.0)}, std::pair{QSizeF(0.0, 0.0), kOutput},
          std::pair{QSizeF(nan, 10.0), kOutput}, std::pair{kPhoto, QSizeF(-5.0, 1e300)}}) {
        MotionEditorModel none(zoom, photo, output);
        none.setDisplayRect(none.displayRectFor(QRectF(0.0, 0.0, 640.0, 480.0)));
        EXPECT_FALSE(none.editable());
        EXPECT_TRUE(none.startRect().isEmpty());
        EXPECT_TRUE(none.viewAt(1.0).isEmpty());
        EXPECT_FALSE(none.moveRect(MotionEnd::Start, QPointF(1.0, 1.0)));
        EXPECT_FALSE(none.scaleRect(MotionEnd::End, 2.0));
        EXPECT_FALSE(none.pressAt(QPointF(320.0, 240.0)));
        EXPECT_TRUE(none.handleKey(Qt::Key_Left, Qt::NoModifier, &changed));
        EXPECT_FALSE(changed);
        none.startPlay();
        EXPECT_FALSE(none.playing());
        EXPECT_EQ(none.look(), zoom);
    }

    // Stored rectangles far outside the photo, empty or not finite: shown clamped, edited from there.
    SlideLook outside;
    outside.motion = PhotoMotion{MotionKind::Custom, QRectF(-90000.0, 50000.0, 800.0, 450.0),
                                 QRectF(nan, 0.0, std::numeric_limits<double>::infinity(), 0.0)};
    outside.fit.fit = PhotoFit::Fill;
    MotionEditorModel model(outside, kPhoto, kOutput);
    model.setDisplayRect(QRectF(0.0, 0.0, 400.0, 300.0));
    expectValid(model, model.startRect());
    expectValid(model, model.endRect());
    EXPECT_TRUE(model.moveRect(MotionEnd::Start, QPointF(10.0, -10.0)));
    expectValid(model, model.look().motion.start);
    EXPECT_FALSE(model.moveRect(MotionEnd::Start, QPointF(nan, 0.0)));
    EXPECT_FALSE(model.scaleRect(MotionEnd::Start, 0.0));
    EXPECT_FALSE(model.scaleRect(MotionEnd::Start, -2.0));
    EXPECT_FALSE(model.setRect(MotionEnd::End, model.endRect()));
}

}  // namespace
}  // namespace kestrelle
