// The chooser's sample loop: which effect each run plays, what it shows, and how it stops.

#include "render/transition_sampler.h"
#include "tests/support/temp_home.h"

#include <QColor>
#include <QImage>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kestrelle {
namespace {

class RecordingPresenter final : public FramePresenter {
public:
    void present(const QImage& picture, int, int) override { shown.push_back(picture.copy()); }
    std::vector<QImage> shown;
};

class CountingSleeper final : public Sleeper {
public:
    void sleepMs(int milliseconds) override {
        ++calls;
        total += milliseconds;
    }
    int calls = 0;
    int total = 0;
};

class TransitionSamplerTest : public testing::TempHomeTest {
protected:
    std::string runLog() const { return testing::readFile(dataFolder() + "/run.log"); }
    // Writes a small photo filled with one colour.
    std::string photo(const std::string& name, QColor colour) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(colour);
        const std::string file = path(name);
        EXPECT_TRUE(image.save(QString::fromStdString(file)));
        return file;
    }
    RecordingPresenter presenter;
    CountingSleeper sleeper;
};

TEST_F(TransitionSamplerTest, EachRunPlaysTheEffectHoveredAtItsStart) {
    TransitionSampler sampler({}, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(6);
    EXPECT_EQ(sampler.runOnce(), 6);
    EXPECT_NE(runLog().find("Found Slide Style 6"), std::string::npos);
    sampler.setHoveredStyle(12);
    EXPECT_EQ(sampler.runOnce(), 12);
    EXPECT_NE(runLog().find("Found Slide Style 12"), std::string::npos);
    // Ten steps 70 ms apart, then the whole next picture.
    EXPECT_EQ(sleeper.calls, 20);
    EXPECT_EQ(sleeper.total, 20 * 70);
    EXPECT_EQ(presenter.shown.size(), 22u);
}

TEST_F(TransitionSamplerTest, WithoutAProjectBlackTurnsWhite) {
    TransitionSampler sampler({}, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(7);
    sampler.runOnce();
    ASSERT_FALSE(presenter.shown.empty());
    EXPECT_EQ(presenter.shown.front().size(), QSize(40, 30));
    EXPECT_EQ(presenter.shown.front().pixelColor(39, 15), QColor(Qt::black));  // the wipe starts at the left
    EXPECT_EQ(presenter.shown.back().pixelColor(39, 29), QColor(Qt::white));
    EXPECT_EQ(presenter.shown.back().pixelColor(0, 0), QColor(Qt::white));
}

TEST_F(TransitionSamplerTest, TheLastSlidePlaysIntoBlackAndAMissingPhotoIsBlack) {
    SampleSource last{true, photo("red.png", Qt::red), ""};
    TransitionSampler sampler(last, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(1);
    sampler.runOnce();
    ASSERT_GE(presenter.shown.size(), 2u);
    EXPECT_EQ(presenter.shown.front().pixelColor(39, 15), QColor(Qt::red));
    EXPECT_EQ(presenter.shown.back().pixelColor(20, 15), QColor(Qt::black));

    presenter.shown.clear();
    SampleSource broken{true, path("missing.jpg"), photo("blue.png", Qt::blue)};
    TransitionSampler second(broken, 40, 30, presenter, sleeper);
    second.setHoveredStyle(4);
    second.runOnce();
    EXPECT_EQ(presenter.shown.front().pixelColor(0, 15), QColor(Qt::black));
    EXPECT_EQ(presenter.shown.back().pixelColor(0, 15), QColor(Qt::blue));
}

TEST_F(TransitionSamplerTest, AnUnknownEffectShowsNothingAndWaitsInsteadOfSpinning) {
    TransitionSampler sampler({}, 40, 30, presenter, sleeper);
    sampler.setHoveredStyle(99);
    EXPECT_EQ(sampler.runOnce(), -1);
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(sleeper.calls, 1);
    EXPECT_EQ(sleeper.total, 700);
}

TEST_F(TransitionSamplerTest, AStopEndsTheLoopAndWakesTheSleeper) {
    InterruptibleSleeper wakeable;
    TransitionSampler sampler({}, 8, 8, presenter, wakeable);
    std::atomic<bool> ended{false};
    std::thread loop([&] {
        sampler.run();
        ended = true;
    });
    sampler.requestStop();
    wakeable.interrupt();
    loop.join();
    EXPECT_TRUE(ended);
    // Once woken, a sleeper no longer waits at all.
    wakeable.sleepMs(1000000);
}

// A slide whose photo moves: the sample wipes from the photo as it moves through the stretch its transition
// covers in the video (from span - transition on, at the video's speed) into the still next photo.
TEST_F(TransitionSamplerTest, AMovingSlideMovesInTheSample) {
    QImage detail(320, 240, QImage::Format_RGB32);
    for (int y = 0; y < detail.height(); ++y)
        for (int x = 0; x < detail.width(); ++x)
            detail.setPixel(x, y, qRgb(x * 255 / 319, y * 255 / 239, ((x / 8 + y / 8) % 2) * 200));
    const std::string photoFile = path("detail.png");
    ASSERT_TRUE(detail.save(QString::fromStdString(photoFile)));

    SampleSource source{true, photoFile, photo("blue.png", Qt::blue)};
    source.currentLook = {{MotionKind::ZoomIn, {}, {}}, {PhotoFit::Fill, true}, 3, 6.0};
    source.transitionSeconds = 2.0;
    source.motionSeed = 7;
    TransitionSampler sampler(source, 48, 36, presenter, sleeper);
    sampler.setHoveredStyle(7);
    ASSERT_EQ(sampler.runOnce(), 7);
    ASSERT_EQ(presenter.shown.size(), 11u);
    EXPECT_EQ(sleeper.total, 10 * 70);

    MovingPhotoRequest request;
    request.path = photoFile;
    request.output = QSize(48, 36);
    request.motion = source.currentLook.motion;
    request.fit = source.currentLook.fit;
    request.seed = 7;
    request.slideIndex = 3;
    request.totalSeconds = 6.0;
    const MovingPhoto moving = MovingPhoto::load(request);
    QImage expected;
    for (std::size_t j = 0; j < presenter.shown.size(); ++j) {
        moving.draw(4.0 + static_cast<double>(j) * 0.07, expected);
        const QImage& frame = presenter.shown[j];
        for (int y = 0; y < 36; ++y) {
            for (int x = 0; x < 48; ++x) {
                if (frame.pixelColor(x, y) == QColor(Qt::blue)) continue;  // copied from the next photo
                ASSERT_EQ(frame.pixel(x, y), expected.pixel(x, y)) << j << " at " << x << "," << y;
            }
        }
    }
    // The wipe's right edge still shows the photo, which has moved between the first and fifth step.
    EXPECT_NE(presenter.shown[0].copy(40, 0, 8, 36), presenter.shown[4].copy(40, 0, 8, 36));
    EXPECT_EQ(presenter.shown.back().pixelColor(0, 0), QColor(Qt::blue));

    // A look on a sample without a project changes nothing: black into white.
    presenter.shown.clear();
    SampleSource none;
    none.currentLook = source.currentLook;
    TransitionSampler plain(none, 40, 30, presenter, sleeper);
    plain.setHoveredStyle(7);
    plain.runOnce();
    EXPECT_EQ(presenter.shown.back().pixelColor(0, 0), QColor(Qt::white));
}

}  // namespace
}  // namespace kestrelle
