// The transition chooser: its buttons, how it closes, and its sample thread.

#include "render/ui/transition_chooser.h"
#include "render/ui/drag_pictures.h"
#include "render/ui/transition_icons.h"
#include "tests/support/temp_home.h"
#include "tests/support/ui/wait_for_events.h"

#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>

namespace kestrelle {
namespace {

// Counts the sample's steps; holds each one until told to go on, and lets go at once when interrupted.
class GateSleeper final : public StoppableSleeper {
public:
    void sleepMs(int) override {
        std::unique_lock lock(mutex_);
        ++steps_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return interrupted_ || open_; });
    }
    void interrupt() override {
        std::lock_guard lock(mutex_);
        interrupted_ = true;
        changed_.notify_all();
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int steps() {
        std::lock_guard lock(mutex_);
        return steps_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int steps_ = 0;
    bool interrupted_ = false;
    bool open_ = false;
};

class TransitionChooserTest : public testing::TempHomeTest {
protected:
    std::string runLog() const { return testing::readFile(dataFolder() + "/run.log"); }
    // Handles events until `done` holds; a generous bound keeps a broken build from hanging.
    static bool waitFor(const std::function<bool()>& done) { return testing::processEventsUntil(done); }
    static void pointAt(TransitionButton* button) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), button->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(button, &enter);
    }
    GateSleeper sleeper;
};

TEST_F(TransitionChooserTest, ThirteenButtonsOnTheGrid) {
    TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
    EXPECT_EQ(chooser.windowTitle(), QStringLiteral("Choose Transition"));
    for (int effect = 0; effect <= 12; ++effect) {
        TransitionButton* button = chooser.button(effect);
        ASSERT_NE(button, nullptr) << effect;
        EXPECT_EQ(button->size(), QSize(31, 23));
        EXPECT_EQ(button->pos(), QPoint((effect % 10) * 39 + 4, (effect / 10) * 31 + 4)) << effect;
        EXPECT_EQ(button->accessibleName(), transitionEffectTitle(effect));
        EXPECT_TRUE(chooser.rect().contains(button->geometry())) << effect;
    }
    EXPECT_EQ(chooser.button(13), nullptr);
    EXPECT_EQ(chooser.button(0)->accessibleName(), QStringLiteral("Random"));
    EXPECT_FALSE(chooser.sampleView()->geometry().intersects(chooser.button(10)->geometry()));
}

TEST_F(TransitionChooserTest, PointingSetsTheSampledEffectAndKeepsIt) {
    TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
    EXPECT_EQ(chooser.hoveredStyle(), 0);
    pointAt(chooser.button(6));
    EXPECT_EQ(chooser.hoveredStyle(), 6);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(chooser.button(6), &leave);
    EXPECT_EQ(chooser.hoveredStyle(), 6);

    // The next run plays it.
    chooser.show();
    sleeper.open();
    ASSERT_TRUE(waitFor([&] { return runLog().find("Found Slide Style 6") != std::string::npos; }));
    chooser.reject();
    EXPECT_FALSE(chooser.sampling());
}

TEST_F(TransitionChooserTest, AClickChoosesTheButtonsEffect) {
    TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
    chooser.show();
    pointAt(chooser.button(12));
    QTest::mouseClick(chooser.button(12), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(chooser.chosen());
    EXPECT_EQ(chooser.hoveredStyle(), 12);
    EXPECT_EQ(chooser.result(), QDialog::Accepted);
    EXPECT_FALSE(chooser.isVisible());
    EXPECT_FALSE(chooser.sampling());
}

TEST_F(TransitionChooserTest, KeyboardFocusSamplesAndSpaceChooses) {
    TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
    chooser.show();
    QApplication::setActiveWindow(&chooser);
    EXPECT_EQ(chooser.hoveredStyle(), 0);  // the first button's focus on opening changes nothing
    chooser.focusButton(3);
    QTest::keyClick(chooser.button(3), Qt::Key_Right);
    EXPECT_EQ(chooser.hoveredStyle(), 4);
    QTest::keyClick(chooser.button(4), Qt::Key_Down);
    EXPECT_EQ(chooser.hoveredStyle(), 4);  // no button 14: stays
    QTest::keyClick(chooser.button(4), Qt::Key_Space);
    EXPECT_TRUE(chooser.chosen());
    EXPECT_EQ(chooser.hoveredStyle(), 4);
}

TEST_F(TransitionChooserTest, EscapeAndDeactivationCloseWithoutAChoice) {
    {
        TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
        chooser.show();
        pointAt(chooser.button(5));
        QTest::keyClick(&chooser, Qt::Key_Escape);
        EXPECT_FALSE(chooser.chosen());
        EXPECT_EQ(chooser.result(), QDialog::Rejected);
    }
    {
        TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
        QLineEdit elsewhere;
        chooser.show();
        QApplication::setActiveWindow(&chooser);
        QApplication::processEvents();
        ASSERT_TRUE(chooser.isActiveWindow());
        elsewhere.show();
        QApplication::setActiveWindow(&elsewhere);
        QApplication::processEvents();
        EXPECT_FALSE(chooser.isVisible());
        EXPECT_FALSE(chooser.chosen());
        EXPECT_EQ(chooser.result(), QDialog::Rejected);
    }
}

TEST_F(TransitionChooserTest, ClosingMidRunStopsAndJoinsTheSample) {
    TransitionChooser chooser(nullptr, SampleSource{}, &sleeper);
    chooser.show();
    ASSERT_TRUE(chooser.sampling());
    // The worker is now held inside a step.
    ASSERT_TRUE(waitFor([&] { return sleeper.steps() >= 1; }));
    chooser.reject();
    EXPECT_FALSE(chooser.sampling());
    EXPECT_FALSE(chooser.chosen());
}

TEST_F(TransitionChooserTest, TheSampleShowsTheSlidesPhotoIntoTheNext) {
    SampleSource source;
    source.fromProject = true;
    for (const QColor colour : {QColor(Qt::red), QColor(Qt::blue)}) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(colour.name().toStdString().substr(1) + ".png");
        ASSERT_TRUE(image.save(QString::fromStdString(file)));
        (source.currentPhoto.empty() ? source.currentPhoto : source.nextPhoto) = file;
    }

    TransitionChooser chooser(nullptr, source, &sleeper);
    pointAt(chooser.button(1));
    chooser.show();
    sleeper.open();
    // The run ends on the whole next picture: blue.
    ASSERT_TRUE(waitFor([&] {
        const QImage& shown = chooser.sampleView()->picture();
        return !shown.isNull() && shown.pixelColor(shown.width() / 2, shown.height() / 2) == QColor(Qt::blue);
    }));
    chooser.reject();
}

TEST(TransitionIcons, EveryIconIsDrawnCrispAtEachPixelRatioAndOthersAreBlank) {
    for (int effect = 0; effect <= 12; ++effect) {
        for (const qreal ratio : {1.0, 2.0}) {
            const QImage image = transitionIconImage(effect, ratio);
            EXPECT_EQ(image.size(), QSize(31, 23) * ratio);
            EXPECT_EQ(image.deviceIndependentSize().toSize(), QSize(31, 23));
            // The frame fills the corners and edges; nothing is left transparent inside.
            EXPECT_EQ(qAlpha(image.pixel(0, 0)), 255);
            EXPECT_EQ(qAlpha(image.pixel(image.width() - 1, image.height() - 1)), 255);
            EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
        }
        const QIcon icon = transitionIcon(effect);
        ASSERT_FALSE(icon.isNull());
        EXPECT_EQ(icon.pixmap(QSize(31, 23), 2.0).size(), QSize(62, 46));
    }
    for (const int effect : {-1, 13, 1000}) {
        EXPECT_TRUE(transitionIcon(effect).isNull());
        const QImage blank = transitionIconImage(effect, 1.0);
        EXPECT_EQ(blank.size(), QSize(31, 23));
        EXPECT_EQ(qAlpha(blank.pixel(15, 11)), 0);
        EXPECT_TRUE(transitionEffectTitle(effect).isEmpty());
    }
    // Every icon is its own picture.
    for (int a = 0; a <= 12; ++a)
        for (int b = 0; b < a; ++b)
            EXPECT_NE(transitionIconImage(a, 1.0), transitionIconImage(b, 1.0)) << a << " " << b;
}

TEST(DragPictures, SizesFollowTheItemCount) {
    EXPECT_EQ(dragPictureImage(1, 1.0).size(), QSize(16, 12));
    EXPECT_EQ(dragPictureImage(5, 1.0).size(), QSize(17, 13));
    EXPECT_EQ(dragPictureImage(5, 2.0).size(), QSize(34, 26));
    EXPECT_EQ(audioPictureImage(1.0).size(), QSize(100, 90));
    EXPECT_EQ(audioPictureImage(2.0).deviceIndependentSize().toSize(), QSize(100, 90));
}

}  // namespace
}  // namespace kestrelle
